// TNMHTTP: reading the status line and the header lines of a response.
#include "net/NMHttp.h"

#include "net/NMHttpParse.h"

#include <memory>

namespace net {

void TNMHTTP::ReadResponseHeader() {
    TransferSize = 0;
    ContentLength = -1;
    Location.clear();
    bool chunked = false;
    ReceivedCookie.clear();
    ProxyChallenge.clear();
    std::unique_ptr<TFileStream> file;
    if (OutputFileMode)
        file = std::make_unique<TFileStream>(Header, TFileStream::Mode::Create);
    else
        Header.clear();
    size_t stored = 0;
    auto store = [&](const std::string &line) {
        // A server that sends header lines for ever would hold the request open for ever.
        stored += line.size();
        if (stored > kMaxResponseHeader)
            throw ESockError(NMConst::sResponseHeaderTooLong);
        if (file)
            file->Write(line.data(), line.size());
        else
            Header += line;
    };

    std::string line;
    ReadLn(line);
    ReplyNumber = StatusNumberOf(line);
    store(line);
    for (;;) {
        ReadLn(line);
        const std::string upper = UpperCase(line);
        const std::string name = NthField(upper, ' ', 1);
        // Values start at a fixed place: right after the name, its colon and one space.
        if (name == "SET-COOKIE:")
            ReceivedCookie = WithoutTerminator(line).substr(12, 256);
        else if (name == "CONTENT-LENGTH:")
            TransferSize = ContentLengthOf(upper);
        // The fields that end the body and name a redirect's target, by HTTP's own rules (any
        // blanks around the value).
        const HeaderField field = HeaderFieldOf(line);
        if (field.name == "location")
            Location = field.value;
        else if (field.name == "content-length")
            ContentLength = ContentLength == -1 || ContentLength == BodyLengthOf(field.value)
                                ? BodyLengthOf(field.value)
                                : -2; // two lengths that disagree bound nothing
        else if (field.name == "transfer-encoding")
            chunked = true;
        else if (ReplyNumber == 407)
            NoteProxyChallenge(line);
        store(line);
        if (line == "\r\n" || line == "\n" || line.empty())
            break;
    }
    // A coded body's length is not its Content-Length: it is read to the close.
    if (chunked || ContentLength < 0)
        ContentLength = -1;
}

} // namespace net
