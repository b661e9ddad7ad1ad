#include "platform/Catalogue.h"

#include "platform/CatalogueData.h"
#include "platform/Inflate.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

std::string &ChosenLanguage() {
    static std::string code = "en";
    return code;
}

// The chosen catalogue unpacked, and each key's translation in it (nullptr: none).
std::string &Unpacked() {
    static std::string bytes;
    return bytes;
}
std::vector<const char *> &Translations() {
    static std::vector<const char *> texts;
    return texts;
}

bool Unpack(const catalogue::Language &language) {
    std::optional<std::string> unpacked =
        InflateZlib({language.packed, language.packedSize}, language.size);
    if (!unpacked || unpacked->size() != language.size)
        return false;
    std::string &bytes = *unpacked;
    std::vector<const char *> texts;
    texts.reserve(catalogue::kKeyCount);
    size_t at = 0;
    while (texts.size() < catalogue::kKeyCount && at < bytes.size()) {
        const size_t end = bytes.find('\0', at);
        if (end == std::string::npos)
            return false;
        texts.push_back(end == at ? nullptr : bytes.data() + at);
        at = end + 1;
    }
    if (texts.size() != catalogue::kKeyCount)
        return false;
    // The pointers stay valid: the string's buffer moves with it.
    Unpacked() = std::move(bytes);
    Translations() = std::move(texts);
    return true;
}

// A locale's name split into its language (lower case) and its region or script (as written):
// "de_DE.UTF-8" is de and DE, "zh-Hant-TW" is zh and Hant-TW.
struct LocaleName {
    std::string language, rest;
};
LocaleName SplitLocaleName(std::string_view name) {
    name = name.substr(0, std::min(name.find('.'), name.find('@')));
    const size_t cut = name.find_first_of("_-");
    LocaleName split;
    for (char c : name.substr(0, cut))
        split.language += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (cut != std::string_view::npos)
        split.rest = std::string(name.substr(cut + 1));
    return split;
}

// Whether a catalogue serves a locale of its language: Brazilian Portuguese serves every
// Portuguese locale, Simplified Chinese every Chinese one but those written in Traditional
// characters (Taiwan, Hong Kong, Macau).
bool Serves(const LocaleName &catalogue, const LocaleName &locale) {
    if (catalogue.language != locale.language)
        return false;
    if (locale.language != "zh")
        return true;
    std::string rest;
    for (char c : locale.rest)
        rest += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char *traditional : {"TW", "HK", "MO", "HANT"})
        if (rest.find(traditional) != std::string::npos)
            return false;
    return true;
}

} // namespace

const char *Tr(const char *english) {
    const std::vector<const char *> &texts = Translations();
    if (texts.empty())
        return english;
    const uint32_t hash = catalogue::KeyHash(english);
    const uint32_t *end = catalogue::kKeyHashes + catalogue::kKeyCount;
    const uint32_t *found = std::lower_bound(catalogue::kKeyHashes, end, hash);
    if (found == end || *found != hash)
        return english;
    const char *text = texts[static_cast<size_t>(found - catalogue::kKeyHashes)];
    return text ? text : english;
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        const size_t place = static_cast<size_t>(next - '1');
        if (pattern[i] == '%' && next >= '1' && next <= '9' && place < values.size()) {
            out += *(values.begin() + place);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string ChooseTextLanguage(std::string_view name) {
    const LocaleName locale = SplitLocaleName(name);
    const catalogue::Language *best = nullptr;
    for (size_t i = 0; i < catalogue::kLanguageCount; ++i) {
        const catalogue::Language &language = catalogue::kLanguages[i];
        const LocaleName code = SplitLocaleName(language.code);
        if (!Serves(code, locale))
            continue;
        // The catalogue of the locale's own region before another of its language.
        if (!best || code.rest == locale.rest)
            best = &language;
    }
    Translations().clear();
    Unpacked().clear();
    ChosenLanguage() = "en";
    if (best && Unpack(*best))
        ChosenLanguage() = best->code;
    return ChosenLanguage();
}

const std::string &TextLanguage() {
    return ChosenLanguage();
}

std::vector<std::string> TextLanguages() {
    std::vector<std::string> codes{"en"};
    for (size_t i = 0; i < catalogue::kLanguageCount; ++i)
        codes.emplace_back(catalogue::kLanguages[i].code);
    return codes;
}

} // namespace platform
