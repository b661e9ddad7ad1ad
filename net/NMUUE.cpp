#include "net/NMUUE.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace net {

namespace {

constexpr char kMimeTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Value 0 is "`" rather than a space, so that no line carries trailing blanks.
constexpr char kUUTable[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
static_assert(sizeof kMimeTable == 65 && sizeof kUUTable == 65);

constexpr size_t kLineBytes = 45;

} // namespace

void TNMUUProcessor::Encode() {
    if (!InputStream || !OutputStream)
        throw std::invalid_argument("Encode needs an input and an output stream");
    InputStream->Seek(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    try {
        EncodeLines(Method == uuCode ? kUUTable : kMimeTable);
    } catch (...) {
        EndEncode();
        throw;
    }
    EndEncode();
}

void TNMUUProcessor::EncodeLines(const char *table) {
    const bool uu = Method == uuCode;
    unsigned char in[kLineBytes];
    std::string line;
    while (InputStream->Position() < InputStream->Size()) {
        size_t n = InputStream->Read(reinterpret_cast<char *>(in), kLineBytes);
        if (n == 0)
            break; // a stream that stops short of its size would otherwise loop for ever
        line.clear();
        if (uu)
            line += table[n];
        size_t k = 0;
        for (; k + 3 <= n; k += 3) {
            line += table[in[k] >> 2];
            line += table[((in[k] & 3) << 4) | (in[k + 1] >> 4)];
            line += table[((in[k + 1] & 15) << 2) | (in[k + 2] >> 6)];
            line += table[in[k + 2] & 63];
        }
        if (n - k == 1) {
            line += table[in[k] >> 2];
            line += table[(in[k] & 3) << 4];
            if (!uu)
                line += "==";
        } else if (n - k == 2) {
            line += table[in[k] >> 2];
            line += table[((in[k] & 3) << 4) | (in[k + 1] >> 4)];
            line += table[(in[k + 1] & 15) << 2];
            if (!uu)
                line += '=';
        }
        line += "\r\n";
        OutputStream->Write(line.data(), line.size());
    }
    if (uu) {
        const char last[] = {table[0], '\r', '\n'};
        OutputStream->Write(last, sizeof last);
    }
}

void TNMUUProcessor::EndEncode() {
    OutputStream->Seek(0);
    if (OnEndEncode)
        OnEndEncode(this);
}

std::string Base64Line(const std::string &bytes) {
    TMemoryStream in, out;
    in.Write(bytes.data(), bytes.size());
    TNMUUProcessor uu;
    uu.Method = uuMime;
    uu.InputStream = &in;
    uu.OutputStream = &out;
    uu.Encode();
    std::string text;
    for (char c : out.Bytes())
        if (c != '\r' && c != '\n')
            text += c;
    return text;
}

std::optional<std::string> Base64Bytes(const std::string &text) {
    const std::string_view alphabet(kMimeTable, 64);
    std::string bytes;
    uint32_t bits = 0;
    int count = 0;
    size_t padding = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        const size_t value = alphabet.find(c);
        if (value == std::string_view::npos || padding > 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            bytes += static_cast<char>(bits >> 16);
            bytes += static_cast<char>(bits >> 8);
            bytes += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    // A last group of 2 or 3 characters carries 1 or 2 bytes; one of 1 carries none.
    if (count == 1 || padding > 2 || (padding > 0 && (count + padding) % 4 != 0))
        return std::nullopt;
    if (count == 2)
        bytes += static_cast<char>(bits >> 4);
    else if (count == 3) {
        bytes += static_cast<char>(bits >> 10);
        bytes += static_cast<char>(bits >> 2);
    }
    return bytes;
}

} // namespace net
