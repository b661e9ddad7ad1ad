#pragma once

// Decodes the zlib format (RFC 1950 around RFC 1951 deflate), the form the build packs the
// text catalogues and the window backend in: a small decoder of our own instead of zlib.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

// The data of one zlib stream (no preset dictionary, Adler-32 checked, nothing after it), or
// nothing when the stream is malformed, truncated, or would decode to more than maxSize bytes.
std::optional<std::string> InflateZlib(std::span<const uint8_t> packed, size_t maxSize);

} // namespace platform
