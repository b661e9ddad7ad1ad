#include "net/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    file_ = std::fopen(fileName.c_str(), mode == Mode::Create ? "w+b" : "rb");
    if (!file_)
        Fail(mode == Mode::Create ? "Cannot create file" : "Cannot open file");
    // Chunks are written whole; a stdio buffer would only add a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

TFileStream::~TFileStream() {
    if (file_)
        std::fclose(file_);
}

void TFileStream::Fail(const char *what) const {
    throw EFileStreamError(std::string(what) + " \"" + name_ + "\": " + std::strerror(errno));
}

void TFileStream::Write(const char *data, size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, file_) != n)
        Fail("Cannot write to file");
    pos_ += static_cast<int64_t>(n);
}

size_t TFileStream::Read(char *data, size_t n) {
    size_t got = std::fread(data, 1, n, file_);
    if (got < n && std::ferror(file_))
        Fail("Cannot read file");
    pos_ += static_cast<int64_t>(got);
    return got;
}

int64_t TFileStream::Size() const {
    long here = std::ftell(file_);
    std::fseek(file_, 0, SEEK_END);
    long size = std::ftell(file_);
    std::fseek(file_, here, SEEK_SET);
    return size;
}

void TFileStream::Seek(int64_t position) {
    if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0)
        Fail("Cannot seek in file");
    pos_ = position;
}

} // namespace net
