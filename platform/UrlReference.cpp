// References resolved against a URL (a redirect's Location), as RFC 3986 section 5 has it.
#include "platform/Url.h"

#include <cctype>

namespace platform {
namespace {

std::string Lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A reference split as RFC 3986 appendix B does, without the fragment.
struct Reference {
    bool hasScheme = false, hasAuthority = false, hasQuery = false;
    std::string scheme, authority, path, query;
};

Reference SplitReference(const std::string &text) {
    Reference r;
    std::string rest = text.substr(0, text.find('#'));
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

} // namespace

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
