#include "platform/SocketErrors.h"

#include <cerrno>

namespace platform {

namespace {
thread_local int lastError = 0;
}

int SocketErrorFromSystem(int e) {
    switch (e) {
    case 0: return 0;
    case EINTR: return kErrInterrupted;
    case EBADF: return kErrBadFile;
    case EACCES:
    case EPERM: return kErrAccess;
    case EFAULT: return kErrFault;
    case EINVAL: return kErrInvalid;
    case EMFILE:
    case ENFILE: return kErrTooManyFiles;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN: return kErrWouldBlock;
    case EINPROGRESS: return kErrInProgress;
    case EALREADY: return kErrAlready;
    case ENOTSOCK: return kErrNotSocket;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return kErrMsgSize;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return kErrAfNoSupport;
    case EADDRINUSE: return kErrAddrInUse;
    case EADDRNOTAVAIL: return kErrAddrNotAvail;
    case ENETDOWN: return kErrNetDown;
    case ENETUNREACH: return kErrNetUnreach;
    case ENETRESET: return 10052;
    case ECONNABORTED: return kErrConnAborted;
    case ECONNRESET:
    case EPIPE: return kErrConnReset;
    case ENOBUFS:
    case ENOMEM: return kErrNoBufs;
    case EISCONN: return kErrIsConn;
    case ENOTCONN: return kErrNotConn;
    case ESHUTDOWN: return kErrShutdown;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return kErrTimedOut;
    case ECONNREFUSED: return kErrConnRefused;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return kErrHostDown;
    case EHOSTUNREACH: return kErrHostUnreach;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return e; // outside the table: shown as an unknown error with its number
    }
}

int LastSocketError() { return lastError; }
void SetLastSocketError(int code) { lastError = code; }

} // namespace platform
