#include "platform/Version.h"

#include <windows.h>

namespace platform {

OsVersionRecord QuerySystemVersion() {
    // The record's size field announces the 148-byte form. The program's manifest names the
    // Windows versions it supports, so the true version is reported, not a compatibility one.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    OsVersionRecord record;
    record.majorVersion = info.dwMajorVersion;
    record.minorVersion = info.dwMinorVersion;
    record.buildNumber = info.dwBuildNumber;
    record.platformId = info.dwPlatformId;
    record.servicePack = info.szCSDVersion;
    return record;
}

} // namespace platform
