// The reading of a response's status line and header lines, from the bytes a server sent
// (the connection then closed), as the HTTP client does it; and the engine's reading of the
// header values it uses (Content-Range, Last-Modified).
#include "engine/HttpDate.h"
#include "net/NMHttp.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The client with its receive queue filled as if the bytes had arrived and the server had
// closed.
class Received : public net::TNMHTTP {
  public:
    void Arrived(const std::string &bytes) {
        ReceiveQueue.Clear();
        ReceiveQueue.Bytes() = bytes;
        ReceiveQueue.SeekEnd();
        IsConnected = false;
    }
    size_t Left() { return ReceiveQueue.Bytes().size(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Received client;
    const std::string bytes = fuzz::Text(data, size);
    client.Arrived(bytes);
    client.CurrentURL = "http://host/file";
    try {
        client.ReadResponseHeader();
    } catch (const net::ESockError &) {
        return 0; // closed before the end of the header, or a header too long
    }
    fuzz::Check(client.TransferSize >= 0, "a length is never negative");
    fuzz::Check(client.ReplyNumber >= 0, "a status is never negative");
    fuzz::Check(client.Header.size() + client.Left() == bytes.size(),
                "every byte is either header or body");
    fuzz::Check(bytes.compare(0, client.Header.size(), client.Header) == 0,
                "the header is what came first");
    const double date = engine::ParseHttpDate(engine::HeaderValue(client.Header, "Last-Modified"));
    fuzz::Check(date == date, "a date is a number");
    const std::string range = engine::HeaderValue(client.Header, "Content-Range");
    fuzz::Check(range.empty() || (range.front() != ' ' && range.back() != ' '),
                "a value without its blanks");
    return 0;
}
