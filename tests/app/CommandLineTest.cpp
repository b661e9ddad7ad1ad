#include "app/CommandLine.h"
#include "platform/Signature.h"

#include "app/BuiltInHosts.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

struct Parsed {
    DownloadRequest request;
    CommandLineResult result;
};

Parsed Parse(std::vector<std::string> arguments, bool complete = true) {
    arguments.insert(arguments.begin(), "/opt/tools/download");
    Parsed parsed;
    parsed.result = ReadCommandLine(arguments, parsed.request);
    if (complete)
        CompleteDerivedFields(parsed.request);
    return parsed;
}

TEST(LastPos, FindsTheLastOccurrenceOneBased) {
    EXPECT_EQ(LastPos("/", "a/b/c"), 4);
    EXPECT_EQ(LastPos("/", "abc"), 0);
    EXPECT_EQ(LastPos("ab", "abxab"), 4);
    EXPECT_EQ(LastPos("/", ""), 0);
    EXPECT_EQ(LastPos("", "abc"), 0);
    EXPECT_EQ(LastPos("/", "/"), 1);
}

TEST(CommandLine, NoArgumentsGiveTheBuiltInRequest) {
    Parsed p = Parse({});
    const DownloadRequest &r = p.request;
    EXPECT_FALSE(p.result.argumentsGiven);
    EXPECT_EQ(p.result.errorText, "");
    EXPECT_EQ(r.Protocol, "https");
    EXPECT_EQ(r.MirrorTable[0], (MirrorEntry{kPrimaryDownloadHost, "Pelko1"}));
    EXPECT_EQ(r.MirrorTable[1], (MirrorEntry{kIrelandMirrorHost, "pelko1-ie"}));
    EXPECT_EQ(r.MirrorTable[2], (MirrorEntry{kSingaporeMirrorHost, "pelko1-sg"}));
    EXPECT_EQ(r.MirrorTable[3], (MirrorEntry{kCaliforniaMirrorHost, "pelko1-ca"}));
    EXPECT_EQ(r.FileName, "Pelko_setup.exe");
    EXPECT_EQ(r.ProductName, "Pelko");
    EXPECT_EQ(r.UserAgent, "TalvexDownload Pelko1");
    EXPECT_EQ(r.MinimumOSVersionDescription,
              "Windows 2000 SP4, XP, Vista, 7, Server 2003, Server 2008 or above");
    EXPECT_EQ(r.OSPlatformId, 2);
    EXPECT_EQ(r.MinimumOSMajorVersion, 5);
    EXPECT_EQ(r.MinimumOSMinorVersion, 0);
    EXPECT_EQ(r.MaximumDetailToDisplay, 1);
    EXPECT_EQ(r.MaximumRequestLength, -1);
    EXPECT_EQ(r.Sha256, kBuiltInSha256);
    EXPECT_EQ(r, BuiltInRequest());
}

TEST(CommandLine, UrlWithDirectoriesFillsEntryZeroAndTheDerivedFields) {
    Parsed p = Parse({"proto://server/a/b/file.exe"});
    const DownloadRequest &r = p.request;
    EXPECT_TRUE(p.result.argumentsGiven);
    EXPECT_EQ(p.result.errorText, "");
    EXPECT_EQ(r.Protocol, "proto");
    EXPECT_EQ(r.MirrorTable[0], (MirrorEntry{"server", "a/b"}));
    EXPECT_EQ(r.FileName, "file.exe");
    EXPECT_EQ(r.ProductName, "file.exe from server/a/b");
    EXPECT_EQ(r.MinimumOSVersionDescription, "0.0.0");
    EXPECT_EQ(r.OSPlatformId, 0);
    EXPECT_EQ(r.MinimumOSMajorVersion, 0);
    EXPECT_EQ(r.MinimumOSMinorVersion, 0);
    EXPECT_EQ(r.UserAgent, "TalvexDownload");
    EXPECT_EQ(r.MaximumDetailToDisplay, 1);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(r.MirrorTable[i], BuiltInRequest().MirrorTable[i]) << i;
}

TEST(CommandLine, UrlAtTheHostsRootHasAnEmptyDirectory) {
    Parsed p = Parse({"proto://server/file.exe"});
    EXPECT_EQ(p.request.MirrorTable[0], (MirrorEntry{"server", ""}));
    EXPECT_EQ(p.request.ProductName, "file.exe from server");
}

TEST(CommandLine, MalformedUrlsNoteTheirErrorAndKeepTheResetValues) {
    Parsed noName = Parse({"proto://server/dir/"}, false);
    EXPECT_EQ(noName.result.errorText, "File name is missing\n\r");
    EXPECT_EQ(noName.request.MirrorTable[0], (MirrorEntry{"server", "dir"}));
    EXPECT_EQ(noName.request.FileName, "");

    Parsed noProtocol = Parse({"server/file.exe"}, false);
    EXPECT_EQ(noProtocol.result.errorText, "Protocol is missing\n\r");
    EXPECT_EQ(noProtocol.request.Protocol, "https");
    EXPECT_EQ(noProtocol.request.MirrorTable[0], MirrorEntry{});
    EXPECT_EQ(noProtocol.request.FileName, "");

    Parsed noSlash = Parse({"proto://server"}, false);
    EXPECT_EQ(noSlash.result.errorText, "File name is missing\n\r");
    EXPECT_EQ(noSlash.request.Protocol, "proto");
    EXPECT_EQ(noSlash.request.MirrorTable[0], MirrorEntry{});

    Parsed noHost = Parse({"http:///dir/file.exe"}, false);
    EXPECT_EQ(noHost.result.errorText, "Host is missing\n\r");
    EXPECT_EQ(noHost.request.MirrorTable[0].Host, "");

    // The URL's own error is kept apart from those of the parameters after it.
    for (const Parsed &p : {noName, noProtocol, noSlash, noHost})
        EXPECT_EQ(p.result.urlError, p.result.errorText);
    Parsed later = Parse({"server/file.exe", "Colour:red"}, false);
    EXPECT_EQ(later.result.urlError, "Protocol is missing\n\r");
    EXPECT_EQ(later.result.errorText, "Unknown parameter name Colour.\n\r");
    EXPECT_EQ(Parse({"http://server/file.exe", "Colour:red"}).result.urlError, "");
}

TEST(CommandLine, HelpAndVersionAreAskedAsTheOnlyArgument) {
    auto asked = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "/opt/tools/download");
        return AskedForInformation(arguments);
    };
    for (const char *help : {"--help", "-h", "/?"})
        EXPECT_EQ(asked({help}), InformationRequest::Help) << help;
    EXPECT_EQ(asked({"--version"}), InformationRequest::Version);
    EXPECT_EQ(asked({}), InformationRequest::None);
    EXPECT_EQ(asked({"--HELP"}), InformationRequest::None);
    EXPECT_EQ(asked({"http://server/file.exe"}), InformationRequest::None);
    // After a URL such a word is a parameter like any other (and an unknown one).
    EXPECT_EQ(asked({"http://server/file.exe", "--help"}), InformationRequest::None);
    EXPECT_EQ(VersionText().rfind("Talvex download application ", 0), 0u);
}

TEST(CommandLine, TheFirstArgumentIsAlwaysTheUrl) {
    Parsed p = Parse({"ProductName:X"}, false);
    EXPECT_EQ(p.result.errorText, "Protocol is missing\n\r");
    EXPECT_EQ(p.request.ProductName, "");
}

// A URL is taken whole, or refused when a request could not carry it: never cut.
TEST(CommandLine, AUrlIsTakenWholeOrRefusedWhenNoRequestLineCarriesIt) {
    // A signed CDN URL of 1,149 characters.
    const std::string query = "?sig=" + std::string(1100, 's');
    Parsed cdn = Parse({"https://cdn.example/pub/d/tool.exe" + query});
    ASSERT_EQ(cdn.result.errorText, "");
    EXPECT_EQ(cdn.request.FileName, "tool.exe" + query);
    EXPECT_EQ(cdn.request.MirrorTable[0], (MirrorEntry{"cdn.example", "pub/d"}));

    // "HEAD http://s/f.exe?" and " HTTP/1.0" around the query: a line of exactly the limit.
    const std::string prefix = "http://s/f.exe?";
    const std::string fits =
        prefix + std::string(8192 - prefix.size() - std::string("HEAD  HTTP/1.0").size(), 'q');
    EXPECT_EQ(Parse({fits}).result.urlError, "");
    EXPECT_EQ(Parse({fits + "q"}).result.urlError,
              "URL is too long: its request line would have 8193 characters, and at most 8192 "
              "can be sent\n\r");
    // Measured as sent: a space takes three characters, the user information none.
    EXPECT_NE(Parse({fits.substr(0, fits.size() - 2) + " "}).result.urlError, "");
    EXPECT_EQ(Parse({"http://user:pw@s/f.exe?" + fits.substr(prefix.size())}).result.urlError, "");

    Parsed huge = Parse({"http://server/d/f.exe?" + std::string(128 * 1024, 'x')}, false);
    EXPECT_EQ(huge.result.urlError.rfind("URL is too long: its request line would have 131", 0), 0u)
        << huge.result.urlError;
    EXPECT_EQ(huge.request.MirrorTable[0], MirrorEntry{});
}

// A CR or LF would end the request line and add header lines of its own; any control
// character is refused, wherever it stands.
TEST(CommandLine, AUrlWithAControlCharacterIsRefused) {
    const std::pair<std::string, const char *> rows[] = {
        {"http://server/d/f.exe\r\nX-Injected: 1", "CR"},
        {"http://server/d/f.exe\nHost: other", "LF"},
        {"http://ser\rver/d/f.exe", "CR"},
        {"http://server/d/f.exe?a=\tb", "TAB"},
        {"http://server/d/a\x1b.exe", "0x1B"},
        {"http://server/d/a.exe\x7f", "DEL"},
        {"\nhttp://server/d/f.exe", "LF"},
    };
    for (const auto &[url, name] : rows)
        EXPECT_EQ(Parse({url}, false).result.urlError,
                  std::string("URL contains a control character (") + name + ")\n\r");
    // Blanks and bytes beyond ASCII are no control characters: they are encoded when sent.
    Parsed spaced = Parse({"http://server/d/My Tool \xc3\xa9.exe"});
    EXPECT_EQ(spaced.result.urlError, "");
    EXPECT_EQ(spaced.request.FileName, "My Tool \xc3\xa9.exe");
}

// The user name and password go nowhere: not into the host (which status texts, the product
// name and the proxy rules take), and not into a request.
TEST(CommandLine, TheUserInformationIsLeftOutOfTheHost) {
    Parsed p = Parse({"http://user:p@ss:w@server:81/d/f.exe"});
    EXPECT_EQ(p.result.urlError, "");
    EXPECT_EQ(p.request.MirrorTable[0], (MirrorEntry{"server:81", "d"}));
    EXPECT_EQ(p.request.ProductName, "f.exe from server:81/d");
    EXPECT_TRUE(p.request.UserInfoLeftOut);
    EXPECT_TRUE(Parse({"http://token@server/f.exe"}).request.UserInfoLeftOut);
    EXPECT_FALSE(Parse({"http://server/f.exe?mail=a@b"}).request.UserInfoLeftOut);
    EXPECT_EQ(Parse({"http://server/f.exe?mail=a@b"}).request.MirrorTable[0].Host, "server");
    EXPECT_EQ(Parse({"http://user:pw@/f.exe"}, false).result.urlError, "Host is missing\n\r");
    // A "?" or "#" before the first "/" would end the host for the client: the host shown
    // and the host asked would differ.
    for (const char *url : {"http://good.example?@evil.example/f.exe",
                            "http://good.example#@evil.example/f.exe", "http://?user:pw@h/f.exe"})
        EXPECT_EQ(Parse({url}, false).result.urlError,
                  "Host name must not contain \"?\" or \"#\"\n\r")
            << url;
}

// An IPv6 literal keeps its brackets in the location and the shown name; an empty port is the
// scheme's own and is not shown.
TEST(CommandLine, Ipv6LiteralsAndEmptyPortsMakeTheLocation) {
    struct Row {
        const char *url;
        MirrorEntry location;
        const char *product;
    } rows[] = {
        {"http://[::1]:8080/d/f.bin", {"[::1]:8080", "d"}, "f.bin from [::1]:8080/d"},
        {"https://[2001:db8::1]/f.bin", {"[2001:db8::1]", ""}, "f.bin from [2001:db8::1]"},
        {"http://u:p@[::1]:/d/f.bin", {"[::1]", "d"}, "f.bin from [::1]/d"},
        {"http://server:/f.bin", {"server", ""}, "f.bin from server"},
        {"HTTP://server/f.bin", {"server", ""}, "f.bin from server"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.url);
        const Parsed p = Parse({r.url});
        EXPECT_EQ(p.result.urlError, "");
        EXPECT_EQ(p.request.MirrorTable[0], r.location);
        EXPECT_EQ(p.request.ProductName, r.product);
    }
    EXPECT_EQ(Parse({"HTTP://server/f.bin"}).request.Protocol, "http") << "in lower case";
}

// A host that names no server ends the command line as a syntax error, naming why.
TEST(CommandLine, ZoneIdsAndMalformedBracketsAreRefused) {
    const std::pair<const char *, const char *> rows[] = {
        {"http://[fe80::1%25eth0]/f.bin", "IPv6 zone ids such as fe80::1%eth0 are not supported"},
        {"http://[fe80::1%eth0]:81/f.bin", "IPv6 zone ids such as fe80::1%eth0 are not supported"},
        {"http://[::1/f.bin", "The IPv6 address [::1 lacks its closing \"]\""},
        {"http://[zz]/f.bin", "[zz] is not an IPv6 address"},
        {"http://[::1]x/f.bin", "The host [::1]x has text after the \"]\" of its IPv6 address"},
        {"http://ser]ver/f.bin",
         "The host ser]ver is not a name: \"[\" and \"]\" enclose an IPv6 address"},
        {"http://:8080/f.bin", "Host is missing"},
    };
    for (const auto &[url, error] : rows) {
        const Parsed p = Parse({url}, false);
        EXPECT_EQ(p.result.urlError, std::string(error) + "\n\r") << url;
        EXPECT_EQ(p.request.MirrorTable[0].Host, "") << url;
    }
}

TEST(CommandLine, QueryAndFragmentStayInTheRequestButNotInTheShownName) {
    Parsed p = Parse({"http://server/dir/file.exe?token=a/b&sig=c"});
    EXPECT_EQ(p.result.errorText, "");
    // A "/" inside the query does not split the path.
    EXPECT_EQ(p.request.MirrorTable[0], (MirrorEntry{"server", "dir"}));
    EXPECT_EQ(p.request.FileName, "file.exe?token=a/b&sig=c");
    EXPECT_EQ(p.request.ProductName, "file.exe from server/dir");
    EXPECT_EQ(LocalFileName(p.request.FileName), "file.exe");
    EXPECT_EQ(LocalFileName("setup.exe#part"), "setup.exe");

    EXPECT_EQ(Parse({"http://server/dir/?token=x"}, false).result.errorText,
              "File name is missing\n\r");
    EXPECT_EQ(Parse({"http://server/dir/.."}, false).result.errorText, "File name is missing\n\r");
}

TEST(CommandLine, AFileNameWithASeparatorInItIsAnError) {
    const std::string error = "File name must not contain a path separator\n\r";
    for (const char *url : {"http://s/d/..%2Fetc%2Fpasswd", "http://s/d/a%2fb", "http://s/d/a%5Cb",
                            "http://s/d/a%5cb", "http://s/d/a\\b"})
        EXPECT_EQ(Parse({url}, false).result.errorText, error) << url;
    EXPECT_EQ(Parse({"http://s/d/."}, false).result.errorText, "File name is missing\n\r");
    // An encoding of anything else, and a separator in the query, are no such thing.
    for (const char *url : {"http://s/d/my%20tool.exe", "http://s/d/100%25.bin", "http://s/d/%2",
                            "http://s/d/f.exe?next=%2F", "http://s/d/...", "http://s/d/..a"})
        EXPECT_EQ(Parse({url}, false).result.errorText, "") << url;
}

TEST(CommandLine, ParameterNamesAreCaseInsensitive) {
    EXPECT_EQ(Parse({"p://s/f", "productname:X"}).request.ProductName, "X");
    EXPECT_EQ(Parse({"p://s/f", "PRODUCTNAME:X"}).request.ProductName, "X");
    EXPECT_EQ(Parse({"p://s/f", "ProductName:My Product"}).request.ProductName, "My Product");
    EXPECT_EQ(Parse({"p://s/f", "minimumOSversionDescription:Linux 6"})
                  .request.MinimumOSVersionDescription,
              "Linux 6");
}

TEST(CommandLine, ValuesKeepFurtherColonsAndAMissingColonGivesAnEmptyValue) {
    EXPECT_EQ(Parse({"p://s/f", "UserAgent:a:b"}).request.UserAgent, "a:b");
    Parsed noColon = Parse({"p://s/d/f.exe", "ProductName"});
    EXPECT_EQ(noColon.result.errorText, "");
    EXPECT_EQ(noColon.request.ProductName, "f.exe from s/d");
}

TEST(CommandLine, LaterParametersOverrideEarlierOnes) {
    Parsed p = Parse({"p://s/f", "OSPlatformId:1", "osplatformid:3"});
    EXPECT_EQ(p.request.OSPlatformId, 3);
}

TEST(CommandLine, IntegerParametersReadTheirValueAndKeepAPartialOne) {
    Parsed p = Parse({"p://s/f", "OSPlatformId:2", "MinimumOSAMajorVersion:$A",
                      "MinimumOSMinorVersion:-0x1", "MaximumDetailToDisplay:  x3"});
    EXPECT_EQ(p.result.errorText, "");
    EXPECT_EQ(p.request.OSPlatformId, 2);
    EXPECT_EQ(p.request.MinimumOSMajorVersion, 10);
    EXPECT_EQ(p.request.MinimumOSMinorVersion, -1);
    EXPECT_EQ(p.request.MaximumDetailToDisplay, 3);
    EXPECT_EQ(p.request.MinimumOSVersionDescription, "2.10.-1");

    Parsed partial = Parse({"p://s/f", "OSPlatformId:12x"});
    EXPECT_EQ(partial.request.OSPlatformId, 12);
    EXPECT_EQ(partial.result.errorText,
              "Invalid operating system platform identifier. Must be an integer.\n\r");

    Parsed empty = Parse({"p://s/f", "OSPlatformId:7", "OSPlatformId:"});
    EXPECT_EQ(empty.request.OSPlatformId, 0);
    EXPECT_EQ(empty.result.errorText,
              "Invalid operating system platform identifier. Must be an integer.\n\r");
}

TEST(CommandLine, EachIntegerParameterNotesItsOwnError) {
    EXPECT_EQ(Parse({"p://s/f", "MinimumOSAMajorVersion:five"}).result.errorText,
              "Invalid operating system minimum major version. Must be an integer.\n\r");
    EXPECT_EQ(Parse({"p://s/f", "MinimumOSMinorVersion:1.5"}).result.errorText,
              "Invalid operating system minimum minor version. Must be an integer.\n\r");
    Parsed detail = Parse({"p://s/f", "MaximumDetailToDisplay:3 "});
    EXPECT_EQ(detail.request.MaximumDetailToDisplay, 3);
    EXPECT_EQ(detail.result.errorText,
              "Invalid maximum detail to display parameter. Must be an integer.\n\r");
}

TEST(CommandLine, TheMajorVersionKeywordHasAnA) {
    Parsed without = Parse({"p://s/f", "MinimumOSMajorVersion:6"});
    EXPECT_EQ(without.request.MinimumOSMajorVersion, 0);
    EXPECT_EQ(without.result.errorText, "Unknown parameter name MinimumOSMajorVersion.\n\r");
    Parsed with = Parse({"p://s/f", "MinimumOSAMajorVersion:6"});
    EXPECT_EQ(with.request.MinimumOSMajorVersion, 6);
    EXPECT_EQ(with.result.errorText, "");
}

TEST(CommandLine, OnlyTheLastErrorSurvivesAndReadingGoesOn) {
    Parsed p = Parse({"server/file.exe", "Colour:red", "ProductName:Kept", "OSPlatformId:z"});
    EXPECT_EQ(p.result.errorText,
              "Invalid operating system platform identifier. Must be an integer.\n\r");
    EXPECT_EQ(p.request.ProductName, "Kept");

    Parsed unknownLast = Parse({"p://s/f", "OSPlatformId:z", "Colour:red"});
    EXPECT_EQ(unknownLast.result.errorText, "Unknown parameter name Colour.\n\r");
}

TEST(CommandLine, ADigestIsSixtyFourHexadecimalDigitsInEitherCaseKeptInLowerCase) {
    const std::string lower = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    std::string upper = lower;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string &argument : {"Sha256:" + lower, "SHA256:" + upper, "sha256:" + upper}) {
        Parsed p = Parse({"http://s/f.exe", argument});
        EXPECT_EQ(p.request.Sha256, lower) << argument;
        EXPECT_EQ(p.result.pinError, "") << argument;
        EXPECT_EQ(p.result.errorText, "") << argument;
    }
    // A URL names another file than the built-in one: the built-in digest is not its own.
    EXPECT_EQ(Parse({"http://s/f.exe"}).request.Sha256, "");
}

TEST(CommandLine, AMalformedDigestIsAnErrorThatALaterOneDoesNotHide) {
    const std::string good(64, 'a');
    for (const std::string &value :
         {std::string(), good.substr(1), good + "a", good.substr(1) + "g", " " + good.substr(1),
          good.substr(1) + "\n", "0x" + good.substr(2), std::string(32, '\0') + good.substr(32)}) {
        Parsed p = Parse({"http://s/f.exe", "Sha256:" + value, "Colour:red"});
        EXPECT_EQ(p.result.pinError,
                  "Invalid SHA-256 digest. Must be 64 hexadecimal digits.\n\r")
            << value;
        EXPECT_EQ(p.request.Sha256, "") << value;
        // Other errors still take the syntax message's place; the digest's is kept apart.
        EXPECT_EQ(p.result.errorText, "Unknown parameter name Colour.\n\r");
    }
    // A good digest after a malformed one does not make the command line good.
    Parsed twice = Parse({"http://s/f.exe", "Sha256:abc", "Sha256:" + good});
    EXPECT_NE(twice.result.pinError, "");
}

TEST(CommandLine, ASignerIsOneOrMoreNamesSeparatedByBarsWithoutTheSpacesAroundThem) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(ReadSigners("Talvex Vendor"), Names({"Talvex Vendor"}));
    EXPECT_EQ(ReadSigners(" Talvex Vendor | Talvex Vendor 2027|Zed "),
              Names({"Talvex Vendor", "Talvex Vendor 2027", "Zed"}));
    EXPECT_EQ(ReadSigners("Ünïcode, Ltd. (Test)"), Names({"Ünïcode, Ltd. (Test)"}));
    EXPECT_EQ(ReadSigners(std::string(1000, 'n')).size(), 1u);
    for (const std::string &value :
         {std::string(), std::string(" "), std::string("|"), std::string("A|"),
          std::string("|A"), std::string("A||B"), std::string("A| |B"), std::string("A\tB"),
          std::string("A\x7f"), std::string("A\0B", 3), std::string(1001, 'n')})
        EXPECT_EQ(ReadSigners(value), Names()) << value;
}

TEST(CommandLine, ASignerPinIsCheckedWhereSignaturesCanBeOrTheCommandLineDoesNotRun) {
    Parsed good = Parse({"http://s/f.exe", "signer:A Vendor|B Vendor"});
    if (platform::CanCheckSignatures()) {
        EXPECT_EQ(good.request.Signers, std::vector<std::string>({"A Vendor", "B Vendor"}));
        EXPECT_EQ(good.result.pinError, "");
        EXPECT_EQ(good.result.errorText, "");
    } else {
        // A pin that cannot be checked is never dropped silently.
        EXPECT_EQ(good.result.pinError, "A signer cannot be checked on this system: signatures "
                                        "are checked by the Windows program only.\n\r");
    }
    for (const char *value : {"Signer:", "SIGNER:A||B"}) {
        Parsed p = Parse({"http://s/f.exe", value, "Colour:red"});
        EXPECT_EQ(p.result.pinError,
                  "Invalid signer. Must be one or more subject names separated by \"|\".\n\r")
            << value;
        EXPECT_EQ(p.result.errorText, "Unknown parameter name Colour.\n\r");
    }
    // A good signer after a malformed one, or after a malformed digest, leaves the error.
    EXPECT_NE(Parse({"http://s/f.exe", "Signer:", "Signer:A"}).result.pinError, "");
    Parsed both = Parse({"http://s/f.exe", "Sha256:abc", "Signer:A"});
    if (platform::CanCheckSignatures())
        EXPECT_EQ(both.result.pinError,
                  "Invalid SHA-256 digest. Must be 64 hexadecimal digits.\n\r");
    else
        EXPECT_NE(both.result.pinError, "");
    // A URL names another file than the built-in one: the built-in signer is not its own.
    EXPECT_EQ(Parse({"http://s/f.exe"}).request.Signers, std::vector<std::string>());
}

TEST(CommandLine, SyntaxMessageNamesTheErrorAndTheProgram) {
    std::string message = SyntaxMessage("/opt/tools/download", "Protocol is missing\n\r");
    // The download options' parameters and their explanations follow this text.
    EXPECT_EQ(message.rfind("Incorrect command line syntax.\n\r\n\r"
                            "There are errors in the parameters:\n\rProtocol is missing\n\r\n\r"
                            "Correct syntax:\n\rdownload http://servername/directory/filename "
                            "[ProductName:value] [MinimumOSVersionDescription:value] "
                            "[OSPlatformId:value] [MinimumOSAMajorVersion:value] "
                            "[MinimumOSMinorVersion:value] [MaximumDetailToDisplay:value] ",
                            0),
              0u)
        << message;
    EXPECT_EQ(SyntaxMessage("download", "")
                  .rfind("Incorrect command line syntax.\n\r\n\r"
                         "Correct syntax:\n\rdownload http://",
                         0),
              0u);
    // The help is the same text without the first line.
    EXPECT_EQ(SyntaxMessage("download", ""),
              "Incorrect command line syntax.\n\r\n\r" + UsageMessage("download"));
}

} // namespace
