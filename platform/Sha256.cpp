// Reading a file into the system's SHA-256 digest.
#include "platform/Sha256.h"

#include "platform/Catalogue.h"
#include "platform/ErrorText.h"
#include "platform/PlainFile.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace platform {

std::string HexDigits(const unsigned char *bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

std::string Sha256Of(const BlockReader &read, const std::string &name, std::string &error,
                     const std::function<bool()> &keepGoing) {
    TSha256 digest;
    if (!digest.Ready()) {
        error = digest.Error();
        return "";
    }
    constexpr size_t kBlock = 1 << 20;
    constexpr size_t kBlocksBetweenChecks = 16;
    std::vector<unsigned char> block(kBlock);
    for (size_t blocks = 0;; ++blocks) {
        if (blocks % kBlocksBetweenChecks == 0 && keepGoing && !keepGoing()) {
            error = "cancelled";
            return "";
        }
        int failed = 0;
        const int64_t got = read(block.data(), kBlock, failed);
        if (got < 0) {
            error = name + ": " + ErrorNumberText(failed);
            return "";
        }
        if (got == 0)
            break;
        digest.Update(block.data(), static_cast<size_t>(got));
    }
    std::string text = digest.Finish();
    if (text.empty())
        error = Tr("the SHA-256 library failed");
    return text;
}

std::string FileSha256(const std::string &path, std::string &error,
                       const std::function<bool()> &keepGoing) {
    struct Close {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> file(OpenFileForReading(path));
    if (!file) {
        error = path + ": " + ErrorNumberText(errno);
        return "";
    }
    // Large reads straight into one buffer: the file was just written, so it is mostly in the
    // system's cache, and the digest, not the copy, sets the pace.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    const BlockReader read = [&file](void *data, size_t size, int &failed) -> int64_t {
        errno = 0;
        const size_t got = std::fread(data, 1, size, file.get());
        if (got < size && std::ferror(file.get())) {
            failed = errno ? errno : EIO;
            return -1;
        }
        return static_cast<int64_t>(got);
    };
    return Sha256Of(read, path, error, keepGoing);
}

} // namespace platform
