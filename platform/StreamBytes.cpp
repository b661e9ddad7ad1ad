#include "platform/StreamBytes.h"

namespace platform {

void WriteBytes(std::FILE *stream, const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool ReadByteLine(std::FILE *stream, std::string &line) {
    line.clear();
    for (int c; (c = std::fgetc(stream)) != EOF;) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        line += static_cast<char>(c);
    }
    return !line.empty();
}

} // namespace platform
