#include "engine/FileSink.h"

#include "net/Streams.h"
#include "platform/ErrorText.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>

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

int64_t FileSink::Size() const {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file_.Path(), ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

int FileSink::MoveTo(const std::string &path, bool replace, Failure &failure) {
    int error = file_.MoveTo(path, replace);
    if (error == EXDEV) {
        // Another file system (the output folder was changed during the download): the bytes
        // are copied, then the working file goes. A copy that fails takes back what it made.
        namespace fs = std::filesystem;
        std::error_code ec;
        const bool existed = fs::exists(fs::symlink_status(path, ec));
        if (existed && !replace) {
            error = EEXIST;
        } else if (fs::copy_file(file_.Path(), path, fs::copy_options::overwrite_existing, ec)) {
            file_.Remove();
            error = 0;
        } else {
            error = ec.value() ? ec.value() : EIO;
            if (!existed)
                fs::remove(path, ec);
        }
    }
    if (error == 0) {
        kept_ = true;
        return 0;
    }
    failure = FileFailure(error, "Cannot create file " + Quoted(path));
    return error;
}

void FileSink::Discard() {
    if (!file_.Path().empty())
        file_.Remove();
}

bool SetFileDate(const std::string &path, double dateTime) {
    using namespace std::chrono;
    const double unixSeconds = (dateTime - 25569.0) * 86400.0;
    const auto when = sys_seconds(seconds(std::llround(unixSeconds)));
    std::error_code ec;
    std::filesystem::last_write_time(path, file_clock::from_sys(when), ec);
    return !ec;
}

} // namespace engine
