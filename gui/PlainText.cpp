#include "gui/PlainText.h"

namespace gui {

std::string PlainLineEnds(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if ((c == '\r' || c == '\n') && i + 1 < text.size() &&
            (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c)
            ++i; // one line end written as two characters
        out += (c == '\r') ? '\n' : c;
    }
    return out;
}

std::string Printable(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            out += '?';
            ++i;
        } else if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7F) {
            out += '?';
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace gui
