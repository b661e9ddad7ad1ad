#pragma once

#include <string>

namespace gui::fltk {

// The face of the windows' texts, as FLTK names it (a leading space: the regular style): a
// narrow sans-serif face, close to the classic dialog font, when it has the characters of the
// language (a code such as "de" or "zh_CN"); else the sans-serif face fontconfig gives for that
// language (Chinese, Japanese and Korean need one of their own).
std::string WindowFace(const std::string &language);

} // namespace gui::fltk
