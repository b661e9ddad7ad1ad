#pragma once

#include "platform/Catalogue.h"

#include <cstddef>
#include <memory>
#include <string>

namespace net {

// The TLS client protocol of one connection, on memory only: the ciphertext the server sent
// goes in with Input, what must go to the server comes out of TakeOutput, and plaintext moves
// through Read and Write. It never touches a socket; TlsLayer moves the bytes and turns the
// socket's errors into texts. Each system has its own implementation (OpenSSL, Schannel),
// chosen by the build. Owning thread only.
//
// Both verify the server the same way: the chain must reach a root the system trusts, the
// certificate must name the host (or its address), the host name goes out as SNI (an address
// does not), TLS 1.2 is the oldest version accepted, and nothing falls back to plain text.
class TTlsEngine {
  public:
    enum class Result {
        Done,      // the step is complete: the handshake finished, data was read or written
        WantInput, // nothing more can happen until more ciphertext arrives
        Closed,    // the server's data has ended: its close_notify, or the input ended
        Failed,    // the protocol failed; Reason() says why
        Rejected,  // the handshake refused the server's certificate; Reason() says why
    };

    virtual ~TTlsEngine() = default;

    // Ciphertext from the server, in the order it arrived.
    virtual void Input(const char *data, size_t len) = 0;
    // The server has closed the connection: no ciphertext follows what Input was given.
    virtual void EndOfInput() = 0;
    // Appends to `out` what the engine has produced for the server (handshake messages,
    // records, alerts) and forgets it.
    virtual void TakeOutput(std::string &out) = 0;

    // Moves the handshake on with the input given so far: Done, WantInput, Failed, Rejected,
    // or Closed when the input ended before the handshake did (for no other reason).
    virtual Result Handshake() = 0;
    virtual bool Established() const = 0;

    // Decrypts up to `len` bytes into `buffer` (`count` of them): Done, WantInput, Closed or
    // Failed. A Closed does not end the session for Write.
    virtual Result Read(void *buffer, size_t len, size_t &count) = 0;
    // Encrypts the whole of `data` into the output: Done or Failed.
    virtual Result Write(const void *data, size_t len) = 0;

    // Plaintext, or a whole record, waits in the engine: Read gives data without more input.
    virtual bool Buffered() const = 0;

    // Puts a close_notify into the output (best effort, after an established handshake).
    virtual void Close() = 0;

    // Why the last Failed or Rejected came, in the words of the system's TLS library's user
    // texts: for Rejected e.g. "certificate has expired", for Failed e.g. "wrong version
    // number" (empty when the library gave no reason).
    virtual const std::string &Reason() const = 0;
};

// A client engine for a server named `host` (a name or a dotted IPv4 address). Loads the
// system's TLS library at the first call. nullptr with the user's text in `error` when the
// library is missing or cannot set up a session.
std::unique_ptr<TTlsEngine> CreateTlsEngine(const std::string &host, std::string &error);

// The user's text of an engine that could not be set up, `why` being the library's reason.
inline std::string TlsSetupFailure(const std::string &why) {
    // TRANSLATORS: %1 is the TLS library's reason, in English.
    return platform::Fill(platform::Tr("TLS could not be set up: %1"), {why});
}

} // namespace net
