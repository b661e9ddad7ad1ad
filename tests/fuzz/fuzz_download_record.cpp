// The reading of a download record left beside a working file: bytes that a later run finds on
// disk and must not trust. Each input is read as it is, and sealed with a correct checksum line
// (random bytes seldom carry one, and the fields behind it are what is read most).
#include "engine/DownloadRecord.h"
#include "tests/support/SealedRecord.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstdio>

namespace {

using testsupport::SealedRecord;

// The lines of a record above its checksum line, sorted: a record read back and written again
// holds the same lines, in the writer's order.
std::vector<std::string> SortedLines(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    if (!lines.empty())
        lines.pop_back();
    std::sort(lines.begin(), lines.end());
    return lines;
}

void Read(const std::string &bytes) {
    engine::DownloadRecord record;
    if (engine::DecodeRecord(bytes, record) != engine::RecordStatus::Good)
        return;

    fuzz::Check(engine::IsWorkingFileName(record.WorkingName), "the working name is one of ours");
    fuzz::Check(record.FileName.find_first_of("/\\") == std::string::npos &&
                    record.FileName != "." && record.FileName != "..",
                "the file name stays in its folder");
    fuzz::Check(record.Done.size() <= engine::kMostDoneRanges, "at most the most ranges");
    fuzz::Check(engine::MergedRanges(record.Done) == record.Done, "the ranges are apart");
    fuzz::Check(record.Done.empty() ||
                    (record.Done.front().first >= 0 && record.Done.back().second < record.Size),
                "the ranges are within the file");

    const std::string again = engine::EncodeRecord(record);
    fuzz::Check(again.size() == bytes.size() && SortedLines(again) == SortedLines(bytes),
                "a record written again holds the same lines");
    engine::DownloadRecord reread;
    fuzz::Check(engine::DecodeRecord(again, reread) == engine::RecordStatus::Good,
                "a record written again reads back");
    fuzz::Check(reread == record, "a record written again reads back the same");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes = fuzz::Text(data, size);
    Read(bytes);
    Read(SealedRecord(bytes));
    return 0;
}
