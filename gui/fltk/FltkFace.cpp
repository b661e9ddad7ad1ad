#include "gui/fltk/FltkFace.h"

#include <fontconfig/fontconfig.h>

#include <cctype>

namespace gui::fltk {
namespace {

constexpr const char *kNarrowFace = "DejaVu Sans Condensed";

// The family fontconfig gives for `family`, and whether it has the characters of `language`.
std::string MatchedFamily(const char *family, const FcChar8 *language, bool &covers) {
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
    if (language)
        FcPatternAddString(pattern, FC_LANG, language);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    std::string name;
    covers = false;
    if (match) {
        FcChar8 *found = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &found) == FcResultMatch)
            name = reinterpret_cast<const char *>(found);
        FcLangSet *languages = nullptr;
        if (language && FcPatternGetLangSet(match, FC_LANG, 0, &languages) == FcResultMatch)
            covers = FcLangSetHasLang(languages, language) != FcLangDifferentLang;
        FcPatternDestroy(match);
    }
    return name;
}

} // namespace

std::string WindowFace(const std::string &language) {
    const std::string narrow = std::string(" ") + kNarrowFace;
    if (language.empty() || language == "en" || !FcInit())
        return narrow;
    // fontconfig writes a territory in lower case after a hyphen: "zh-cn".
    std::string tag;
    for (char c : language)
        tag += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const FcChar8 *lang = reinterpret_cast<const FcChar8 *>(tag.c_str());
    bool covers = false;
    MatchedFamily(kNarrowFace, lang, covers);
    if (covers)
        return narrow;
    const std::string family = MatchedFamily("sans-serif", lang, covers);
    return covers && !family.empty() ? " " + family : narrow;
}

} // namespace gui::fltk
