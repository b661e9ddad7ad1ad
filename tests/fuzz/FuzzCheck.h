#pragma once

// What the fuzz targets share: a check that turns a broken property into a crash that
// libFuzzer reports and keeps, and the input as a string.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

inline void Check(bool holds, const char *property) {
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

inline std::string Text(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}

} // namespace fuzz
