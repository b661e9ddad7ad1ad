#include "net/ProxyChallenge.h"

#include "net/NMHttpParse.h"

#include <cctype>
#include <string_view>

namespace net {
namespace {

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

} // namespace

std::vector<ProxyChallengeEntry> ChallengesOf(const std::string &challenge) {
    // Split at the commas outside quoted strings; each element starts a new challenge when
    // it begins with a token followed by a blank or by nothing, else it is a parameter of
    // the challenge before it.
    std::vector<std::string> elements(1);
    bool quoted = false;
    for (size_t i = 0; i < challenge.size(); ++i) {
        const char c = challenge[i];
        if (quoted && c == '\\' && i + 1 < challenge.size()) {
            elements.back() += c;
            elements.back() += challenge[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            elements.emplace_back();
        else
            elements.back() += c;
    }
    std::vector<ProxyChallengeEntry> challenges;
    for (const std::string &raw : elements) {
        const std::string element = WithoutBlanks(raw);
        if (element.empty())
            continue;
        size_t end = 0;
        while (end < element.size() && IsTokenChar(element[end]))
            ++end;
        const bool alone = end == element.size();
        const bool startsChallenge =
            end > 0 && (alone || ((element[end] == ' ' || element[end] == '\t') &&
                                  element.find_first_not_of(" \t", end) != element.find('=', end)));
        if (startsChallenge) {
            challenges.push_back({element.substr(0, end), WithoutBlanks(element.substr(end))});
        } else if (!challenges.empty()) {
            std::string &rest = challenges.back().rest;
            rest += (rest.empty() ? "" : ", ") + element;
        }
    }
    return challenges;
}

std::optional<ProxyChallengeEntry> ChallengeFor(const std::string &challenge,
                                                const std::string &scheme) {
    for (ProxyChallengeEntry &entry : ChallengesOf(challenge))
        if (LowerCase(entry.scheme) == LowerCase(scheme))
            return entry;
    return std::nullopt;
}

} // namespace net
