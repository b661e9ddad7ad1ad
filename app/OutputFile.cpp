#include "app/OutputFile.h"

#include "platform/ErrorText.h"
#include "platform/FileJoin.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

std::string Failure(const char *what, const std::string &path, int code) {
    return std::string(what) + " \"" + path + "\": " + platform::ErrorNumberText(code);
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

std::string JoinPieces(const std::string &outputPath, const std::vector<std::string> &pieces,
                       const std::function<bool()> &keepGoing) {
    std::string error;
    size_t done = 0;
    bool owned = false;
    {
        platform::TFileJoin out;
        out.SetKeepGoing(keepGoing);
        // The first piece becomes the start of the file where it can simply be moved there.
        bool taken = false;
        int created = pieces.empty() ? out.Create(outputPath)
                                     : out.CreateFrom(outputPath, pieces.front(), taken);
        if (created == ELOOP || created == EPERM)
            error = "Cannot create file \"" + outputPath + "\": it is not a plain file";
        else if (created)
            error = Failure("Cannot create file", outputPath, created);
        if (taken)
            done = 1;
        for (; error.empty() && done < pieces.size(); ++done) {
            const std::string &piece = pieces[done];
            bool readFailed = false;
            if (int code = out.Append(piece, readFailed)) {
                error = readFailed ? Failure("Cannot read file", piece, code)
                                   : Failure("Cannot write to file", outputPath, code);
                break;
            }
            std::remove(piece.c_str());
        }
        if (int code = out.Close(); code && error.empty())
            error = Failure("Cannot write to file", outputPath, code);
        owned = out.Owned();
    }
    if (!error.empty()) {
        // Nothing half-written is left behind, neither the output nor the pieces; what was
        // under the name and could not be opened is not ours to remove.
        std::error_code ec;
        if (owned)
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
