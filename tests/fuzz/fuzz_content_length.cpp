// The reading of a response's Content-Length line (as the header reader hands it over:
// upper-cased, with its line end).
#include "net/NMHttpParse.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line = net::UpperCase(fuzz::Text(data, size));
    const int64_t length = net::ContentLengthOf(line);
    fuzz::Check(length >= 0, "a length is never negative");
    // A length comes from a run of digits in the line, after "ENGTH:".
    if (length > 0) {
        const size_t marker = line.find("ENGTH:");
        fuzz::Check(marker != std::string::npos, "a length needs the marker");
        fuzz::Check(line.find(std::to_string(length), marker) != std::string::npos,
                    "the length's digits are in the line after the marker");
    }
    return 0;
}
