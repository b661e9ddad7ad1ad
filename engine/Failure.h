#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace net {
class TNMHTTP;
}

namespace engine {

// Why an attempt (or the whole download) failed. Decisions read the kind; the text is for
// people ("Connection refused", "HTTP 503 Service Unavailable").
enum class FailureKind : uint8_t {
    Refused,      // the connection was refused or the host is unreachable
    HostNotFound, // the host name has no address
    TimedOut,     // the lookup or the connection took longer than the time-out
    Reset,        // the connection ended before the answer did
    Stalled,      // the connection delivered nothing for the time-out
    HttpStatus,   // an error status (the number is in `status`)
    ShortBody,    // the answer ended before its length or before the range
    WrongBody,    // an answer for another range, another version of the file, a whole file
    Tls,          // the tunnel, the handshake or the certificate failed
    ProxyAuth,    // the proxy asks for credentials, or refused those it was given
    Protocol,     // an answer that cannot be read, too many redirects, a bad URL
    DiskFull,     // the file could not be written: no room on its disk
    NotWritable,  // the file could not be created or written for another reason
    Stopped,      // a pause or a stop ended the attempt
    // The file as a whole, once every byte has arrived:
    SizeMismatch,      // it is not as long as the location said
    DigestMismatch,    // its SHA-256 digest is not the one pinned
    DigestUnavailable, // its digest could not be computed
    SignerMismatch,    // it is not validly signed by one of the signers pinned
};

struct Failure {
    Failure() = default;
    Failure(FailureKind k, int number, std::string why, std::string asked = {})
        : kind(k), status(number), text(std::move(why)), challenge(std::move(asked)) {}

    FailureKind kind = FailureKind::Protocol;
    int status = 0; // HttpStatus: the status number
    std::string text;
    // ProxyAuth: the proxy's Proxy-Authenticate values ("Basic realm=\"corp\""), and which of
    // the run's credentials for it the request carried (ProxyCredentials::Generation).
    std::string challenge;
    int credentials = 0;
};

// Whether a failure of this kind says something about the location that served the attempt
// (so that another location may do better); disk failures and stops do not.
bool IsLocationFailure(FailureKind kind);
// Whether one such failure is enough to give the location up: it will answer the same way
// again (refused, no such host, a certificate it cannot prove, "forbidden", "not found").
bool StrikesOutAtOnce(const Failure &failure);
// Whether the failure is the disk's: the transfer cannot go on, and no location can help.
bool IsDiskFailure(FailureKind kind);

// The failure of an exception thrown by a request of `client`: the socket layer's and the
// client's errors by their kind, a file that could not be written by its error number. The
// text is the socket's reason for a failed connection ("Connection refused", "Host not
// found") or the exception's text ("Certificate verification failed: ...").
Failure FailureOf(const net::TNMHTTP &client, const std::exception &error);

// "HTTP 403 Forbidden": the number and reason of a response's status line.
std::string StatusText(const net::TNMHTTP &client);

} // namespace engine
