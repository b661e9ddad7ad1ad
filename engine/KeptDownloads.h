#pragma once

#include "engine/DownloadRecord.h"
#include "engine/HTTP.h"

#include <cstdint>
#include <string>

namespace engine {

class FileSink;

// The validator a continued download's range requests carry in If-Range, as the server gave
// it: its ETag when that is a strong one, else its Last-Modified; empty when it gave neither
// (or only values that cannot go into a request).
std::string ResumeValidator(const Validators &validators);

// The validators as a record keeps them: a value with control characters, or too long for a
// request header, counts as not given.
Validators Recordable(const Validators &validators);

// Whether a record was written for the download of `wanted` (its URL, name, size, validators
// and pins): it can be continued when the server says the same about the file again, or the
// whole file is checked against a pinned digest in the end anyway.
bool Resumable(const DownloadRecord &wanted);

// What became of the kept download of `wanted` in `directory` (ending in a separator).
enum class KeptState {
    None,      // nothing kept (or nothing of use: whatever was there is gone or left alone)
    TakenOver, // its working file is open in `sink`, with the ranges of `done` on disk
    Busy,      // another run is writing it now: this one must keep nothing of its own
    Foreign,   // the record's name is another download's: left alone, nothing kept here
};
KeptState TakeOverKept(const std::string &directory, const DownloadRecord &wanted, FileSink &sink,
                       std::vector<std::pair<int64_t, int64_t>> &done);

// Tidies `directory` of what earlier runs left (`now`: seconds since 1970): kept downloads
// whose record is older than a week, working files of no record older than a day (never one
// that a running download holds), and records a run ended in the middle of writing: after a
// minute, or at once for `ownRecord`, the record this run writes (no other writes it).
void TidyFolder(const std::string &directory, int64_t now, const std::string &ownRecord = "");

} // namespace engine
