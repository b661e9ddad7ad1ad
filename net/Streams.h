#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace net {

// A file that could not be created, opened, written or read; the message names the file and
// the system's reason, and the error number (an errno value; 0 when there is none) tells it
// to callers that decide by it (ENOSPC: the disk is full).
class EFileStreamError : public std::runtime_error {
  public:
    explicit EFileStreamError(const std::string &message, int error = 0)
        : std::runtime_error(message), error_(error) {}
    int Error() const { return error_; }

  private:
    int error_;
};

// A byte stream with a position: the socket component's send and receive queues are memory
// streams, and a capture or a file send swaps in a file stream.
class TStream {
  public:
    virtual ~TStream() = default;
    // Writes n bytes at the position and moves past them; throws EFileStreamError on failure.
    virtual void Write(const char *data, size_t n) = 0;
    // Reads at most n bytes from the position; returns the count (0 at the end).
    virtual size_t Read(char *data, size_t n) = 0;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void Seek(int64_t position) = 0;
    void SeekEnd() { Seek(Size()); }
};

class TMemoryStream final : public TStream {
  public:
    void Write(const char *data, size_t n) override;
    size_t Read(char *data, size_t n) override;
    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    int64_t Position() const override { return pos_; }
    void Seek(int64_t position) override { pos_ = position; }

    const char *Data() const { return data_.data(); }
    std::string &Bytes() { return data_; }
    // Empties the stream.
    void Clear() {
        data_.clear();
        pos_ = 0;
    }

  private:
    std::string data_;
    int64_t pos_ = 0;
};

// Takes every byte and keeps none (a body nobody needs).
class TNullStream final : public TStream {
  public:
    void Write(const char *, size_t n) override { size_ += static_cast<int64_t>(n); }
    size_t Read(char *, size_t) override { return 0; }
    int64_t Size() const override { return size_; }
    int64_t Position() const override { return size_; }
    void Seek(int64_t) override {}

  private:
    int64_t size_ = 0;
};

class TFileStream final : public TStream {
  public:
    enum class Mode { Create, OpenRead };
    // Create makes the file anew, readable and writable by its owner only; an existing one is
    // emptied when it is a regular file of this user without other links, and refused
    // otherwise (a symbolic link, a hard link, a pipe or device, another user's file), so
    // nothing is written through a name planted in a shared folder. OpenRead opens the file
    // for reading. Throws EFileStreamError when that fails.
    TFileStream(const std::string &fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;

    void Write(const char *data, size_t n) override;
    size_t Read(char *data, size_t n) override;
    int64_t Size() const override;
    int64_t Position() const override { return pos_; }
    void Seek(int64_t position) override;

  private:
    // Throws the failure of the last call: `pattern` (marked with TrKey, places %1 for the
    // file and %2 for the reason) in the user's language.
    [[noreturn]] void Fail(const char *pattern) const;

    std::string name_;
    std::FILE *file_ = nullptr;
    int64_t pos_ = 0;
};

} // namespace net
