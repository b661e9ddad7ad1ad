#pragma once

// The scheme, the four hosts, the pinned digest and the pinned signer of the built-in request.
// Each program sets them when it is built (BuiltInHosts.cpp.in): `download` from the CMake
// cache variables DOWNLOAD_PROTOCOL, DOWNLOAD_PRIMARY_HOST, DOWNLOAD_IRELAND_HOST,
// DOWNLOAD_SINGAPORE_HOST, DOWNLOAD_CALIFORNIA_HOST, DOWNLOAD_SHA256 and DOWNLOAD_SIGNER; the
// tests' `download_loopback` with addresses on loopback, so that no test looks a name up
// anywhere.
extern const char *const kBuiltInProtocol;
extern const char *const kPrimaryDownloadHost;
extern const char *const kIrelandMirrorHost;
extern const char *const kSingaporeMirrorHost;
extern const char *const kCaliforniaMirrorHost;
// The file's SHA-256 digest in lower-case hexadecimal digits; "" when none is pinned.
extern const char *const kBuiltInSha256;
// The subject names of the file's signer, separated by "|" (as the Signer parameter takes
// them); "" when none is pinned.
extern const char *const kBuiltInSigner;
