// TNMURL's decoding of URL-encoded text.
#include "net/NMURL.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    net::TNMURL decoder;
    int errors = 0;
    decoder.OnError = [&errors](platform::TObject *, const std::string &operation,
                                const std::string &) {
        fuzz::Check(operation == "Error during decode", "the operation's name");
        ++errors;
    };
    decoder.InputString = fuzz::Text(data, size);
    const std::string decoded = decoder.Decode();
    fuzz::Check(errors <= 1, "one error at most");
    if (errors == 1)
        fuzz::Check(decoded == decoder.InputString, "a malformed escape gives the input back");
    fuzz::Check(decoded.size() <= decoder.InputString.size(), "decoding never lengthens");
    // A text without "%" and "+" decodes to itself.
    if (decoder.InputString.find_first_of("%+") == std::string::npos)
        fuzz::Check(decoded == decoder.InputString, "plain text is unchanged");
    return 0;
}
