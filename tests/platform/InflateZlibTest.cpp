// The decoder against zlib itself (Linux: the Windows build has no zlib).
#include "platform/Inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Compressed(const std::string &data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> packed(size);
    EXPECT_EQ(compress2(packed.data(), &size, reinterpret_cast<const Bytef *>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    packed.resize(size);
    return packed;
}

std::string Random(size_t size, std::mt19937 &random) {
    std::string data(size, '\0');
    for (char &c : data)
        c = static_cast<char>(random() & 0xff);
    return data;
}

// Words from a small vocabulary, as a catalogue's texts repeat theirs.
std::string TextLike(size_t size, std::mt19937 &random) {
    const char *const words[] = {"download ", "the ",    "file ",   "server ", "could not ",
                                 "be ",       "found. ", "Proxy\n", "Größe ",  "ダウンロード "};
    std::string text;
    while (text.size() < size)
        text += words[random() % std::size(words)];
    text.resize(size);
    return text;
}

TEST(InflateZlib, DecodesWhatZlibCompressesAtEachLevel) {
    std::mt19937 random(20261210);
    const struct {
        const char *name;
        std::string data;
    } inputs[] = {
        {"nothing", ""},
        {"one byte", "x"},
        {"100 KB of random bytes", Random(100000, random)},
        {"100 KB of text", TextLike(100000, random)},
        {"100 KB of one byte", std::string(100000, 'a')},
        {"a short text repeated", std::string(3000, 'z') + TextLike(300, random) + "end"},
    };
    for (const auto &input : inputs)
        for (const int level : {0, 1, 9}) {
            const std::vector<uint8_t> packed = Compressed(input.data, level);
            const std::optional<std::string> unpacked =
                platform::InflateZlib(packed, input.data.size());
            ASSERT_TRUE(unpacked) << input.name << " at level " << level;
            EXPECT_TRUE(*unpacked == input.data) << input.name << " at level " << level;
        }
}

} // namespace
