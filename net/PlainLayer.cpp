// PlainLayer: the socket's byte operations as they are.
#include "net/PlainLayer.h"

#include "platform/SocketErrors.h"

namespace net {

long PlainLayer::Receive(void *buffer, size_t len) {
    if (!socket_) {
        platform::SetLastSocketError(platform::kErrNotSocket);
        return -1;
    }
    return socket_->Receive(buffer, len);
}

long PlainLayer::Send(const void *data, size_t len) {
    if (!socket_) {
        platform::SetLastSocketError(platform::kErrNotSocket);
        return -1;
    }
    return socket_->Send(data, len);
}

const std::string &PlainLayer::Failure() const {
    static const std::string none;
    return none;
}

} // namespace net
