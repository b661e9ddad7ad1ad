#include "net/ResponseHead.h"

#include "platform/Catalogue.h"

#include <algorithm>
#include <limits>

namespace net {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWithoutCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// A character of a field name (HTTP's token).
bool IsNameCharacter(char c) {
    static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           kMarks.find(c) != std::string_view::npos;
}

// Without the blanks around it; a CR that is no line's end counts as a blank at either end.
std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The elements of a comma-separated list, each trimmed, empty ones left out.
std::vector<std::string> Elements(const std::vector<std::string> &values) {
    std::vector<std::string> elements;
    for (const std::string &value : values) {
        std::string_view rest = value;
        for (;;) {
            const size_t comma = rest.find(',');
            const std::string_view element = Trimmed(rest.substr(0, comma));
            if (!element.empty())
                elements.emplace_back(element);
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return elements;
}

// "HTTP/1.1 206 Partial Content": the version, the status and the reason.
HeadError ReadStatusLine(std::string_view line, ResponseHead &head) {
    if (line.substr(0, 5) != "HTTP/")
        return HeadError::NotHttp;
    if (line.size() < 9 || !IsDigit(line[5]) || line[6] != '.' || !IsDigit(line[7]) ||
        line[8] != ' ' || line[5] != '1')
        return HeadError::BadVersion;
    head.versionMajor = line[5] - '0';
    head.versionMinor = line[7] - '0';
    std::string_view rest = line.substr(9);
    // Servers that put more than one space there are read as well.
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    if (rest.size() < 3 || rest[0] < '1' || !IsDigit(rest[0]) || !IsDigit(rest[1]) ||
        !IsDigit(rest[2]) || (rest.size() > 3 && rest[3] != ' '))
        return HeadError::BadStatus;
    head.status = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
    head.reason = std::string(rest.substr(rest.size() > 3 ? 4 : 3));
    return HeadError::None;
}

} // namespace

const char *HeadErrorText(HeadError error) {
    switch (error) {
    case HeadError::None:
        return "";
    case HeadError::Incomplete:
        return platform::Tr("The server's answer ends before its header does");
    case HeadError::TooLong:
        return platform::Tr("Response header too long");
    case HeadError::TooManyLines:
        return platform::Tr("The server's answer has too many header lines");
    case HeadError::NotHttp:
        return platform::Tr("The server's answer is not HTTP");
    case HeadError::BadVersion:
        return platform::Tr("The server's answer is of an HTTP version other than 1.x");
    case HeadError::BadStatus:
        return platform::Tr("The server's answer has no valid status number");
    }
    return "";
}

int64_t ContentLengthValue(std::string_view value) {
    if (value.empty())
        return -1;
    int64_t length = 0;
    for (char c : value) {
        if (!IsDigit(c) || length > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10)
            return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

std::vector<std::string> ResponseHead::Values(std::string_view name) const {
    std::vector<std::string> values;
    for (const HeaderLine &line : lines)
        if (SameWithoutCase(line.name, name))
            values.push_back(line.value);
    return values;
}

std::string ResponseHead::Value(std::string_view name) const {
    for (const HeaderLine &line : lines)
        if (SameWithoutCase(line.name, name))
            return line.value;
    return {};
}

bool ResponseHead::Has(std::string_view name) const {
    for (const HeaderLine &line : lines)
        if (SameWithoutCase(line.name, name))
            return true;
    return false;
}

ResponseHeadReader::Step ResponseHeadReader::Take(std::string_view line) {
    if (error_ != HeadError::None)
        return Step::Failed;
    if (ended_)
        return Step::Done;
    bytes_ += line.size();
    if (bytes_ > limits_.bytes) {
        error_ = HeadError::TooLong;
        return Step::Failed;
    }
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (!statusRead_) {
        statusRead_ = true;
        error_ = ReadStatusLine(line, head_);
        return error_ == HeadError::None ? Step::More : Step::Failed;
    }
    if (line.empty()) {
        Finish();
        return Step::Done;
    }
    if (++lineCount_ > limits_.lines) {
        error_ = HeadError::TooManyLines;
        return Step::Failed;
    }
    TakeField(line);
    return Step::More;
}

void ResponseHeadReader::TakeField(std::string_view line) {
    // An obsolete folded line (one that begins with a blank) continues the value of the line
    // before it, as if the line end were a space; it continues nothing after a line that was
    // passed over.
    if (line.front() == ' ' || line.front() == '\t') {
        if (lastTaken_) {
            std::string &value = head_.lines.back().value;
            const std::string_view more = Trimmed(line);
            if (!more.empty())
                value += (value.empty() ? "" : " ") + std::string(more);
        }
        return;
    }
    lastTaken_ = false;
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return;
    const std::string_view name = line.substr(0, colon);
    for (char c : name)
        if (!IsNameCharacter(c))
            return; // blanks before the colon: no field of its own
    head_.lines.push_back({std::string(name), std::string(Trimmed(line.substr(colon + 1)))});
    lastTaken_ = true;
}

void ResponseHeadReader::Finish() {
    ended_ = true;
    ResponseHead &h = head_;
    for (const std::string &value : h.Values("Content-Length")) {
        const int64_t length = ContentLengthValue(value);
        if (length < 0)
            h.lengthState = LengthState::Malformed;
        else if (h.lengthState == LengthState::None)
            h.lengthState = LengthState::Given, h.contentLength = length;
        else if (h.lengthState == LengthState::Given && length != h.contentLength)
            h.lengthState = LengthState::Conflicting;
        if (h.lengthState == LengthState::Malformed)
            break;
    }
    if (h.lengthState != LengthState::Given)
        h.contentLength = -1;

    // Lines that name different ranges say nothing sure about the body.
    const std::vector<std::string> ranges = h.Values("Content-Range");
    bool alike = true;
    for (const std::string &range : ranges)
        alike = alike && range == ranges.front();
    if (!ranges.empty() && alike)
        h.contentRange = ParseContentRange(ranges.front());

    h.lastModified = h.Value("Last-Modified");
    h.etag = h.Value("ETag");
    h.location = h.Value("Location");
    for (std::string &coding : Elements(h.Values("Content-Encoding")))
        if (!SameWithoutCase(coding, "identity"))
            h.contentCodings.push_back(std::move(coding));
    h.transferEncoded = h.Has("Transfer-Encoding");
    h.transferCodings = Elements(h.Values("Transfer-Encoding"));
    for (const std::string &option : Elements(h.Values("Connection")))
        h.connectionClose = h.connectionClose || SameWithoutCase(option, "close");
    for (const std::string &challenge : h.Values("Proxy-Authenticate"))
        if (!challenge.empty())
            h.proxyChallenge += (h.proxyChallenge.empty() ? "" : ", ") + challenge;
}

ParsedHead ParseResponseHead(std::string_view bytes, HeadLimits limits) {
    ParsedHead parsed;
    ResponseHeadReader reader(limits);
    for (;;) {
        const size_t end = bytes.find('\n', parsed.size);
        if (end == std::string_view::npos) {
            // A line without its end that is too long already fails as one with its end would.
            parsed.error =
                bytes.size() > limits.bytes ? HeadError::TooLong : HeadError::Incomplete;
            break;
        }
        const ResponseHeadReader::Step step =
            reader.Take(bytes.substr(parsed.size, end + 1 - parsed.size));
        parsed.size = end + 1;
        if (step == ResponseHeadReader::Step::Failed)
            parsed.error = reader.Error();
        if (step != ResponseHeadReader::Step::More)
            break;
    }
    parsed.head = std::move(reader.Head());
    return parsed;
}

} // namespace net
