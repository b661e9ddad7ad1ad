#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// A SHA-256 digest computed by the system's cryptographic library: OpenSSL's libcrypto,
// loaded at the first digest (a run that computes none never maps it), or Windows' CNG.
// Not copyable; one thread at a time.
class TSha256 {
  public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256 &) = delete;
    TSha256 &operator=(const TSha256 &) = delete;

    // Whether the library is at hand; when it is not, Error() says why and Update and Finish
    // do nothing.
    bool Ready() const { return state_ != nullptr; }
    const std::string &Error() const { return error_; }
    void Update(const void *data, size_t size);
    // The digest of everything given, as 64 lower-case hexadecimal digits; "" when not Ready
    // or when the library failed on a part. The object is not used afterwards.
    std::string Finish();

  private:
    void *state_ = nullptr;
    bool failed_ = false; // the library refused a part
    std::string error_;
};

// Lower-case hexadecimal digits of `count` bytes, two per byte.
std::string HexDigits(const unsigned char *bytes, size_t count);

// Reads at most `size` bytes into `data`, the next ones of a source read from its start;
// returns the count (0 at its end) or -1 with `error` set to the error number.
using BlockReader = std::function<int64_t(void *data, size_t size, int &error)>;

// The SHA-256 digest of the bytes `read` gives, in blocks of 1 MiB until it gives 0, as 64
// lower-case hexadecimal digits; or "" with `error` saying why: the source cannot be read
// (`name` and the system's reason), the library is missing, or `keepGoing`, asked before each
// 16 MiB on the calling thread, said no ("cancelled"). The caller may process its messages in
// `keepGoing`.
std::string Sha256Of(const BlockReader &read, const std::string &name, std::string &error,
                     const std::function<bool()> &keepGoing = {});

// The SHA-256 digest of the file at `path`, as Sha256Of gives it.
std::string FileSha256(const std::string &path, std::string &error,
                       const std::function<bool()> &keepGoing = {});

} // namespace platform
