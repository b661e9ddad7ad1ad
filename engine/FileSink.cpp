#include "engine/FileSink.h"

#include "net/Streams.h"
#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "platform/Sha256.h"

#include <cerrno>
#include <cmath>

namespace engine {
namespace {

Failure FileFailure(int error, const std::string &text) {
    return Failure{error == ENOSPC ? FailureKind::DiskFull : FailureKind::NotWritable, 0,
                   text + ": " + platform::ErrorNumberText(error)};
}

std::string Quoted(const std::string &path) {
    return "\"" + path + "\"";
}

} // namespace

FileSink::~FileSink() {
    if (!kept_)
        Discard();
}

std::optional<Failure> FileSink::Open(const std::string &directory, int64_t size) {
    if (int error = file_.CreateIn(directory))
        return FileFailure(error, "Cannot create a file in " + Quoted(directory));
    int64_t free = -1;
    const int error = file_.Reserve(size, free);
    if (error == 0)
        return std::nullopt;
    Failure failure = FileFailure(error, "Cannot make room for the file in " + Quoted(directory));
    if (error == ENOSPC)
        failure.text = "There is not enough room in " + Quoted(directory) + ": the file needs " +
                       std::to_string(size) + " bytes" +
                       (free >= 0 ? ", and " + std::to_string(free) + " bytes are free." : ".");
    Discard();
    return failure;
}

int FileSink::OpenKept(const std::string &path, int64_t size) {
    if (int error = file_.OpenExisting(path))
        return error;
    if (file_.Size() != size) {
        file_.Remove(); // not the file's length: no later run can use it either
        return EINVAL;
    }
    return 0;
}

void FileSink::WriteAt(const char *data, size_t size, int64_t offset) {
    if (int error = file_.WriteAt(data, size, offset))
        throw net::EFileStreamError("Cannot write to file " + Quoted(file_.Path()) + ": " +
                                        platform::ErrorNumberText(error),
                                    error);
}

std::optional<Failure> FileSink::Close() {
    if (int error = file_.Close())
        return FileFailure(error, "Cannot write to file " + Quoted(file_.Path()));
    return std::nullopt;
}

std::optional<Failure> FileSink::Hold() {
    if (int error = file_.HoldForReading())
        return FileFailure(error, "Cannot open file " + Quoted(file_.Path()));
    return std::nullopt;
}

int64_t FileSink::Size() const { return file_.Size(); }

std::string FileSink::Sha256(std::string &error, const std::function<bool()> &keepGoing) {
    int64_t offset = 0;
    const platform::BlockReader read = [this, &offset](void *data, size_t size, int &failed) {
        const int64_t got = file_.ReadAt(data, size, offset, failed);
        offset += got > 0 ? got : 0;
        return got;
    };
    return platform::Sha256Of(read, file_.Path(), error, keepGoing);
}

int FileSink::MoveTo(const std::string &path, bool replace, Failure &failure) {
    int error = file_.MoveTo(path, replace);
    if (error == EXDEV) {
        // Another file system (the output folder was changed during the download): the bytes
        // are copied, then the working file goes. A copy that fails takes back what it made.
        if (!replace && platform::PathExists(path)) {
            error = EEXIST;
        } else {
            error = platform::CopyFileTo(file_.Path(), path);
            if (error == 0)
                file_.Remove();
        }
    }
    if (error == 0) {
        kept_ = true;
        return 0;
    }
    failure = FileFailure(error, "Cannot create file " + Quoted(path));
    return error;
}

void FileSink::Keep() {
    file_.Close();
    kept_ = true;
}

void FileSink::Discard() {
    if (!file_.Path().empty())
        file_.Remove();
}

bool SetFileDate(const std::string &path, double dateTime) {
    return platform::SetModificationTime(path, std::llround((dateTime - 25569.0) * 86400.0));
}

} // namespace engine
