#include "net/UrlParts.h"

#include <gtest/gtest.h>

namespace {

// RFC 3986 section 5.4: the normal and abnormal examples, resolved against its base.
TEST(ResolveReference, TheExamplesOfTheStandard) {
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char *, const char *> rows[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {"g?y#s", "http://a/b/c/g?y"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"http:g", "http:g"},
    };
    for (const auto &[reference, target] : rows)
        EXPECT_EQ(net::ResolveReference(base, reference), target) << reference;
}

// What servers send as Location in practice.
TEST(ResolveReference, LocationsServersSend) {
    const std::string base = "https://files.example:8443/r/f.bin?sig=a:b";
    const std::pair<const char *, const char *> rows[] = {
        {"/dl/f.bin?t=12:00", "https://files.example:8443/dl/f.bin?t=12:00"},
        {"dl/f.bin", "https://files.example:8443/r/dl/f.bin"},
        {"//cdn.example:8080/p", "https://cdn.example:8080/p"},
        {"http://other/x", "http://other/x"},
        {"HTTPS://Other:443/x", "https://Other:443/x"},
        {"  /padded  ", "https://files.example:8443/padded"},
        {"?v=2", "https://files.example:8443/r/f.bin?v=2"},
    };
    for (const auto &[reference, target] : rows)
        EXPECT_EQ(net::ResolveReference(base, reference), target) << reference;
    EXPECT_EQ(net::ResolveReference("http://h", "f"), "http://h/f") << "a base without a path";
}

TEST(SplitUrl, TheFormsAClientIsGiven) {
    struct Row {
        const char *url, *scheme, *host, *port, *path;
        bool hasPort;
    } rows[] = {
        {"http://server/dir/file.exe", "http", "server", "", "/dir/file.exe", false},
        {"HTTPS://server:8443/x?a=b:c#frag", "https", "server", "8443", "/x?a=b:c", true},
        {"http://user:pw@server:81/x", "http", "server", "81", "/x", true},
        {"http://server?q=1", "http", "server", "", "?q=1", false},
        {"//server:81/p", "", "server", "81", "/p", true},
        {"/other/file?t=12:00", "", "", "", "/other/file?t=12:00", false},
        {"server:81", "", "server", "81", "", true},
        {"server/x", "", "server", "", "/x", false},
        {"http://127.0.0.1:/x", "http", "127.0.0.1", "", "/x", true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.url);
        const net::UrlParts parts = net::SplitUrl(r.url);
        EXPECT_EQ(parts.scheme, r.scheme);
        EXPECT_EQ(parts.host, r.host);
        EXPECT_EQ(parts.hasPort, r.hasPort);
        EXPECT_EQ(parts.port, r.port);
        EXPECT_EQ(parts.pathAndQuery, r.path);
    }
}

} // namespace
