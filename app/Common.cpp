#include "app/Common.h"

#include "platform/ProcessInfo.h"

#include <filesystem>
#include <iostream>
#include <system_error>

std::string ProgramDirectory() {
    std::string path = platform::ProgramPath();
    std::size_t separator = path.find_last_of(platform::PathSeparator());
    if (separator == std::string::npos) {
        // Unknown program path: fall back to the working directory.
        std::error_code error;
        std::string current = std::filesystem::current_path(error).string();
        return current.empty() ? std::string(1, platform::PathSeparator())
                               : current + platform::PathSeparator();
    }
    return path.substr(0, separator + 1);
}

bool IsExistingDirectory(const std::string &path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

void WriteToStandardError(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if ((c == '\n' || c == '\r') && i + 1 < text.size() &&
            (text[i + 1] == '\n' || text[i + 1] == '\r') && text[i + 1] != c)
            ++i; // one line end written as two characters
        out += (c == '\r') ? '\n' : c;
    }
    std::cerr << out << '\n';
}
