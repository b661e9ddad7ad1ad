// The status line and field readers of a response: the status number, the line without its
// terminator and the field splitting they use.
#include "net/NMHttpParse.h"
#include "net/Psock.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line = fuzz::Text(data, size);
    const int16_t status = net::StatusNumberOf(line);
    fuzz::Check(status >= 0, "a status number is never negative");
    const std::string bare = net::WithoutTerminator(line);
    fuzz::Check(line.compare(0, bare.size(), bare) == 0, "the line starts with its bare text");
    fuzz::Check(line.size() - bare.size() <= 2, "at most CR LF is cut");
    if (status > 0)
        fuzz::Check(std::stoll(net::NthField(bare, ' ', 2)) == status,
                    "the status is the second field's number");
    for (int n = 1; n <= 4; ++n) {
        const int at = net::NthCharPos(bare, ' ', n);
        fuzz::Check(at >= 1 && static_cast<size_t>(at) <= bare.size() + 1, "a position in range");
    }
    try {
        const int64_t value = net::StrictInteger(bare);
        fuzz::Check(std::to_string(value) == bare || bare[0] == '+' || bare[0] == '0' ||
                        bare.rfind("-0", 0) == 0,
                    "a strict integer is its own decimal text");
    } catch (const net::ESockError &) {
    }
    return 0;
}
