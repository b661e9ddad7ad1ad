#include "engine/Failure.h"

#include "net/NMHttp.h"
#include "net/SocketErrorTable.h"
#include "platform/Catalogue.h"
#include "platform/SocketErrors.h"

#include <cerrno>

namespace engine {
namespace {

// The socket's reason for a failed lookup or connection, else the exception's text. A
// would-block is how every connection starts, never why one failed.
std::string SocketReason(const net::TNMHTTP &client, const std::exception &error) {
    if (client.LastSocketError != platform::kErrWouldBlock)
        if (const char *text = net::SocketErrorText(client.LastSocketError))
            return text;
    return error.what();
}

FailureKind KindOf(net::SockFailure failure) {
    switch (failure) {
    case net::SockFailure::HostNotFound:
        return FailureKind::HostNotFound;
    case net::SockFailure::LookupTimedOut:
    case net::SockFailure::ConnectTimedOut:
        return FailureKind::TimedOut;
    case net::SockFailure::ConnectFailed:
        return FailureKind::Refused;
    case net::SockFailure::Cancelled:
        return FailureKind::Stopped;
    case net::SockFailure::Closed:
        return FailureKind::Reset;
    case net::SockFailure::Tls:
        return FailureKind::Tls;
    case net::SockFailure::Stalled:
        return FailureKind::Stalled;
    case net::SockFailure::ProxyAuth:
        return FailureKind::ProxyAuth;
    case net::SockFailure::Other:
        break;
    }
    return FailureKind::Protocol;
}

} // namespace

bool IsLocationFailure(FailureKind kind) {
    switch (kind) {
    case FailureKind::DiskFull:
    case FailureKind::NotWritable:
    case FailureKind::Stopped:
    case FailureKind::SizeMismatch:
    case FailureKind::DigestMismatch:
    case FailureKind::DigestUnavailable:
    case FailureKind::SignerMismatch:
    case FailureKind::ProxyAuth: // the proxy's, whichever location it leads to
        return false;
    default:
        return true;
    }
}

bool StrikesOutAtOnce(const Failure &failure) {
    switch (failure.kind) {
    case FailureKind::Refused:
    case FailureKind::HostNotFound:
    case FailureKind::Tls:
        return true;
    case FailureKind::HttpStatus:
        return failure.status == 403 || failure.status == 404 || failure.status == 410;
    default:
        return false;
    }
}

bool IsDiskFailure(FailureKind kind) {
    return kind == FailureKind::DiskFull || kind == FailureKind::NotWritable;
}

Failure FailureOf(const net::TNMHTTP &client, const std::exception &error) {
    Failure failure;
    failure.text = error.what();
    if (auto *file = dynamic_cast<const net::EFileStreamError *>(&error)) {
        // The file layer reports a quota that is used up as a full disk too.
        failure.kind = file->Error() == ENOSPC ? FailureKind::DiskFull : FailureKind::NotWritable;
        return failure;
    }
    auto *sock = dynamic_cast<const net::ESockError *>(&error);
    if (!sock)
        return failure; // a protocol fault of the client's own
    failure.kind = KindOf(sock->Kind());
    if (failure.kind == FailureKind::Refused || failure.kind == FailureKind::HostNotFound)
        failure.text = SocketReason(client, error);
    else if (failure.kind == FailureKind::Reset && client.LastSocketError != 0)
        failure.text = SocketReason(client, error);
    else if (failure.kind == FailureKind::Stalled)
        // TRANSLATORS: %1 is a number of seconds.
        failure.text = platform::Fill(platform::Tr("Nothing arrived for %1 s"),
                                      {std::to_string(client.TimeOut / 1000)});
    else if (failure.kind == FailureKind::ProxyAuth)
        failure.challenge = client.ProxyChallenge;
    return failure;
}

std::string StatusText(const net::TNMHTTP &client) {
    const net::ResponseHead &head = client.Response;
    return "HTTP " + std::to_string(head.status) + (head.reason.empty() ? "" : " " + head.reason);
}

} // namespace engine
