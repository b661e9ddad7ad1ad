#pragma once

#include <optional>
#include <string>
#include <vector>

namespace net {

// One challenge of a Proxy-Authenticate value: its scheme as sent, and what follows it up to
// the next challenge (a token of its own for Negotiate and NTLM, "realm=..." for Basic).
struct ProxyChallengeEntry {
    std::string scheme;
    std::string rest;
};

// The challenges of Proxy-Authenticate values joined by ", " ("NTLM, Basic realm=\"a, b\"").
// A scheme is a token at the start or after a comma that is not a parameter's name (no "="
// follows it); quoted strings are passed over whole.
std::vector<ProxyChallengeEntry> ChallengesOf(const std::string &challenge);
// The first challenge of `scheme` (compared without case), if the proxy offers it.
std::optional<ProxyChallengeEntry> ChallengeFor(const std::string &challenge,
                                                const std::string &scheme);

// The realm the proxy names, in words to show: the realm parameter of its Basic challenge (or
// of the first challenge that has one), unquoted, without control characters and cut after 100
// bytes (103 at most, so that a UTF-8 character stays whole); empty when it names none.
std::string ChallengeRealm(const std::string &challenge);
// The schemes the proxy offers, as a list to show ("Negotiate, NTLM").
std::string ChallengeSchemes(const std::string &challenge);

} // namespace net
