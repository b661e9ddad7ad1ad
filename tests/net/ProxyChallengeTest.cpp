// The challenges of a proxy's Proxy-Authenticate values, and base64 read back into bytes.
#include "net/NMUUE.h"
#include "net/ProxyChallenge.h"

#include <gtest/gtest.h>

using net::Base64Bytes;
using net::ChallengeFor;
using net::ChallengeRealm;
using net::ChallengeSchemes;
using net::ChallengesOf;

namespace {

std::string Schemes(const std::string &challenge) {
    std::string text;
    for (const auto &entry : ChallengesOf(challenge))
        text += (text.empty() ? "" : " | ") + entry.scheme + "[" + entry.rest + "]";
    return text;
}

} // namespace

TEST(ProxyChallenge, SchemesAreTokensThatNoEqualsSignFollows) {
    const std::pair<const char *, const char *> rows[] = {
        {"Basic realm=\"corp\"", "Basic[realm=\"corp\"]"},
        {"NTLM, Basic realm=\"corp\"", "NTLM[] | Basic[realm=\"corp\"]"},
        {"Negotiate, NTLM", "Negotiate[] | NTLM[]"},
        // A token of its own, padding included, is no parameter.
        {"NTLM TlRMTVNTUAACAAAA==", "NTLM[TlRMTVNTUAACAAAA==]"},
        // Commas inside quotes, escaped quotes, and parameters after a comma stay with their
        // challenge.
        {"Basic realm=\"a, b\", charset=\"UTF-8\", NTLM",
         "Basic[realm=\"a, b\", charset=\"UTF-8\"] | NTLM[]"},
        {"Digest realm=\"x\\\", NTLM y\", nonce = \"1\"", "Digest[realm=\"x\\\", NTLM y\", nonce = \"1\"]"},
        {"  ntlm  ,  , basic realm=x ", "ntlm[] | basic[realm=x]"},
        {"", ""},
        {", ,", ""},
        {"realm=\"orphan\"", ""},
    };
    for (const auto &[challenge, expected] : rows)
        EXPECT_EQ(Schemes(challenge), expected) << challenge;
}

TEST(ProxyChallenge, AChallengeIsFoundByItsSchemeWithoutCase) {
    const std::string challenge = "Negotiate, ntlm abc=, Basic realm=\"ntlm\"";
    ASSERT_TRUE(ChallengeFor(challenge, "NTLM"));
    EXPECT_EQ(ChallengeFor(challenge, "NTLM")->scheme, "ntlm");
    EXPECT_EQ(ChallengeFor(challenge, "NTLM")->rest, "abc=");
    EXPECT_TRUE(ChallengeFor(challenge, "negotiate"));
    EXPECT_TRUE(ChallengeFor(challenge, "basic"));
    EXPECT_FALSE(ChallengeFor(challenge, "Digest"));
    EXPECT_FALSE(ChallengeFor("realm=\"Basic\"", "Basic"));
    EXPECT_FALSE(ChallengeFor("Basicrealm", "Basic"));
}

TEST(ProxyChallenge, TheRealmAndTheSchemesInWordsToShow) {
    EXPECT_EQ(ChallengeRealm("Basic realm=\"corp\""), "corp");
    EXPECT_EQ(ChallengeRealm("NTLM, Basic charset=\"UTF-8\", Realm=\"a, \\\"b\\\"\""), "a, \"b\"");
    EXPECT_EQ(ChallengeRealm("Digest realm=plain, nonce=\"x\""), "plain");
    EXPECT_EQ(ChallengeRealm("Negotiate"), "");
    // What the proxy sent is shown: no control characters, no endless text.
    EXPECT_EQ(ChallengeRealm("Basic realm=\"a\r\n\x1b[2Jb\""), "a[2Jb");
    EXPECT_EQ(ChallengeRealm("Basic realm=\"" + std::string(300, 'x') + "\"").size(), 100u);
    EXPECT_EQ(ChallengeRealm("Basic realm=\"" + std::string(99, 'x') + "\xe2\x82\xac\"").size(),
              102u); // a character across the 100th byte is kept whole
    EXPECT_EQ(ChallengeRealm("Basic realm=\"" + std::string(300, '\x93') + "\"").size(), 103u);
    EXPECT_EQ(ChallengeSchemes("Negotiate, NTLM, Basic realm=\"a, b\""), "Negotiate, NTLM, Basic");
}

TEST(ProxyChallenge, Base64ReadsBackWhatIsWrittenAndRefusesTheRest) {
    for (std::string bytes : {std::string(""), std::string("f"), std::string("fo"),
                              std::string("foo"), std::string("NTLMSSP\0\x02\x00\xff", 11)}) {
        const auto back = Base64Bytes(net::Base64Line(bytes));
        ASSERT_TRUE(back) << bytes;
        EXPECT_EQ(*back, bytes);
    }
    EXPECT_EQ(Base64Bytes("Zm8"), "fo"); // padding left out
    EXPECT_EQ(Base64Bytes("Zg"), "f");
    for (const char *bad : {"Z", "Zm9v!", "Zm 9v", "Zg=x", "Zg===", "Z===", "Zm9vY==", "-_8="})
        EXPECT_FALSE(Base64Bytes(bad)) << bad;
}
