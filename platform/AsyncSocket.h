#pragma once

#include "platform/IpAddress.h"
#include "platform/NotifyQueue.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Network event codes of a socket, as carried in a SocketEvent message.
enum SocketEventCode : uint16_t {
    kEventRead = 1,
    kEventWrite = 2,
    kEventOutOfBand = 4,
    kEventAccept = 8,
    kEventConnect = 16,
    kEventClose = 32,
    kAllEvents = 63,
};

// A non-blocking TCP socket (IPv4 or IPv6) whose network events arrive as SocketEvent messages
// in the queue of the thread that selected them, with the rules of asynchronous select: a read
// event is given again only after a receive call, a write event after connecting and after a
// send that would block, a connect event once, a close event once. Client use only (no
// listening). Owning thread only.
// Every call that fails returns -1 (or false) and leaves its code in LastSocketError().
class AsyncSocket {
  public:
    // Creates a socket of the family (V4 or V6); nullptr on failure (kErrAfNoSupport for
    // Family::None, or when the system has no IPv6).
    static std::unique_ptr<AsyncSocket> Create(IpAddress::Family family = IpAddress::Family::V4);
    virtual ~AsyncSocket() = default;

    // The system's handle of the socket: a descriptor (a small non-negative number), or a
    // Windows socket handle.
    virtual uintptr_t Handle() const = 0;
    // Network events in `mask` are posted to `target`; a mask of 0 switches them off.
    virtual void Select(const MessageTarget &target, uint16_t mask) = 0;
    // SO_LINGER; with on and 0 seconds, closing resets the connection.
    virtual bool SetLinger(bool on, int seconds) = 0;
    // Starts connecting to an address of the socket's family and a port (in network byte
    // order). Succeeds with the would-block code (kErrWouldBlock) as the normal outcome; the
    // result arrives as a connect event (with an error code when the connection could not be
    // made). An address of another family fails at once with kErrAfNoSupport.
    virtual int Connect(const IpAddress &address, uint16_t port) = 0;
    // Receives at most len bytes: the count, 0 when the peer has closed, -1 on error.
    virtual long Receive(void *buffer, size_t len) = 0;
    // Sends at most len bytes: the count accepted, or -1 (kErrWouldBlock when the buffer is
    // full: a write event follows when there is room again).
    virtual long Send(const void *data, size_t len) = 0;
    // Closes the descriptor; 0 or -1. Events stop at once.
    virtual int Close() = 0;
};

uint16_t HostToNetwork16(uint16_t v);

// What the socket layer tells about itself at start-up (one line each).
struct SocketLayerInfo {
    int version = 0x0101, highVersion = 0x0101;
    std::string description, systemStatus;
    long maxSockets = 0, maxUdpDatagram = 0;
};
SocketLayerInfo QuerySocketLayerInfo();

} // namespace platform
