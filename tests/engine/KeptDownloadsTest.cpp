// Kept downloads in an output folder: which one a run takes over, what it leaves alone, and
// what the tidying removes, on real files.
#include "engine/KeptDownloads.h"
#include "engine/FileSink.h"
#include "platform/Files.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using engine::DownloadRecord;
using engine::KeptState;

constexpr int64_t kDay = 24 * 60 * 60;

class KeptDownloads : public testsupport::ScratchFolderTest {
  protected:
    // A kept download of `url`: its working file of `size` bytes and its record, `age` old.
    DownloadRecord Keep(const std::string &url, const std::string &working, int64_t age,
                        int64_t size = 1000) {
        DownloadRecord record{url, "f.bin", working, size, "\"v1\"", "", "", {}, {{0, 99}}};
        std::ofstream(folder_ + working, std::ios::binary) << std::string(size, 'x');
        std::ofstream(folder_ + engine::RecordFileName(url), std::ios::binary)
            << engine::EncodeRecord(record);
        Age(working, age);
        Age(engine::RecordFileName(url), age);
        return record;
    }
    void Age(const std::string &name, int64_t seconds) {
        platform::SetModificationTime(folder_ + name, now - seconds);
    }
    bool Exists(const std::string &name) const { return fs::exists(folder_ + name); }

    const int64_t now = static_cast<int64_t>(std::time(nullptr));
};

TEST(ResumeValidator, AStrongETagElseTheDateElseNone) {
    EXPECT_EQ(engine::ResumeValidator({"\"abc\"", "Tue, 01 Jul 2025 10:00:00 GMT"}), "\"abc\"");
    EXPECT_EQ(engine::ResumeValidator({"W/\"abc\"", "Tue, 01 Jul 2025 10:00:00 GMT"}),
              "Tue, 01 Jul 2025 10:00:00 GMT")
        << "a weak ETag never matches in If-Range";
    EXPECT_EQ(engine::ResumeValidator({"W/\"abc\"", ""}), "");
    EXPECT_EQ(engine::ResumeValidator({"\"a\r\nX-Evil: 1\"", ""}), "")
        << "nothing that would add a header line";
    EXPECT_EQ(engine::ResumeValidator({std::string(2000, 'a'), ""}), "");
}

TEST_F(KeptDownloads, TheSameDownloadIsTakenOverAChangedOneStartsOverAnotherIsLeftAlone) {
    const DownloadRecord kept = Keep("http://h/f.bin", "tlvA.tmp", 60);
    DownloadRecord wanted = kept;
    wanted.Done.clear();
    wanted.WorkingName.clear();
    {
        engine::FileSink sink;
        std::vector<std::pair<int64_t, int64_t>> done;
        ASSERT_EQ(engine::TakeOverKept(folder_, wanted, sink, done), KeptState::TakenOver);
        EXPECT_EQ(done, kept.Done);
        // While this run writes it, another run of the download keeps nothing of its own.
        engine::FileSink other;
        EXPECT_EQ(engine::TakeOverKept(folder_, wanted, other, done), KeptState::Busy);
        sink.Keep();
    }
    // The server's file has another ETag now: what was kept goes.
    wanted.ETag = "\"v2\"";
    {
        engine::FileSink sink;
        std::vector<std::pair<int64_t, int64_t>> done;
        EXPECT_EQ(engine::TakeOverKept(folder_, wanted, sink, done), KeptState::None);
    }
    EXPECT_FALSE(Exists("tlvA.tmp"));
    EXPECT_FALSE(Exists(engine::RecordFileName("http://h/f.bin")));

    // A record under this download's name that is another URL's stays as it is.
    Keep("http://h/other.bin", "tlvB.tmp", 60);
    fs::rename(folder_ + engine::RecordFileName("http://h/other.bin"),
               folder_ + engine::RecordFileName("http://h/f.bin"));
    engine::FileSink sink;
    std::vector<std::pair<int64_t, int64_t>> done;
    EXPECT_EQ(engine::TakeOverKept(folder_, wanted, sink, done), KeptState::Foreign);
    EXPECT_TRUE(Exists("tlvB.tmp"));
}

TEST_F(KeptDownloads, TidyingRemovesOldKeptDownloadsOrphansAndUnfinishedRecordsNeverAHeldFile) {
    Keep("http://h/old.bin", "tlvOld.tmp", 8 * kDay);
    Keep("http://h/recent.bin", "tlvRecent.tmp", 6 * kDay);
    std::ofstream(folder_ + "tlvOrphan.tmp") << "x";
    Age("tlvOrphan.tmp", 2 * kDay);
    std::ofstream(folder_ + "tlvYoung.tmp") << "x";
    Age("tlvYoung.tmp", kDay / 2);
    std::ofstream(folder_ + "tlvmine.txt") << "x"; // not a working file's name
    Age("tlvmine.txt", 30 * kDay);
    // Records runs were writing when they ended (the names of both systems' temporaries):
    // another download's after a minute, this run's own at once.
    const std::string other = engine::RecordFileName("http://h/x.bin");
    const std::string own = engine::RecordFileName("http://h/own.bin");
    const struct {
        std::string name;
        int64_t age;
        bool stays;
    } unfinished[] = {{"." + other + ".a1B2c3", 120, false},
                      {other + ".a1B2c3.new", 120, false},
                      {"." + own + ".d4E5f6", 0, false},
                      {"." + other + ".g7H8i9", 30, true}}; // another run may be writing it
    for (const auto &record : unfinished) {
        std::ofstream(folder_ + record.name) << "x";
        Age(record.name, record.age);
    }
    // An orphan's name that a running download holds stays.
    engine::FileSink running;
    ASSERT_EQ(running.Open(folder_, 10), std::nullopt);
    const std::string held = running.Path().substr(folder_.size());
    Age(held, 2 * kDay);

    engine::TidyFolder(folder_, now, own);
    EXPECT_FALSE(Exists("tlvOld.tmp"));
    EXPECT_FALSE(Exists(engine::RecordFileName("http://h/old.bin")));
    EXPECT_TRUE(Exists("tlvRecent.tmp"));
    EXPECT_TRUE(Exists(engine::RecordFileName("http://h/recent.bin")));
    EXPECT_FALSE(Exists("tlvOrphan.tmp"));
    EXPECT_TRUE(Exists("tlvYoung.tmp"));
    EXPECT_TRUE(Exists("tlvmine.txt"));
    for (const auto &record : unfinished)
        EXPECT_EQ(Exists(record.name), record.stays) << record.name;
    EXPECT_TRUE(Exists(held));
}

} // namespace
