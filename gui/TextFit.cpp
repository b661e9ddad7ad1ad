#include "gui/TextFit.h"

#include <vector>

namespace gui {

namespace {

bool ContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::size_t CharacterCount(const std::string &text) {
    std::size_t count = 0;
    for (char c : text)
        count += !ContinuationByte(c);
    return count;
}

std::string ShortenInMiddle(const std::string &text,
                            const std::function<bool(const std::string &)> &fits) {
    if (fits(text))
        return text;
    // Where each character starts, so that a cut falls between characters.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!ContinuationByte(text[i]))
            starts.push_back(i);
    const std::size_t characters = starts.size();
    auto shortened = [&](std::size_t kept) {
        const std::size_t head = (kept + 1) / 2, tail = kept - head;
        const std::size_t tailStart = tail ? starts[characters - tail] : text.size();
        return text.substr(0, head < characters ? starts[head] : text.size()) + "..." +
               text.substr(tailStart);
    };
    // The most characters kept that still fit: widths grow with what is kept.
    std::size_t low = 0, high = characters ? characters - 1 : 0;
    while (low < high) {
        const std::size_t middle = (low + high + 1) / 2;
        if (fits(shortened(middle)))
            low = middle;
        else
            high = middle - 1;
    }
    return shortened(low);
}

} // namespace gui
