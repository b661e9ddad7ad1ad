#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One location of the file: a host and a directory (without a trailing "/"; empty for the
// host's root).
struct MirrorEntry {
    std::string Host;
    std::string Directory;
    bool operator==(const MirrorEntry &) const = default;
};

// Entry 0 is the primary location (the command line's URL, or built in); entries 1 to 3
// are always the three built-in regional mirrors.
using TMirrorTable = std::array<MirrorEntry, 4>;

// The program-wide download request, filled once at start-up and read-only afterwards.
struct DownloadRequest {
    std::string Protocol;
    TMirrorTable MirrorTable;
    // As the URL gives it, query and fragment included: requests use it whole.
    std::string FileName;
    // The URL named a user (and maybe a password) before its host: left out of the host, so
    // neither sent nor shown.
    bool UserInfoLeftOut = false;
    std::string ProductName;
    std::string UserAgent;
    std::string MinimumOSVersionDescription;
    // The description was made from the three numbers below, for want of one given.
    bool DescriptionDerived = false;
    int32_t OSPlatformId = 0;
    int32_t MinimumOSMajorVersion = 0;
    int32_t MinimumOSMinorVersion = 0;
    int32_t MaximumDetailToDisplay = 1;
    int32_t MaximumRequestLength = -1;
    // The SHA-256 digest the file must have, as 64 lower-case hexadecimal digits; empty when
    // none is pinned.
    std::string Sha256;
    // The subject names one of which the certificate that signed the file must have
    // (Windows' Authenticode), in the order given; empty when no signer is pinned.
    std::vector<std::string> Signers;

    bool operator==(const DownloadRequest &) const = default;
};

// The request used when the program is started without arguments.
DownloadRequest BuiltInRequest();

// The file name without its query ("?...") or fragment ("#..."): the name to show and to
// write to disk, so that a signed URL's credentials never become a caption or a file name.
std::string LocalFileName(const std::string &fileName);

// Whether a local file name (LocalFileName) can be written into the output directory as it
// is: not empty, not "." or "..", and without a path separator, plain ("/", "\\") or
// URL-encoded ("%2F", "%5C", either case), or a control character.
bool IsPlainFileName(const std::string &localName);
