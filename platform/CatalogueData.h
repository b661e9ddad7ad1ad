#pragma once

// The compiled catalogues (generated from po/*.po at build time by scripts/compile-catalogue).

#include <cstddef>
#include <cstdint>

namespace platform::catalogue {

// The FNV-1a hashes of the English texts, ascending; a text's index is its hash's place.
extern const uint32_t kKeyHashes[];
extern const size_t kKeyCount;

struct Language {
    const char *code;             // "de", "pt_BR"
    const unsigned char *packed;  // zlib: each key's translation in index order, each ended by
                                  // a NUL (an empty one: no translation)
    size_t packedSize;
    size_t size;                  // the bytes unpacked
};
extern const Language kLanguages[];
extern const size_t kLanguageCount;

// The one language of a program built for one (empty: the system's).
extern const char *const kBuiltLanguage;

constexpr uint32_t KeyHash(const char *text) {
    uint32_t hash = 2166136261u;
    for (; *text; ++text)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

} // namespace platform::catalogue
