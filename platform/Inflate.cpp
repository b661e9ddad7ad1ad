#include "platform/Inflate.h"

#include <array>

namespace platform {
namespace {

constexpr int kMaxBits = 15;         // the longest code deflate allows
constexpr int kLengthSymbols = 286;  // literal/length symbols that may occur (not 286, 287)
constexpr int kDistanceSymbols = 30; // distance symbols that may occur (not 30, 31)

// Each length symbol's (257 on) base length and extra bits, each distance symbol's likewise.
constexpr uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                      6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code lengths of the code-length code.
constexpr uint8_t kCodeLengthOrder[] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code given by its symbols' code lengths: how many codes have each length,
// and the symbols in the order of their codes (by length, then by symbol).
struct Code {
    std::array<uint16_t, kMaxBits + 1> counts{};
    std::array<uint16_t, 288> symbols{};
    int used = 0; // symbols with a code

    // Fills the tables from lengths[0..n) (0: no code); returns the code space left over:
    // 0 for a complete code, more for an incomplete one, less for an over-subscribed one.
    int Build(const uint8_t *lengths, size_t n) {
        counts.fill(0);
        for (size_t s = 0; s < n; ++s)
            ++counts[lengths[s]];
        used = static_cast<int>(n) - counts[0];
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = 2 * left - counts[len];
            if (left < 0)
                return left;
        }
        std::array<uint16_t, kMaxBits + 1> next{}; // each length's next place in symbols
        for (int len = 1; len < kMaxBits; ++len)
            next[len + 1] = static_cast<uint16_t>(next[len] + counts[len]);
        for (size_t s = 0; s < n; ++s)
            if (lengths[s] != 0)
                symbols[next[lengths[s]]++] = static_cast<uint16_t>(s);
        return left;
    }
};

class Inflater {
  public:
    Inflater(std::span<const uint8_t> in, size_t maxSize) : in_(in), max_(maxSize) {}

    std::optional<std::string> Run() {
        if (in_.size() < 2)
            return std::nullopt;
        const unsigned method = in_[0], flags = in_[1];
        // Deflate with a window of at most 32 KB, the header's check, no preset dictionary.
        if ((method & 15) != 8 || (method >> 4) > 7 || (method * 256 + flags) % 31 != 0 ||
            (flags & 0x20) != 0)
            return std::nullopt;
        at_ = 2;
        for (bool last = false; !last;) {
            last = Bits(1) != 0;
            const uint32_t type = Bits(2);
            const bool read = type == 0 ? Stored() : type == 1 ? Fixed() : type == 2 && Dynamic();
            if (!read || failed_)
                return std::nullopt;
        }
        // The Adler-32 of the data, most significant byte first, from the next whole byte on;
        // the stream ends there.
        if (bit_ != 0)
            NextByte();
        if (in_.size() - at_ != 4)
            return std::nullopt;
        const uint32_t sum = static_cast<uint32_t>(in_[at_]) << 24 | in_[at_ + 1] << 16 |
                             in_[at_ + 2] << 8 | in_[at_ + 3];
        if (sum != Adler32())
            return std::nullopt;
        return std::move(out_);
    }

  private:
    void NextByte() {
        bit_ = 0;
        ++at_;
    }

    // The next count bits, the first one lowest; past the end of the input 0, and failed_ set.
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (at_ == in_.size()) {
                failed_ = true;
                return 0;
            }
            value |= static_cast<uint32_t>((in_[at_] >> bit_) & 1) << i;
            if (++bit_ == 8)
                NextByte();
        }
        return value;
    }

    // The next symbol of a code (its bits come first bit highest), or -1 for a code it lacks.
    int Decode(const Code &code) {
        int bits = 0, first = 0, index = 0; // first: the first code of the current length
        for (int len = 1; len <= kMaxBits; ++len) {
            bits |= static_cast<int>(Bits(1));
            const int count = code.counts[len];
            if (bits - first < count)
                return code.symbols[index + bits - first];
            index += count;
            first = (first + count) << 1;
            bits <<= 1;
        }
        return -1;
    }

    bool Stored() {
        if (bit_ != 0)
            NextByte();
        if (in_.size() - at_ < 4)
            return false;
        const size_t length = in_[at_] | in_[at_ + 1] << 8;
        const size_t complement = in_[at_ + 2] | in_[at_ + 3] << 8;
        at_ += 4;
        if ((length ^ complement) != 0xffff || in_.size() - at_ < length ||
            max_ - out_.size() < length)
            return false;
        out_.append(reinterpret_cast<const char *>(in_.data() + at_), length);
        at_ += length;
        return true;
    }

    bool Fixed() {
        std::array<uint8_t, 288> lengths{};
        for (size_t s = 0; s < lengths.size(); ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Code literals, distances;
        literals.Build(lengths.data(), 288);
        lengths.fill(5);
        distances.Build(lengths.data(), 32);
        return Symbols(literals, distances);
    }

    bool Dynamic() {
        const size_t literalCount = Bits(5) + 257, distanceCount = Bits(5) + 1;
        const size_t codeLengthCount = Bits(4) + 4;
        if (failed_ || literalCount > kLengthSymbols)
            return false;
        // The code of the code lengths, which must be complete.
        std::array<uint8_t, 19> codeLengthLengths{};
        for (size_t i = 0; i < codeLengthCount; ++i)
            codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Bits(3));
        Code codeLengths;
        if (codeLengths.Build(codeLengthLengths.data(), 19) != 0)
            return false;
        // The literal/length and distance codes' lengths, runs of them coded by 16, 17, 18.
        const size_t total = literalCount + distanceCount;
        std::array<uint8_t, kLengthSymbols + 32> lengths{};
        for (size_t i = 0; i < total;) {
            const int symbol = Decode(codeLengths);
            if (symbol < 0 || failed_)
                return false;
            if (symbol < 16) {
                lengths[i++] = static_cast<uint8_t>(symbol);
                continue;
            }
            if (symbol == 16 && i == 0)
                return false;
            const uint8_t repeated = symbol == 16 ? lengths[i - 1] : 0;
            const size_t run = symbol == 16   ? 3 + Bits(2)
                               : symbol == 17 ? 3 + Bits(3)
                                              : 11 + Bits(7);
            if (run > total - i)
                return false;
            for (size_t k = 0; k < run; ++k)
                lengths[i++] = repeated;
        }
        // Codes are complete, but for one of a single symbol (or a block without distances).
        Code literals, distances;
        const int literalsLeft = literals.Build(lengths.data(), literalCount);
        const int distancesLeft = distances.Build(lengths.data() + literalCount, distanceCount);
        if (literalsLeft < 0 || (literalsLeft > 0 && literals.used > 1) || distancesLeft < 0 ||
            (distancesLeft > 0 && distances.used > 1))
            return false;
        return Symbols(literals, distances);
    }

    // A block's literals and copies, up to its end.
    bool Symbols(const Code &literals, const Code &distances) {
        for (;;) {
            int symbol = Decode(literals);
            if (symbol < 0 || symbol >= kLengthSymbols || failed_)
                return false;
            if (symbol == 256)
                return true;
            if (symbol < 256) {
                if (out_.size() == max_)
                    return false;
                out_ += static_cast<char>(symbol);
                continue;
            }
            symbol -= 257;
            const size_t length = kLengthBase[symbol] + Bits(kLengthExtra[symbol]);
            const int code = Decode(distances);
            if (code < 0 || code >= kDistanceSymbols)
                return false;
            const size_t distance = kDistanceBase[code] + Bits(kDistanceExtra[code]);
            if (failed_ || distance > out_.size() || max_ - out_.size() < length)
                return false;
            // Byte by byte: a copy may overlap the bytes it makes.
            for (size_t i = 0; i < length; ++i)
                out_ += out_[out_.size() - distance];
        }
    }

    uint32_t Adler32() const {
        uint32_t a = 1, b = 0;
        for (const char c : out_) {
            a = (a + static_cast<unsigned char>(c)) % 65521;
            b = (b + a) % 65521;
        }
        return b << 16 | a;
    }

    std::span<const uint8_t> in_;
    size_t max_;
    size_t at_ = 0;       // the next byte
    int bit_ = 0;         // the next bit in it
    bool failed_ = false; // read past the end
    std::string out_;
};

} // namespace

std::optional<std::string> InflateZlib(std::span<const uint8_t> packed, size_t maxSize) {
    return Inflater(packed, maxSize).Run();
}

} // namespace platform
