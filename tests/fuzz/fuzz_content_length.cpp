// The Content-Length of a response head whose header lines are the input: one number that
// every Content-Length line agrees on, or none.
#include "net/ResponseHead.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const net::ParsedHead parsed =
        net::ParseResponseHead("HTTP/1.1 200 OK\r\n" + fuzz::Text(data, size) + "\r\n\r\n");
    if (parsed.error != net::HeadError::None)
        return 0;
    const net::ResponseHead &head = parsed.head;
    const std::vector<std::string> values = head.Values("Content-Length");
    bool malformed = false, differ = false;
    for (const std::string &value : values) {
        const int64_t length = net::ContentLengthValue(value);
        fuzz::Check(length >= -1, "a length is -1 or a number");
        if (length >= 0)
            fuzz::Check(value.find(std::to_string(length)) != std::string::npos,
                        "a length's digits are its value's");
        malformed = malformed || length < 0;
        differ = differ || length != net::ContentLengthValue(values.front());
    }
    const net::LengthState expected = values.empty() ? net::LengthState::None
                                      : malformed    ? net::LengthState::Malformed
                                      : differ       ? net::LengthState::Conflicting
                                                     : net::LengthState::Given;
    fuzz::Check(head.lengthState == expected, "the state says how the lines went");
    fuzz::Check(head.contentLength ==
                    (expected == net::LengthState::Given ? net::ContentLengthValue(values[0]) : -1),
                "the length is the lines' one number");
    return 0;
}
