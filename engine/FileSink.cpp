#include "engine/FileSink.h"

#include "net/Streams.h"
#include "platform/Catalogue.h"
#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "platform/Sha256.h"

#include <cerrno>
#include <cmath>

namespace engine {
namespace {

using platform::Fill;
using platform::Tr;

std::string Quoted(const std::string &path) {
    return "\"" + path + "\"";
}

// `pattern` (marked with TrKey) filled with the file or folder, quoted, and the system's
// text of `error`.
std::string FileErrorText(const char *pattern, const std::string &path, int error) {
    return Fill(Tr(pattern), {Quoted(path), platform::ErrorNumberText(error)});
}

// TRANSLATORS: %1 is a file, %2 the system's reason.
const char *const kCannotWrite = platform::TrKey("Cannot write to file %1: %2");

Failure FileFailure(int error, const char *pattern, const std::string &path) {
    return Failure{error == ENOSPC ? FailureKind::DiskFull : FailureKind::NotWritable, 0,
                   FileErrorText(pattern, path, error)};
}

} // namespace

FileSink::~FileSink() {
    if (!kept_)
        Discard();
}

std::optional<Failure> FileSink::Open(const std::string &directory, int64_t size) {
    if (int error = file_.CreateIn(directory))
        // TRANSLATORS: %1 is a folder, %2 the system's reason.
        return FileFailure(error, platform::TrKey("Cannot create a file in %1: %2"), directory);
    int64_t free = -1;
    const int error = file_.Reserve(size, free);
    if (error == 0)
        return std::nullopt;
    Failure failure =
        // TRANSLATORS: %1 is a folder, %2 the system's reason.
        FileFailure(error, platform::TrKey("Cannot make room for the file in %1: %2"), directory);
    const std::string quoted = Quoted(directory);
    if (error == ENOSPC && free >= 0)
        // TRANSLATORS: %1 is a folder, %2 and %3 numbers of bytes.
        failure.text = Fill(Tr("There is not enough room in %1: the file needs %2 bytes, and %3 "
                               "bytes are free."),
                            {quoted, std::to_string(size), std::to_string(free)});
    else if (error == ENOSPC)
        // TRANSLATORS: %1 is a folder, %2 a number of bytes.
        failure.text = Fill(Tr("There is not enough room in %1: the file needs %2 bytes."),
                            {quoted, std::to_string(size)});
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
        throw net::EFileStreamError(FileErrorText(kCannotWrite, file_.Path(), error), error);
}

std::optional<Failure> FileSink::Close() {
    if (int error = file_.Close())
        return FileFailure(error, kCannotWrite, file_.Path());
    return std::nullopt;
}

std::optional<Failure> FileSink::Hold() {
    if (int error = file_.HoldForReading())
        // TRANSLATORS: %1 is a file, %2 the system's reason.
        return FileFailure(error, platform::TrKey("Cannot open file %1: %2"), file_.Path());
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
    // TRANSLATORS: %1 is a file, %2 the system's reason.
    failure = FileFailure(error, platform::TrKey("Cannot create file %1: %2"), path);
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
