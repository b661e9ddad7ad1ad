#include "net/SocketErrorTable.h"

#include "platform/Catalogue.h"

namespace net {
namespace {

struct ErrorRow {
    int32_t code;
    const char *text;
};

constexpr ErrorRow SocketErrorTable[] = {
    {10004, platform::TrKey("Interrupted system call")},
    {10009, platform::TrKey("Bad file number")},
    {10013, platform::TrKey("Permission denied")},
    {10014, platform::TrKey("Bad address")},
    {10022, platform::TrKey("Invalid argument")},
    {10024, platform::TrKey("Too many open files")},
    {10035, platform::TrKey("Operation would block")},
    {10036, platform::TrKey("Operation now in progress")},
    {10037, platform::TrKey("Operation already in progress")},
    {10038, platform::TrKey("Socket operation on non-socket")},
    {10039, platform::TrKey("Destination address required")},
    {10040, platform::TrKey("Message too long")},
    {10041, platform::TrKey("Wrong protocol type for socket")},
    {10042, platform::TrKey("Bad protocol option")},
    {10043, platform::TrKey("Protocol not supported")},
    {10044, platform::TrKey("Socket type not supported")},
    {10045, platform::TrKey("Operation not supported on socket")},
    {10046, platform::TrKey("Protocol family not supported")},
    {10047, platform::TrKey("Address family not supported by protocol family")},
    {10048, platform::TrKey("Address already in use")},
    {10049, platform::TrKey("Can't assign requested address")},
    {10050, platform::TrKey("Network is down")},
    {10051, platform::TrKey("Network is unreachable")},
    {10052, platform::TrKey("Network dropped connection or reset")},
    {10053, platform::TrKey("Software caused connection abort")},
    {10054, platform::TrKey("Connection reset by peer")},
    {10055, platform::TrKey("No buffer space available")},
    {10056, platform::TrKey("Socket is already connected")},
    {10057, platform::TrKey("Socket is not connected")},
    {10058, platform::TrKey("Can't send after socket shutdown")},
    {10059, platform::TrKey("Too many references, can't splice")},
    {10060, platform::TrKey("Connection timed out")},
    {10061, platform::TrKey("Connection refused")},
    {10062, platform::TrKey("Too many levels of symbolic links")},
    {10063, platform::TrKey("File name too long")},
    {10064, platform::TrKey("Host is down")},
    {10065, platform::TrKey("No route to Host")},
    {10066, platform::TrKey("Directory not empty")},
    {10067, platform::TrKey("Too many processes")},
    {10068, platform::TrKey("Too many users")},
    {10069, platform::TrKey("Disc quota exceeded")},
    {10070, platform::TrKey("Stale NFS file handle")},
    {10071, platform::TrKey("Too many levels of remote in path")},
    {10091, platform::TrKey("Network subsystem is unavailable")},
    // TRANSLATORS: WINSOCK.DLL and WSAStartup are names of the Windows socket library and of
    // its first call.
    {10092, platform::TrKey("Incompatible version of WINSOCK.DLL")},
    {10093, platform::TrKey("Successful WSAStartup not yet performed")},
    {11001, platform::TrKey("Host not found")},
    {11002, platform::TrKey("Non-Authoritative Host not found")},
    // TRANSLATORS: FORMERR, REFUSED and NOTIMP are the names of DNS answers.
    {11003, platform::TrKey("Non-Recoverable error: FORMERR, REFUSED, NOTIMP")},
    {11004, platform::TrKey("Valid name, no data record of requested type")},
};

} // namespace

const char *SocketErrorText(int32_t code) {
    for (const auto &row : SocketErrorTable)
        if (row.code == code)
            return platform::Tr(row.text);
    return nullptr;
}

} // namespace net
