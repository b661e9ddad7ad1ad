#include "platform/Version.h"

#include <sys/utsname.h>

namespace platform {

OsVersionRecord QuerySystemVersion() {
    utsname names{};
    if (uname(&names) != 0)
        return ParseKernelRelease("");
    return ParseKernelRelease(names.release);
}

} // namespace platform
