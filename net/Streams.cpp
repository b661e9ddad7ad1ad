#include "net/Streams.h"
#include "platform/Catalogue.h"
#include "platform/ErrorText.h"

#include "platform/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdio.h>

namespace net {

void TMemoryStream::Write(const char *data, size_t n) {
    auto pos = static_cast<size_t>(pos_);
    if (pos == data_.size())
        data_.append(data, n);
    else {
        if (pos + n > data_.size())
            data_.resize(pos + n);
        std::memcpy(data_.data() + pos, data, n);
    }
    pos_ += static_cast<int64_t>(n);
}

size_t TMemoryStream::Read(char *data, size_t n) {
    auto pos = static_cast<size_t>(pos_);
    if (pos >= data_.size())
        return 0;
    n = std::min(n, data_.size() - pos);
    std::memcpy(data, data_.data() + pos, n);
    pos_ += static_cast<int64_t>(n);
    return n;
}

TFileStream::TFileStream(const std::string &fileName, Mode mode) : name_(fileName) {
    if (mode == Mode::Create) {
        // A new file is readable by its owner only; an existing one is taken only when it is
        // a plain file of this user with no other name, so that nothing planted under the
        // name (a symbolic link, a hard link, a pipe) is written through.
        int error = 0;
        bool notPlain = false;
        file_ = platform::CreatePlainFile(fileName, error, notPlain);
        if (notPlain)
            throw EFileStreamError(
                // TRANSLATORS: %1 is a file.
                platform::Fill(platform::Tr("Cannot create file %1: it is not a plain file of "
                                            "this user"),
                               {"\"" + fileName + "\""}),
                EPERM);
        if (!file_) {
            errno = error;
            Fail(platform::TrKey("Cannot create file %1: %2"));
        }
    } else {
        file_ = platform::OpenFileForReading(fileName);
        if (!file_)
            Fail(platform::TrKey("Cannot open file %1: %2"));
        // Chunks are read whole; a stdio buffer would only add a copy.
        std::setvbuf(file_, nullptr, _IONBF, 0);
    }
}

TFileStream::~TFileStream() {
    if (file_)
        std::fclose(file_);
}

void TFileStream::Fail(const char *pattern) const {
    const int error = errno;
    throw EFileStreamError(platform::Fill(platform::Tr(pattern),
                                          {"\"" + name_ + "\"", platform::ErrorNumberText(error)}),
                           error);
}

void TFileStream::Write(const char *data, size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, file_) != n)
        Fail(platform::TrKey("Cannot write to file %1: %2"));
    pos_ += static_cast<int64_t>(n);
}

size_t TFileStream::Read(char *data, size_t n) {
    size_t got = std::fread(data, 1, n, file_);
    if (got < n && std::ferror(file_))
        // TRANSLATORS: %1 is a file, %2 the system's reason.
        Fail(platform::TrKey("Cannot read file %1: %2"));
    pos_ += static_cast<int64_t>(got);
    return got;
}

// The 64-bit forms: a long is 32 bits on Windows, and files of 2 GiB and more are common.
int64_t TFileStream::Size() const {
    const int64_t here = ftello64(file_);
    fseeko64(file_, 0, SEEK_END);
    const int64_t size = ftello64(file_);
    fseeko64(file_, here, SEEK_SET);
    return size;
}

void TFileStream::Seek(int64_t position) {
    if (fseeko64(file_, position, SEEK_SET) != 0)
        // TRANSLATORS: %1 is a file, %2 the system's reason.
        Fail(platform::TrKey("Cannot seek in file %1: %2"));
    pos_ = position;
}

} // namespace net
