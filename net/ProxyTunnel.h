#pragma once

#include <cstdint>
#include <string>

namespace net {

class TPowersock;

// A CONNECT tunnel through an HTTP proxy: asked for on a component connected to the proxy,
// with the component's blocking byte operations, so its time-out and cancel bound every wait.
// A proxy that answers 407 is asked again on the same connection while the component's
// handshake with it (Negotiate, NTLM) has a token to send. The proxy's answer is read with
// ResponseHeadReader.
class ProxyTunnel {
  public:
    enum class Result {
        Open,    // the proxy passes bytes to the origin; what followed its answer waits in the
                 // component's receive queue (it came from the origin)
        Refused, // Failure() says why; AuthAsked() when with 407 (ProxyChallenge says how)
        Aborted, // a time-out or a cancel ended a wait
    };

    // A tunnel to host:port (a URL's host, brackets or not) through `connection`.
    ProxyTunnel(TPowersock &connection, const std::string &host, int32_t port);

    // Sends the request, and again with each token of a handshake, until the proxy accepts
    // or refuses. Blocks in the component's waits.
    Result Open();

    const std::string &Failure() const { return failure_; }
    bool AuthAsked() const { return authAsked_; }

  private:
    // The status line and header lines of the proxy's answer, its challenge noted.
    struct Answer {
        std::string statusLine;
        int status = 0;       // 0: no number
        int64_t length = -1;  // its Content-Length (-1: none)
        bool tooLong = false; // more header lines or bytes than are taken
    };
    Answer ReadAnswer();
    Result Refuse(const std::string &why);

    TPowersock &connection_;
    const std::string target_;
    std::string failure_;
    bool authAsked_ = false;
};

} // namespace net
