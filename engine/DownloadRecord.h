#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine {

// What a kept download holds, as written beside its working file.
struct DownloadRecord {
    std::string Url;                  // the download's URL, as asked for
    std::string FileName;             // the final file name
    std::string WorkingName;          // the working file's name, in the same folder
    int64_t Size = 0;                 // the file's size in bytes
    std::string ETag;                 // the server's ETag, as given (quotes included); empty: none
    std::string LastModified;         // the server's Last-Modified, as given; empty: none
    std::string Sha256;               // the pinned digest (64 lower-case hex digits); empty: none
    std::vector<std::string> Signers; // the pinned signer names; none: no pin
    // The byte ranges complete on disk, first to last byte inclusive.
    std::vector<std::pair<int64_t, int64_t>> Done;
    bool operator==(const DownloadRecord &) const = default;
};

inline constexpr int kRecordVersion = 1;
inline constexpr size_t kLongestRecord = 64 * 1024; // longer: not a record of ours
inline constexpr size_t kMostDoneRanges = 4096;     // more: not a record of ours

// The record's bytes: a text of lines ("\n" ends each), the format's name and version first,
// then one "key value" line per field, ending in a checksum line over everything before it:
//
//   Talvex download record 1
//   url https://example.com/a.zip
//   name a.zip
//   working tlv1a2b.tmp
//   size 1000
//   etag "x1"                  (etag, last-modified and sha256 only when not empty)
//   last-modified Tue, 01 Jul 2025 10:00:00 GMT
//   sha256 <64 lower-case hex digits>
//   signer Example Ltd         (one line per signer)
//   done 0 99                  (one line per range, ascending)
//   checksum <the CRC-32 of every byte above: 8 lower-case hex digits>
//
// The fields other than Done are taken as valid: URL and names without control characters
// and not empty (signer names too), a file name without '/' or '\\' other than "." and "..",
// a working name that IsWorkingFileName accepts, Size >= 0, Sha256 empty or 64 lower-case hex
// digits. Done is made valid here: clipped to the file's bytes, sorted and merged
// (MergedRanges); if it then has more than kMostDoneRanges ranges or the record would be longer
// than kLongestRecord, the shortest ranges are left out (those bytes are fetched again; nothing
// is claimed that is not on disk). Empty when even without ranges the record would be longer
// than kLongestRecord: such a download cannot be kept.
std::string EncodeRecord(const DownloadRecord &record);

enum class RecordStatus { Good, Damaged, TooNew };
// Reads a record as EncodeRecord writes it, exactly: the keys in any order but each once
// (signer and done repeat), url, name, working and size present, the checksum right, values
// as EncodeRecord takes them, ranges within the size, ascending and apart. TooNew: the first
// line names a later version (its checksum is not checked). Anything but Good leaves `record`
// unchanged.
RecordStatus DecodeRecord(std::string_view bytes, DownloadRecord &record);

// The record's file name for a download of `url`: "tlv" + 16 lower-case hex digits of a hash of
// the URL (64-bit FNV-1a of its bytes) + ".resume". The same URL always gives the same name, on
// every system; a record found under it may still be another URL's (or planted): compare Url.
std::string RecordFileName(const std::string &url);

// Whether `name` is a working file's name: "tlv", then 1 to 32 ASCII letters or digits, then
// ".tmp".
bool IsWorkingFileName(std::string_view name);

// Ranges first..last, sorted and merged (adjacent or overlapping become one); empty ranges
// (last < first) dropped.
std::vector<std::pair<int64_t, int64_t>>
MergedRanges(std::vector<std::pair<int64_t, int64_t>> ranges);

} // namespace engine
