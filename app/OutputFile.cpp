#include "app/OutputFile.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Failure(const char *what, const std::string &path) {
    return std::string(what) + " \"" + path + "\": " + std::strerror(errno);
}

// Opens the output file to be written anew, never through a symbolic link planted under its
// name and never a pipe or device (whose open could wait for ever): a plain file is created
// or emptied. nullptr with errno set otherwise (ELOOP for a link, EPERM for another kind of
// file).
File CreateOutput(const std::string &path) {
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EPERM;
        return nullptr;
    }
    if (::ftruncate(fd, 0) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    File file(::fdopen(fd, "wb"));
    if (!file)
        ::close(fd);
    return file;
}

// Opens a piece for reading, not through a symbolic link.
File OpenPiece(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    File file(::fdopen(fd, "rb"));
    if (!file)
        ::close(fd);
    return file;
}

void RemoveAll(const std::vector<std::string> &paths, size_t from) {
    std::error_code ec;
    for (size_t i = from; i < paths.size(); ++i)
        std::filesystem::remove(paths[i], ec);
}

} // namespace

std::string OutputFilePath(const std::string &directory, const std::string &fileName,
                           bool overrideFile,
                           const std::function<bool(const std::string &)> &exists) {
    std::string path = directory + fileName;
    if (overrideFile)
        return path;
    const size_t dot = fileName.rfind('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : fileName.substr(dot);
    for (long n = 1; exists(path); ++n)
        path = directory + base + "_" + std::to_string(n) + extension;
    return path;
}

std::string JoinPieces(const std::string &outputPath, const std::vector<std::string> &pieces) {
    std::string error;
    size_t done = 0;
    bool created = false;
    {
        File out = CreateOutput(outputPath);
        created = out != nullptr;
        if (!out && (errno == ELOOP || errno == EPERM))
            error = "Cannot create file \"" + outputPath + "\": it is not a plain file";
        else if (!out)
            error = Failure("Cannot create file", outputPath);
        std::vector<char> block(65535);
        for (; error.empty() && done < pieces.size(); ++done) {
            const std::string &piece = pieces[done];
            File in = OpenPiece(piece);
            if (!in) {
                error = Failure("Cannot open file", piece);
                break;
            }
            size_t n;
            while (error.empty() && (n = std::fread(block.data(), 1, block.size(), in.get())) > 0)
                if (std::fwrite(block.data(), 1, n, out.get()) != n)
                    error = Failure("Cannot write to file", outputPath);
            if (error.empty() && std::ferror(in.get()))
                error = Failure("Cannot read file", piece);
            if (!error.empty())
                break;
            in.reset();
            std::remove(piece.c_str());
        }
        if (out && std::fclose(out.release()) != 0 && error.empty())
            error = Failure("Cannot write to file", outputPath);
    }
    if (!error.empty()) {
        // Nothing half-written is left behind, neither the output nor the pieces; what was
        // under the name and could not be opened is not ours to remove.
        std::error_code ec;
        if (created)
            std::filesystem::remove(outputPath, ec);
        RemoveAll(pieces, done);
    }
    return error;
}

int64_t FileSize(const std::string &path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

bool SetFileDate(const std::string &path, double dateTime) {
    using namespace std::chrono;
    const double unixSeconds = (dateTime - 25569.0) * 86400.0;
    const auto when = sys_seconds(seconds(std::llround(unixSeconds)));
    std::error_code ec;
    std::filesystem::last_write_time(path, file_clock::from_sys(when), ec);
    return !ec;
}
