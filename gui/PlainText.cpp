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

} // namespace gui
