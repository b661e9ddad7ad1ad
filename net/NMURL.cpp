#include "net/NMURL.h"

#include "platform/IpAddress.h"

namespace net {

std::string TNMURL::Decode() {
    const std::string in = InputString; // a copy: OnError may change InputString
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            int hi = i + 1 < in.size() ? platform::HexDigitValue(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? platform::HexDigitValue(in[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                // A malformed escape gives no partial result: the caller gets its text back.
                if (OnError)
                    OnError(this, "Error during decode",
                            "'" + in.substr(i + 1, 2) + "' is not a valid integer value");
                return in;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    return out;
}

} // namespace net
