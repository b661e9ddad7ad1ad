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

// The value of parameter `name` in a challenge's parameters ("realm=\"a, b\", charset=x"),
// unquoted; none when it is not there.
std::optional<std::string> ParameterOf(const std::string &parameters, const std::string &name) {
    size_t at = 0;
    while (at < parameters.size()) {
        const size_t equals = parameters.find('=', at);
        if (equals == std::string::npos)
            return std::nullopt;
        const std::string key = LowerCase(WithoutBlanks(parameters.substr(at, equals - at)));
        size_t i = parameters.find_first_not_of(" \t", equals + 1);
        std::string value;
        if (i != std::string::npos && parameters[i] == '"') {
            for (++i; i < parameters.size() && parameters[i] != '"'; ++i) {
                if (parameters[i] == '\\' && i + 1 < parameters.size())
                    ++i;
                value += parameters[i];
            }
            ++i;
        } else {
            for (; i < parameters.size() && parameters[i] != ','; ++i)
                value += parameters[i];
            value = WithoutBlanks(value);
        }
        if (key == name)
            return value;
        at = i == std::string::npos ? parameters.size() : parameters.find(',', i);
        if (at == std::string::npos)
            return std::nullopt;
        ++at;
    }
    return std::nullopt;
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

std::string ChallengeRealm(const std::string &challenge) {
    std::optional<std::string> realm;
    if (const auto basic = ChallengeFor(challenge, "Basic"))
        realm = ParameterOf(basic->rest, "realm");
    for (const ProxyChallengeEntry &entry : ChallengesOf(challenge))
        if (!realm)
            realm = ParameterOf(entry.rest, "realm");
    // Shown to the user: what the proxy sent may hold anything.
    std::string shown;
    for (char c : realm.value_or("")) {
        const auto byte = static_cast<unsigned char>(c);
        // Cut between characters; a character has at most 3 bytes after its first, so a run of
        // continuation bytes (not UTF-8) is cut too.
        if (shown.size() >= 100 && ((byte & 0xC0) != 0x80 || shown.size() >= 103))
            break;
        if (byte >= 0x20 && byte != 0x7f)
            shown += c;
    }
    return shown;
}

std::string ChallengeSchemes(const std::string &challenge) {
    std::string schemes;
    for (const ProxyChallengeEntry &entry : ChallengesOf(challenge))
        schemes += (schemes.empty() ? "" : ", ") + entry.scheme;
    return schemes;
}

} // namespace net
