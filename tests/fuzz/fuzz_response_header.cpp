// The reading of a response head, from the bytes a server sent: the pure reader, the HTTP
// client reading the same bytes from its connection (which then closed), and the engine's
// reading of the fields it uses (Last-Modified, the codings).
#include "engine/BodyCoding.h"
#include "engine/HttpDate.h"
#include "net/NMHttp.h"
#include "net/ResponseHead.h"
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

void CheckHead(const std::string &bytes, const net::ParsedHead &parsed) {
    const net::ResponseHead &head = parsed.head;
    fuzz::Check(parsed.size <= bytes.size(), "the head is within the bytes");
    if (parsed.error != net::HeadError::None)
        return;
    fuzz::Check(parsed.size >= 2 && bytes[parsed.size - 1] == '\n', "a head ends with a line");
    fuzz::Check(head.status >= 100 && head.status <= 999, "a status of three digits");
    fuzz::Check(head.versionMajor == 1 && head.versionMinor >= 0 && head.versionMinor <= 9,
                "an HTTP/1.x version");
    fuzz::Check((head.lengthState == net::LengthState::Given) == (head.contentLength >= 0),
                "a length exactly when it is given");
    for (const net::HeaderLine &line : head.lines) {
        fuzz::Check(!line.name.empty() && line.name.find_first_of(" \t:\r\n") == std::string::npos,
                    "a name is a token");
        fuzz::Check(line.value.empty() ||
                        (line.value.find_first_of(" \t\r") != 0 &&
                         line.value.find_last_not_of(" \t\r") == line.value.size() - 1),
                    "a value without its blanks");
        fuzz::Check(line.value.find('\n') == std::string::npos, "a value within its line");
    }
    if (head.contentRange)
        fuzz::Check(head.contentRange->last >= head.contentRange->first, "a range in order");
    const double date = engine::ParseHttpDate(head.lastModified);
    fuzz::Check(date == date, "a date is a number");
    const std::string coding = engine::BodyCoding(head);
    fuzz::Check(coding.empty() == (head.contentCodings.empty() && !head.transferEncoded),
                "a coding named exactly when there is one");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes = fuzz::Text(data, size);
    const net::ParsedHead parsed = net::ParseResponseHead(bytes);
    CheckHead(bytes, parsed);

    static Received client;
    client.Arrived(bytes);
    client.CurrentURL = "http://host/file";
    try {
        client.ReadResponseHeader();
    } catch (const net::ESockError &) {
        fuzz::Check(parsed.error != net::HeadError::None, "the client fails where the reader does");
        return 0; // closed before the end of the header, a header too long or not HTTP's
    }
    fuzz::Check(parsed.error == net::HeadError::None, "the client reads what the reader reads");
    fuzz::Check(client.ReplyNumber == parsed.head.status, "the client's status is the head's");
    fuzz::Check(client.TransferSize >= 0, "a length is never negative");
    fuzz::Check(client.Header.size() == parsed.size, "the client's header is the head");
    fuzz::Check(client.Header.size() + client.Left() == bytes.size(),
                "every byte is either header or body");
    fuzz::Check(bytes.compare(0, client.Header.size(), client.Header) == 0,
                "the header is what came first");
    return 0;
}
