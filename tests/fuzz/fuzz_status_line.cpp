// The status line of a response head as the head reader reads it (the input is the first
// line), and the small field readers (splitting at a separator, a strict integer).
#include "net/NMHttpParse.h"
#include "net/Psock.h"
#include "net/ResponseHead.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The first line of the input, without its end.
    std::string line = fuzz::Text(data, size);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const net::ParsedHead parsed = net::ParseResponseHead(line + "\r\n\r\n");
    const net::ResponseHead &head = parsed.head;
    if (parsed.error == net::HeadError::None) {
        fuzz::Check(line.rfind("HTTP/1.", 0) == 0, "only an HTTP/1.x line is read");
        fuzz::Check(head.status >= 100 && head.status <= 999, "a status of three digits");
        fuzz::Check(line.find(std::to_string(head.status)) != std::string::npos,
                    "the status's digits are in the line");
        fuzz::Check(line.size() >= head.reason.size() &&
                        line.compare(line.size() - head.reason.size(), std::string::npos,
                                     head.reason) == 0,
                    "the reason ends the line");
    } else {
        fuzz::Check(head.status == 0 || parsed.error != net::HeadError::BadStatus,
                    "no status from a line without one");
    }
    for (int n = 1; n <= 4; ++n) {
        const int at = net::NthCharPos(line, ' ', n);
        fuzz::Check(at >= 1 && static_cast<size_t>(at) <= line.size() + 1, "a position in range");
        fuzz::Check(net::NthField(line, ' ', n).size() <= line.size(), "a field within the line");
    }
    try {
        const int64_t value = net::StrictInteger(line);
        fuzz::Check(std::to_string(value) == line || line[0] == '+' || line[0] == '0' ||
                        line.rfind("-0", 0) == 0,
                    "a strict integer is its own decimal text");
    } catch (const net::ESockError &) {
    }
    return 0;
}
