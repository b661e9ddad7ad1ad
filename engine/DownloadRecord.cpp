#include "engine/DownloadRecord.h"

#include <algorithm>
#include <limits>

namespace engine {
namespace {

using Range = std::pair<int64_t, int64_t>;

constexpr std::string_view kFirstLinePrefix = "Talvex download record ";
constexpr std::string_view kChecksumKey = "checksum ";
constexpr size_t kChecksumLine = kChecksumKey.size() + 8 + 1;
constexpr char kHex[] = "0123456789abcdef";

// CRC-32 as Ethernet, zip and PNG have it (reflected polynomial 0xEDB88320), bit by bit: a
// record is at most 64 KiB and read once per run, so no table is needed.
uint32_t Crc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Hex(uint64_t value, int digits) {
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<size_t>(i)] = kHex[value & 0xF];
    return text;
}

bool IsLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool IsLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A value as the record holds it: not empty, no control characters (a line end, a carriage
// return or a NUL would let a value be read as something else by the program that uses it).
bool IsValue(std::string_view text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

// A number without sign or leading zeros ("0" alone) that fits int64_t; -1 for anything else.
int64_t Number(std::string_view text) {
    if (text.empty() || (text.size() > 1 && text[0] == '0'))
        return -1;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return -1;
        value = value * 10 + digit;
    }
    return value;
}

std::string Line(std::string_view key, std::string_view value) {
    std::string line;
    line.reserve(key.size() + value.size() + 2);
    line.append(key).append(" ").append(value).append("\n");
    return line;
}

std::string DoneLine(const Range &range) {
    return Line("done", std::to_string(range.first) + " " + std::to_string(range.second));
}

// The ranges that go into a record with `room` bytes left for their lines: all of them when
// they fit, else as many as fit of the longest first (kMostDoneRanges at most), ascending.
std::vector<Range> RangesThatFit(std::vector<Range> ranges, size_t room) {
    size_t length = 0;
    for (const Range &range : ranges)
        length += DoneLine(range).size();
    if (ranges.size() <= kMostDoneRanges && length <= room)
        return ranges;
    std::stable_sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) {
        return a.second - a.first > b.second - b.first;
    });
    std::vector<Range> kept;
    length = 0;
    for (const Range &range : ranges) {
        const size_t line = DoneLine(range).size();
        if (kept.size() == kMostDoneRanges)
            break;
        if (length + line > room)
            continue;
        length += line;
        kept.push_back(range);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// Reads one "key value" line (without its line end) into `record`; false when it breaks a
// rule. `seen` marks the keys that may come only once.
bool ReadField(std::string_view line, DownloadRecord &record, unsigned &seen) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return false;
    const std::string_view key = line.substr(0, space), value = line.substr(space + 1);
    if (!IsValue(value))
        return false;
    if (key == "signer") {
        record.Signers.emplace_back(value);
        return true;
    }
    if (key == "done") {
        const size_t gap = value.find(' ');
        if (gap == std::string_view::npos || record.Done.size() == kMostDoneRanges)
            return false;
        const int64_t first = Number(value.substr(0, gap)), last = Number(value.substr(gap + 1));
        if (first < 0 || last < first)
            return false;
        // Ascending and apart: a byte between this range and the one before it.
        if (!record.Done.empty() && first - record.Done.back().second < 2)
            return false;
        record.Done.emplace_back(first, last);
        return true;
    }
    static constexpr std::string_view kOnce[] = {"url",  "name",          "working", "size",
                                                 "etag", "last-modified", "sha256"};
    const auto known = std::find(std::begin(kOnce), std::end(kOnce), key);
    if (known == std::end(kOnce))
        return false;
    const unsigned bit = 1u << (known - std::begin(kOnce));
    if (seen & bit)
        return false;
    seen |= bit;
    if (key == "url") {
        record.Url = value;
    } else if (key == "name") {
        // A bare name in the working file's folder, never a path out of it.
        if (value == "." || value == ".." || value.find_first_of("/\\") != std::string::npos)
            return false;
        record.FileName = value;
    } else if (key == "working") {
        if (!IsWorkingFileName(value))
            return false;
        record.WorkingName = value;
    } else if (key == "size") {
        if ((record.Size = Number(value)) < 0)
            return false;
    } else if (key == "etag") {
        record.ETag = value;
    } else if (key == "last-modified") {
        record.LastModified = value;
    } else { // sha256
        if (value.size() != 64 || !IsLowerHex(value))
            return false;
        record.Sha256 = value;
    }
    return true;
}

} // namespace

std::vector<Range> MergedRanges(std::vector<Range> ranges) {
    std::erase_if(ranges, [](const Range &range) { return range.second < range.first; });
    std::sort(ranges.begin(), ranges.end());
    std::vector<Range> merged;
    for (const Range &range : ranges) {
        // Overlapping or adjacent (written so that a last byte of INT64_MAX cannot overflow).
        if (!merged.empty() && (range.first <= merged.back().second ||
                                (merged.back().second < std::numeric_limits<int64_t>::max() &&
                                 range.first == merged.back().second + 1))) {
            merged.back().second = std::max(merged.back().second, range.second);
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

std::string EncodeRecord(const DownloadRecord &record) {
    std::string text = std::string(kFirstLinePrefix) + std::to_string(kRecordVersion) + "\n";
    text += Line("url", record.Url);
    text += Line("name", record.FileName);
    text += Line("working", record.WorkingName);
    text += Line("size", std::to_string(record.Size));
    if (!record.ETag.empty())
        text += Line("etag", record.ETag);
    if (!record.LastModified.empty())
        text += Line("last-modified", record.LastModified);
    if (!record.Sha256.empty())
        text += Line("sha256", record.Sha256);
    for (const std::string &signer : record.Signers)
        text += Line("signer", signer);
    if (text.size() + kChecksumLine > kLongestRecord)
        return {};

    // Only bytes of the file can be on disk: a range is cut to 0..Size-1 first.
    std::vector<Range> done;
    done.reserve(record.Done.size());
    for (const Range &range : record.Done)
        done.emplace_back(std::max<int64_t>(range.first, 0),
                          std::min<int64_t>(range.second, record.Size - 1));
    for (const Range &range :
         RangesThatFit(MergedRanges(std::move(done)), kLongestRecord - kChecksumLine - text.size()))
        text += DoneLine(range);

    text += Line("checksum", Hex(Crc32(text), 8));
    return text;
}

RecordStatus DecodeRecord(std::string_view bytes, DownloadRecord &record) {
    if (bytes.size() > kLongestRecord)
        return RecordStatus::Damaged;

    const size_t firstEnd = bytes.find('\n');
    if (firstEnd == std::string_view::npos ||
        !bytes.substr(0, firstEnd).starts_with(kFirstLinePrefix))
        return RecordStatus::Damaged;
    const int64_t version =
        Number(bytes.substr(kFirstLinePrefix.size(), firstEnd - kFirstLinePrefix.size()));
    if (version < 1)
        return RecordStatus::Damaged;
    // A later version may differ in anything after its first line, the checksum included.
    if (version > kRecordVersion)
        return RecordStatus::TooNew;

    // The last line, "checksum XXXXXXXX\n", over every byte before it.
    if (bytes.size() < firstEnd + 1 + kChecksumLine)
        return RecordStatus::Damaged;
    const size_t checksumAt = bytes.size() - kChecksumLine;
    const std::string_view checksumLine = bytes.substr(checksumAt);
    const std::string_view digits = checksumLine.substr(kChecksumKey.size(), 8);
    if (bytes[checksumAt - 1] != '\n' ||
        checksumLine.substr(0, kChecksumKey.size()) != kChecksumKey ||
        checksumLine.back() != '\n' || digits != Hex(Crc32(bytes.substr(0, checksumAt)), 8))
        return RecordStatus::Damaged;

    DownloadRecord read;
    unsigned seen = 0;
    for (size_t at = firstEnd + 1; at < checksumAt;) {
        const size_t end = bytes.find('\n', at); // found: the byte before checksumAt is one
        if (!ReadField(bytes.substr(at, end - at), read, seen))
            return RecordStatus::Damaged;
        at = end + 1;
    }
    constexpr unsigned kRequired = 0xF; // url, name, working, size
    if ((seen & kRequired) != kRequired ||
        (!read.Done.empty() && read.Done.back().second >= read.Size))
        return RecordStatus::Damaged;
    record = std::move(read);
    return RecordStatus::Good;
}

std::string RecordFileName(const std::string &url) {
    uint64_t hash = 0xcbf29ce484222325u; // 64-bit FNV-1a
    for (unsigned char byte : url)
        hash = (hash ^ byte) * 0x100000001b3u;
    return "tlv" + Hex(hash, 16) + ".resume";
}

bool IsWorkingFileName(std::string_view name) {
    constexpr std::string_view kStart = "tlv", kEnd = ".tmp";
    if (name.size() < kStart.size() + 1 + kEnd.size() ||
        name.size() > kStart.size() + 32 + kEnd.size() || !name.starts_with(kStart) ||
        !name.ends_with(kEnd))
        return false;
    const std::string_view middle =
        name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
    return std::all_of(middle.begin(), middle.end(), IsLetterOrDigit);
}

} // namespace engine
