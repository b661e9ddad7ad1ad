// Reading a file into the system's SHA-256 digest.
#include "platform/Sha256.h"

#include "platform/ErrorText.h"

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

std::string FileSha256(const std::string &path, std::string &error,
                       const std::function<bool()> &keepGoing) {
    TSha256 digest;
    if (!digest.Ready()) {
        error = digest.Error();
        return "";
    }
    struct Close {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": " + ErrorNumberText(errno);
        return "";
    }
    // Large reads straight into one buffer: the file was just written, so it is mostly in the
    // system's cache, and the digest, not the copy, sets the pace.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    constexpr size_t kBlock = 1 << 20;
    constexpr size_t kBlocksBetweenChecks = 16;
    std::vector<unsigned char> block(kBlock);
    for (size_t blocks = 0;; ++blocks) {
        if (blocks % kBlocksBetweenChecks == 0 && keepGoing && !keepGoing()) {
            error = "cancelled";
            return "";
        }
        errno = 0;
        const size_t got = std::fread(block.data(), 1, kBlock, file.get());
        if (got < kBlock && std::ferror(file.get())) {
            error = path + ": " + ErrorNumberText(errno ? errno : EIO);
            return "";
        }
        digest.Update(block.data(), got);
        if (got < kBlock)
            break;
    }
    std::string text = digest.Finish();
    if (text.empty())
        error = "the SHA-256 library failed";
    return text;
}

} // namespace platform
