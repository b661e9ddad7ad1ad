// A proxy's Proxy-Authenticate values as the challenge parser reads them, and base64 as the
// handshake decodes the proxy's tokens: any text.
#include "net/NMUUE.h"
#include "net/ProxyChallenge.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text = fuzz::Text(data, size);
    for (const net::ProxyChallengeEntry &entry : net::ChallengesOf(text)) {
        fuzz::Check(!entry.scheme.empty(), "a challenge has a scheme");
        fuzz::Check(text.find(entry.scheme) != std::string::npos, "the scheme is in the text");
        fuzz::Check(entry.scheme.find_first_of(" \t,=\"") == std::string::npos,
                    "a scheme is one token");
        const auto found = net::ChallengeFor(text, entry.scheme);
        fuzz::Check(found.has_value(), "a challenge is found by its scheme");
    }
    const std::string realm = net::ChallengeRealm(text);
    fuzz::Check(realm.size() <= 103, "a realm shown is short");
    for (char c : realm)
        fuzz::Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, "no control character");
    if (const auto bytes = net::Base64Bytes(text)) {
        fuzz::Check(bytes->size() <= text.size() * 3 / 4, "decoding never grows");
        const auto again = net::Base64Bytes(net::Base64Line(*bytes));
        fuzz::Check(again.has_value() && *again == *bytes, "the bytes read back as written");
    }
    // Written and read back, any bytes stay what they are.
    const auto back = net::Base64Bytes(net::Base64Line(text));
    fuzz::Check(back.has_value() && *back == text, "any bytes survive base64");
    return 0;
}
