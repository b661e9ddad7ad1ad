// TNMHTTP: reading the status line and the header lines of a response.
#include "net/NMHttp.h"

#include "platform/Catalogue.h"

#include <algorithm>
#include <memory>

namespace net {

void TNMHTTP::ReadResponseHeader() {
    TransferSize = 0;
    ContentLength = -1;
    ReplyNumber = 0;
    Location.clear();
    ReceivedCookie.clear();
    ProxyChallenge.clear();
    Response = ResponseHead{};
    std::unique_ptr<TFileStream> file;
    if (OutputFileMode)
        file = std::make_unique<TFileStream>(Header, TFileStream::Mode::Create);
    else
        Header.clear();

    // A server that sends header lines for ever would hold the request open for ever: the
    // reader refuses a head longer than kMaxResponseHeader.
    ResponseHeadReader reader(HeadLimits{kMaxResponseHeader});
    std::string line;
    for (;;) {
        ReadLn(line);
        const ResponseHeadReader::Step step = reader.Take(line);
        if (reader.Error() == HeadError::TooLong)
            throw ESockError(platform::Tr(NMConst::sResponseHeaderTooLong));
        if (file)
            file->Write(line.data(), line.size());
        else
            Header += line;
        if (step == ResponseHeadReader::Step::Failed)
            throw ESockError(HeadErrorText(reader.Error()));
        if (step == ResponseHeadReader::Step::Done)
            break;
    }
    Response = std::move(reader.Head());
    ReplyNumber = static_cast<int16_t>(Response.status);
    TransferSize = std::max<int64_t>(Response.contentLength, 0);
    // A coded body's length is not its Content-Length: it is read to the close, as is one whose
    // lengths disagree.
    if (!Response.transferEncoded)
        ContentLength = Response.contentLength;
    Location = Response.location;
    if (const auto cookies = Response.Values("Set-Cookie"); !cookies.empty())
        ReceivedCookie = cookies.back().substr(0, 256);
    if (ReplyNumber == 407)
        ProxyChallenge = Response.proxyChallenge;
}

} // namespace net
