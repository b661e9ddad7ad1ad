#pragma once

#include <cstdint>

namespace platform {

// Socket error codes, numbered like the classic socket error table so that every error text
// the user sees is the socket layer's own.
enum SocketError : int {
    kErrInterrupted = 10004,
    kErrBadFile = 10009,
    kErrAccess = 10013,
    kErrFault = 10014,
    kErrInvalid = 10022,
    kErrTooManyFiles = 10024,
    kErrWouldBlock = 10035,
    kErrInProgress = 10036,
    kErrAlready = 10037,
    kErrNotSocket = 10038,
    kErrMsgSize = 10040,
    kErrAfNoSupport = 10047,
    kErrAddrInUse = 10048,
    kErrAddrNotAvail = 10049,
    kErrNetDown = 10050,
    kErrNetUnreach = 10051,
    kErrConnAborted = 10053,
    kErrConnReset = 10054,
    kErrNoBufs = 10055,
    kErrIsConn = 10056,
    kErrNotConn = 10057,
    kErrShutdown = 10058,
    kErrTimedOut = 10060,
    kErrConnRefused = 10061,
    kErrHostDown = 10064,
    kErrHostUnreach = 10065,
    kErrHostNotFound = 11001,
    kErrTryAgain = 11002,
    kErrNoRecovery = 11003,
    kErrNoData = 11004,
};

// Maps an operating-system error number onto the socket error codes above.
int SocketErrorFromSystem(int systemError);

// The code of the last failed socket call on this thread (0 if none failed yet).
int LastSocketError();
void SetLastSocketError(int code);

} // namespace platform
