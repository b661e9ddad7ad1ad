#include "app/OutputFile.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Failure(const char *what, const std::string &path) {
    return std::string(what) + " \"" + path + "\": " + std::strerror(errno);
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
    {
        File out(std::fopen(outputPath.c_str(), "wb"));
        if (!out)
            error = Failure("Cannot create file", outputPath);
        std::vector<char> block(65535);
        for (; error.empty() && done < pieces.size(); ++done) {
            const std::string &piece = pieces[done];
            File in(std::fopen(piece.c_str(), "rb"));
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
        // Nothing half-written is left behind, neither the output nor the pieces.
        std::error_code ec;
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
