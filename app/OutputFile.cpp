#include "app/OutputFile.h"

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
