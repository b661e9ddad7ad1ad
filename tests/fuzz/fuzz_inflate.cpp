// The zlib decoder of the text catalogues and the window backend: any bytes decode within the
// bound or are refused, never read or write out of bounds, never hang.
#include "platform/Inflate.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The bound: 1 MB (an input of a few KB can ask for far more).
    constexpr size_t kBound = 1 << 20;
    const std::span<const uint8_t> packed(data, size);
    const std::optional<std::string> unpacked = platform::InflateZlib(packed, kBound);
    if (!unpacked)
        return 0;
    fuzz::Check(unpacked->size() <= kBound, "the data stays within the bound");
    fuzz::Check(platform::InflateZlib(packed, unpacked->size()) == unpacked,
                "a bound of the data's size decodes it alike");
    if (!unpacked->empty())
        fuzz::Check(!platform::InflateZlib(packed, unpacked->size() - 1),
                    "a bound below the data's size refuses it");
    fuzz::Check(!platform::InflateZlib(packed.first(size - 1), kBound),
                "the stream cut short is refused");
    return 0;
}
