#include "engine/KeptDownloads.h"

#include "engine/FileSink.h"
#include "platform/Url.h"
#include "platform/Files.h"

#include <cerrno>
#include <set>

namespace engine {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;
// A kept download nobody went on with for this long is not wanted any more.
constexpr int64_t kKeptFor = 7 * kDay;
// A working file without a record is a crashed run's once it is this old.
constexpr int64_t kOrphanedAfter = kDay;
// A record is written under another name and renamed within moments: one still under such a
// name this long is a run's that ended in between.
constexpr int64_t kUnfinishedRecordAfter = 60;

// The longest validator kept: a header value longer than this is not a file's version.
constexpr size_t kLongestValidator = 1024;

// A value that can go into a request header (and a record's line) as it is.
bool Printable(const std::string &value) {
    return value.size() <= kLongestValidator && platform::ControlCharacterIn(value).empty();
}

// The record's name that `name` has while it is written, before its rename (the record's name
// with more after it, and a leading dot on POSIX systems); empty for other names.
std::string RecordBeingWritten(const std::string &name) {
    const size_t start = name.starts_with(".tlv") ? 1 : 0;
    const size_t end = name.find(".resume.", start);
    if (name.compare(start, 3, "tlv") != 0 || end == std::string::npos)
        return "";
    return name.substr(start, end + 7 - start);
}

// The record in `path`, when it is one of ours that this program can read.
bool ReadRecord(const std::string &path, DownloadRecord &record) {
    std::string bytes;
    return platform::ReadFileUpTo(path, kLongestRecord, bytes) == 0 &&
           DecodeRecord(bytes, record) == RecordStatus::Good;
}

// Removes a kept download: its working file first (unless another run holds it: then both
// stay), then its record.
void RemoveKept(const std::string &directory, const std::string &recordName,
                const DownloadRecord &record) {
    const std::string working = directory + record.WorkingName;
    if (platform::FileHeld(working))
        return;
    platform::RemoveFile(working);
    platform::RemoveFile(directory + recordName);
}

} // namespace

Validators Recordable(const Validators &validators) {
    return Validators{Printable(validators.ETag) ? validators.ETag : "",
                      Printable(validators.LastModified) ? validators.LastModified : ""};
}

std::string ResumeValidator(const Validators &validators) {
    const std::string &tag = validators.ETag;
    // A weak ETag ("W/...") never matches in If-Range: the date is the better validator then.
    if (!tag.empty() && !tag.starts_with("W/") && Printable(tag))
        return tag;
    return Printable(validators.LastModified) ? validators.LastModified : "";
}

bool Resumable(const DownloadRecord &wanted) {
    return wanted.Size > 0 &&
           (!ResumeValidator({wanted.ETag, wanted.LastModified}).empty() || !wanted.Sha256.empty());
}

KeptState TakeOverKept(const std::string &directory, const DownloadRecord &wanted, FileSink &sink,
                       std::vector<std::pair<int64_t, int64_t>> &done) {
    const std::string name = RecordFileName(wanted.Url);
    DownloadRecord kept;
    if (!ReadRecord(directory + name, kept))
        return KeptState::None; // none, damaged or too new: replaced by this run's
    if (kept.Url != wanted.Url)
        return KeptState::Foreign;
    const std::string validator = ResumeValidator({wanted.ETag, wanted.LastModified});
    const bool same = kept.FileName == wanted.FileName && kept.Size == wanted.Size &&
                      ResumeValidator({kept.ETag, kept.LastModified}) == validator &&
                      kept.Sha256 == wanted.Sha256 && kept.Signers == wanted.Signers &&
                      (!validator.empty() || !wanted.Sha256.empty());
    if (!same) {
        // The file changed on the server (or the pins did): what is kept is of no use.
        RemoveKept(directory, name, kept);
        return platform::FileHeld(directory + kept.WorkingName) ? KeptState::Busy : KeptState::None;
    }
    const int error = sink.OpenKept(directory + kept.WorkingName, wanted.Size);
    if (error == EBUSY)
        return KeptState::Busy;
    if (error != 0) {
        platform::RemoveFile(directory + name);
        return KeptState::None;
    }
    done = kept.Done;
    return KeptState::TakenOver;
}

void TidyFolder(const std::string &directory, int64_t now, const std::string &ownRecord) {
    const std::vector<platform::FolderEntry> files = platform::RegularFilesIn(directory);
    // The working files that records name: a kept download's, never an orphan.
    std::set<std::string> named;
    for (const platform::FolderEntry &file : files) {
        if (!file.name.starts_with("tlv") || !file.name.ends_with(".resume"))
            continue;
        DownloadRecord record;
        const bool readable = ReadRecord(directory + file.name, record);
        if (now - file.modified > kKeptFor) {
            if (readable)
                RemoveKept(directory, file.name, record);
            else
                platform::RemoveFile(directory + file.name);
            if (platform::PathExists(directory + file.name))
                named.insert(record.WorkingName);
        } else if (readable) {
            named.insert(record.WorkingName);
        }
    }
    for (const platform::FolderEntry &file : files) {
        if (IsWorkingFileName(file.name) && !named.count(file.name) &&
            now - file.modified > kOrphanedAfter && !platform::FileHeld(directory + file.name))
            platform::RemoveFile(directory + file.name);
        else if (const std::string record = RecordBeingWritten(file.name);
                 !record.empty() &&
                 (record == ownRecord || now - file.modified > kUnfinishedRecordAfter))
            platform::RemoveFile(directory + file.name);
    }
}

} // namespace engine
