#include "platform/Url.h"

#include <cctype>
#include <cstring>

namespace platform {
namespace {

// The length of a scheme ("http") at the start of `url` when "://" follows it, else 0.
size_t SchemeLength(const std::string &url) {
    if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0])))
        return 0;
    size_t i = 1;
    while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' ||
                              url[i] == '-' || url[i] == '.'))
        ++i;
    return url.compare(i, 3, "://") == 0 ? i : 0;
}

std::string Lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string WithoutFragment(const std::string &text) {
    return text.substr(0, text.find('#'));
}

void SplitAuthority(const std::string &authority, UrlParts &parts) {
    const std::string hostPort = WithoutUserInfo(authority);
    parts.hasAuthority = true;
    size_t colon = hostPort.find(':');
    parts.host = hostPort.substr(0, colon);
    if (colon != std::string::npos) {
        parts.hasPort = true;
        // The text up to a second colon, if any, as a host:port:more would give it.
        parts.port = hostPort.substr(colon + 1, hostPort.find(':', colon + 1) - colon - 1);
    }
}

// A reference split as RFC 3986 appendix B does, without the fragment.
struct Reference {
    bool hasScheme = false, hasAuthority = false, hasQuery = false;
    std::string scheme, authority, path, query;
};

Reference SplitReference(const std::string &text) {
    Reference r;
    std::string rest = WithoutFragment(text);
    size_t colon = rest.find(':');
    size_t stop = rest.find_first_of("/?");
    if (colon != std::string::npos && colon > 0 && (stop == std::string::npos || colon < stop) &&
        std::isalpha(static_cast<unsigned char>(rest[0]))) {
        r.hasScheme = true;
        r.scheme = Lower(rest.substr(0, colon));
        rest.erase(0, colon + 1);
    }
    if (rest.compare(0, 2, "//") == 0) {
        r.hasAuthority = true;
        size_t end = rest.find_first_of("/?", 2);
        r.authority = rest.substr(2, end - 2);
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    size_t question = rest.find('?');
    r.path = rest.substr(0, question);
    if (question != std::string::npos) {
        r.hasQuery = true;
        r.query = rest.substr(question + 1);
    }
    return r;
}

std::string Compose(const Reference &r) {
    std::string url = r.scheme + ":";
    if (r.hasAuthority)
        url += "//" + r.authority;
    url += r.path;
    if (r.hasQuery)
        url += "?" + r.query;
    return url;
}

std::string Trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Whether RFC 3986 lets `c` stand as it is in a path or query: unreserved, reserved, or the
// "%" of an encoded byte.
bool AllowedInTarget(unsigned char c) {
    if (c == 0 || c >= 0x80)
        return false;
    return std::isalnum(c) || std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

// "0D" of the byte 0x0D.
std::string HexPair(unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[byte >> 4], kHex[byte & 15]};
}

} // namespace

std::string WithoutUserInfo(const std::string &authority) {
    // An "@" after the authority's end (in a query: "h?mail=a@b") is no user information.
    const size_t at = authority.rfind('@', authority.find_first_of("/?#"));
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

std::string ShownUrl(const std::string &url) {
    size_t start = SchemeLength(url);
    if (start > 0)
        start += 3;
    else if (url.compare(0, 2, "//") == 0)
        start = 2;
    else
        return url; // no authority, so no user information
    const std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    const size_t at = authority.rfind('@');
    if (at == std::string::npos)
        return url;
    const size_t colon = authority.find(':');
    const std::string shown = colon < at ? authority.substr(0, colon) + ":***" : "***";
    return url.substr(0, start) + shown + url.substr(start + at);
}

std::string RequestTarget(const std::string &pathAndQuery) {
    std::string target;
    target.reserve(pathAndQuery.size());
    for (char c : pathAndQuery) {
        const auto byte = static_cast<unsigned char>(c);
        target += AllowedInTarget(byte) ? std::string(1, c) : "%" + HexPair(byte);
    }
    return target;
}

std::string ControlCharacterIn(const std::string &text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            return "CR";
        if (byte == '\n')
            return "LF";
        if (byte == '\t')
            return "TAB";
        if (byte == 0x7f)
            return "DEL";
        if (byte < 0x20)
            return "0x" + HexPair(byte);
    }
    return "";
}

UrlParts SplitUrl(const std::string &url) {
    UrlParts parts;
    const std::string text = WithoutFragment(url);
    size_t rest = 0;
    if (size_t schemeLength = SchemeLength(text)) {
        parts.scheme = Lower(text.substr(0, schemeLength));
        rest = schemeLength + 3;
    } else if (text.compare(0, 2, "//") == 0) {
        rest = 2;
    } else if (!text.empty() && (text[0] == '/' || text[0] == '?')) {
        parts.pathAndQuery = text;
        return parts;
    }
    size_t end = text.find_first_of("/?", rest);
    SplitAuthority(text.substr(rest, end == std::string::npos ? std::string::npos : end - rest),
                   parts);
    if (end != std::string::npos)
        parts.pathAndQuery = text.substr(end);
    return parts;
}

std::string SchemeOf(const std::string &reference) {
    return SplitReference(reference).scheme;
}

std::string RemoveDotSegments(const std::string &path) {
    std::string input = path, output;
    while (!input.empty()) {
        if (input.compare(0, 3, "../") == 0) {
            input.erase(0, 3);
        } else if (input.compare(0, 2, "./") == 0) {
            input.erase(0, 2);
        } else if (input.compare(0, 3, "/./") == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input.erase(1); // "/"
        } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
            input.erase(input.size() == 3 ? 1 : 0, input.size() == 3 ? 2 : 3); // "/" or "/rest"
            size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

std::string ResolveReference(const std::string &base, const std::string &reference) {
    const Reference b = SplitReference(base);
    const Reference r = SplitReference(Trimmed(reference));
    Reference t;
    if (r.hasScheme) {
        t = r;
        t.path = RemoveDotSegments(r.path);
    } else {
        t.scheme = b.scheme;
        if (r.hasAuthority) {
            t.hasAuthority = true;
            t.authority = r.authority;
            t.path = RemoveDotSegments(r.path);
            t.hasQuery = r.hasQuery;
            t.query = r.query;
        } else {
            t.hasAuthority = b.hasAuthority;
            t.authority = b.authority;
            if (r.path.empty()) {
                t.path = b.path;
                t.hasQuery = r.hasQuery || b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                if (r.path[0] == '/') {
                    t.path = RemoveDotSegments(r.path);
                } else {
                    // Merged with the base's folder; a base without a path has the root.
                    const std::string folder = b.hasAuthority && b.path.empty()
                                                   ? "/"
                                                   : b.path.substr(0, b.path.rfind('/') + 1);
                    t.path = RemoveDotSegments(folder + r.path);
                }
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
        }
    }
    return Compose(t);
}

} // namespace platform
