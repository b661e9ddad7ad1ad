#pragma once

#include <functional>
#include <string>

namespace gui {

// The text as it fits a width: unchanged when `fits` accepts it, else shortened in the middle
// with "..." (the start and the end of a long file name or path both stay readable), as long
// as `fits` accepts; at least "..." alone. The cut never splits a UTF-8 character. `fits` says
// whether a text fits: by pixels in a window, by columns on a terminal.
std::string ShortenInMiddle(const std::string &text,
                            const std::function<bool(const std::string &)> &fits);

// The number of characters (UTF-8 code points) of a text: its width on a terminal.
std::size_t CharacterCount(const std::string &text);

} // namespace gui
