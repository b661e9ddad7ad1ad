#include "platform/Version.h"

#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {

OsVersionRecord QuerySystemVersion() {
    // The program's manifest names the Windows versions it supports, so the true version is
    // reported, not a compatibility one.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&info);
#pragma GCC diagnostic pop
    OsVersionRecord record;
    record.majorVersion = info.dwMajorVersion;
    record.minorVersion = info.dwMinorVersion;
    record.buildNumber = info.dwBuildNumber;
    record.platformId = info.dwPlatformId;
    record.servicePack = win32::Narrow(info.szCSDVersion);
    return record;
}

} // namespace platform
