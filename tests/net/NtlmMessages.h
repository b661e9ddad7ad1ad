#pragma once

// An NTLM client's messages made by hand for the proxy handshake tests against squid.

#include "net/NMHttp.h"
#include "net/ProxyHandshake.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ntlmtest {

inline void Put16(std::string &out, size_t at, size_t value) {
    out[at] = static_cast<char>(value & 0xff);
    out[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

inline void Put32(std::string &out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

inline std::string Utf16(const std::string &ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// The NTLM client's messages for user CORP\alice: the negotiation message, then, given the
// proxy's challenge message, an authentication message (its responses zero: ntlm_fake_auth
// checks no password).
class NtlmMessages final : public net::ProxyHandshake {
  public:
    // The proxy's messages go to `challenges`, as received.
    explicit NtlmMessages(std::vector<std::string> &challenges) : challenges_(challenges) {}

    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        static constexpr uint32_t kUnicode = 0x1, kOem = 0x2, kRequestTarget = 0x4,
                                  kNtlm = 0x200;
        const std::string signature("NTLMSSP\0", 8);
        if (proxyToken.empty()) {
            clientToken = signature + std::string(24, '\0');
            Put32(clientToken, 8, 1);
            Put32(clientToken, 12, kUnicode | kOem | kRequestTarget | kNtlm);
            return true;
        }
        challenges_.push_back(proxyToken);
        if (proxyToken.compare(0, 9, signature + '\x02') != 0)
            return false;
        const std::string fields[] = {std::string(24, '\0'), std::string(24, '\0'),
                                      Utf16("CORP"), Utf16("alice"), Utf16("WS"), ""};
        clientToken = signature + std::string(56, '\0');
        Put32(clientToken, 8, 3);
        size_t offset = clientToken.size();
        for (size_t i = 0; i < 6; ++i) { // LM, NT, domain, user, workstation, session key
            Put16(clientToken, 12 + 8 * i, fields[i].size());
            Put16(clientToken, 14 + 8 * i, fields[i].size());
            Put32(clientToken, 16 + 8 * i, static_cast<uint32_t>(offset));
            offset += fields[i].size();
        }
        Put32(clientToken, 60, kUnicode | kNtlm);
        for (const std::string &field : fields)
            clientToken += field;
        return true;
    }

  private:
    std::vector<std::string> &challenges_;
};

// Aims the client at the proxy on 127.0.0.1:port and answers its NTLM with NtlmMessages, the
// proxy's messages going to `challenges`; `started` counts the handshakes begun.
inline void AnswerNtlm(net::TNMHTTP &client, uint16_t port, std::vector<std::string> &challenges,
                       int &started) {
    client.Proxy = "127.0.0.1";
    client.ProxyPort = port;
    client.TimeOut = 10000;
    client.StartProxyHandshake = [&challenges, &started](const std::string &scheme,
                                                         const std::string &)
        -> std::unique_ptr<net::ProxyHandshake> {
        if (scheme != "NTLM")
            return nullptr;
        ++started;
        return std::make_unique<NtlmMessages>(challenges);
    };
}

} // namespace ntlmtest
