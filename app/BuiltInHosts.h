#pragma once

// The scheme and the four hosts of the built-in request. Each program sets them when it is
// built (BuiltInHosts.cpp.in): `download` from the CMake cache variables DOWNLOAD_PROTOCOL,
// DOWNLOAD_PRIMARY_HOST, DOWNLOAD_IRELAND_HOST, DOWNLOAD_SINGAPORE_HOST and
// DOWNLOAD_CALIFORNIA_HOST; the tests' `download_loopback` with addresses on loopback, so that
// no test looks a name up anywhere.
extern const char *const kBuiltInProtocol;
extern const char *const kPrimaryDownloadHost;
extern const char *const kIrelandMirrorHost;
extern const char *const kSingaporeMirrorHost;
extern const char *const kCaliforniaMirrorHost;
