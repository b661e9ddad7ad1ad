// The record kept beside an interrupted download's working file: its bytes, and what a later
// run accepts of them.
#include "engine/DownloadRecord.h"
#include "tests/support/SealedRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

using engine::DecodeRecord;
using engine::EncodeRecord;
using engine::RecordStatus;
using testsupport::SealedRecord;
using Ranges = std::vector<std::pair<int64_t, int64_t>>;

const std::string kHead = "Talvex download record 1\nurl http://h/f\nname f\nworking tlv1.tmp\n";

engine::DownloadRecord Full() {
    engine::DownloadRecord r;
    r.Url = "https://example.com/files/setup.exe?v=2";
    r.FileName = "setup.exe";
    r.WorkingName = "tlv7Qx2.tmp";
    r.Size = 1000;
    r.ETag = "W/\"5e-1a\"";
    r.LastModified = "Tue, 01 Jul 2025 10:00:00 GMT";
    r.Sha256 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    r.Signers = {"Example Ltd", "Other, Inc."};
    r.Done = {{500, 999}, {0, 49}, {200, 499}, {50, 99}, {990, 1500}, {300, 250}};
    return r;
}

TEST(DownloadRecord, WritesTheTextALaterRunReadsBack) {
    const std::string text = EncodeRecord(Full());
    EXPECT_EQ(text, "Talvex download record 1\n"
                    "url https://example.com/files/setup.exe?v=2\n"
                    "name setup.exe\n"
                    "working tlv7Qx2.tmp\n"
                    "size 1000\n"
                    "etag W/\"5e-1a\"\n"
                    "last-modified Tue, 01 Jul 2025 10:00:00 GMT\n"
                    "sha256 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n"
                    "signer Example Ltd\n"
                    "signer Other, Inc.\n"
                    "done 0 99\n"
                    "done 200 999\n"
                    "checksum 93d53f09\n");
    engine::DownloadRecord read;
    ASSERT_EQ(DecodeRecord(text, read), RecordStatus::Good);
    engine::DownloadRecord expected = Full();
    expected.Done = {{0, 99}, {200, 999}}; // merged, and cut at the file's end
    EXPECT_EQ(read, expected);

    engine::DownloadRecord minimal;
    minimal.Url = "http://h/f";
    minimal.FileName = "f";
    minimal.WorkingName = "tlv1.tmp";
    ASSERT_EQ(DecodeRecord(EncodeRecord(minimal), read), RecordStatus::Good);
    EXPECT_EQ(read, minimal);
    EXPECT_EQ(EncodeRecord(minimal), SealedRecord(kHead + "size 0\n"));
}

TEST(DownloadRecord, AnyChangedMissingOrAddedByteIsDamage) {
    const std::string text = EncodeRecord(Full());
    engine::DownloadRecord read;
    for (size_t at = 0; at < text.size(); ++at) {
        for (unsigned char flip : {0x01, 0x80}) {
            std::string changed = text;
            changed[at] = static_cast<char>(changed[at] ^ flip);
            EXPECT_EQ(DecodeRecord(changed, read), RecordStatus::Damaged) << at;
        }
        EXPECT_EQ(DecodeRecord(text.substr(0, at), read), RecordStatus::Damaged) << at;
    }
    EXPECT_EQ(DecodeRecord(text + "\n", read), RecordStatus::Damaged);
}

TEST(DownloadRecord, ALaterVersionIsTooNewWhateverFollows) {
    engine::DownloadRecord read;
    EXPECT_EQ(DecodeRecord("Talvex download record 2\nwhatever\n", read), RecordStatus::TooNew);
    EXPECT_EQ(DecodeRecord("Talvex download record 10\n", read), RecordStatus::TooNew);
    EXPECT_EQ(DecodeRecord("Talvex download record 02\n", read), RecordStatus::Damaged);
    EXPECT_EQ(DecodeRecord("Talvex download record 2", read), RecordStatus::Damaged);
    EXPECT_EQ(DecodeRecord("Talvex download record 2 \n", read), RecordStatus::Damaged);
    EXPECT_EQ(DecodeRecord("Talvex download record 0\n", read), RecordStatus::Damaged);
}

TEST(DownloadRecord, ACorrectChecksumDoesNotMakeBadFieldsGood) {
    struct Row {
        std::string fields; // after kHead's
        RecordStatus status;
    } rows[] = {
        {"size 100\ndone 0 9\ndone 11 99\n", RecordStatus::Good},
        {"done 0 0\nsigner a b\nsize 1\netag  x\n", RecordStatus::Good},
        // Working files and names that lead out of the folder.
        {"working ../x\nsize 1\n", RecordStatus::Damaged},
        {"working /etc/passwd\nsize 1\n", RecordStatus::Damaged},
        {"working tlv.tmp\nsize 1\n", RecordStatus::Damaged},
        {"name ..\nsize 1\n", RecordStatus::Damaged},
        {"name a\\b\nsize 1\n", RecordStatus::Damaged},
        // Ranges that overlap, touch, go backwards or past the end.
        {"size 100\ndone 0 9\ndone 5 20\n", RecordStatus::Damaged},
        {"size 100\ndone 0 9\ndone 10 20\n", RecordStatus::Damaged},
        {"size 100\ndone 20 29\ndone 0 9\n", RecordStatus::Damaged},
        {"size 100\ndone 9 5\n", RecordStatus::Damaged},
        {"size 100\ndone 0 100\n", RecordStatus::Damaged},
        {"size 100\ndone 0  9\n", RecordStatus::Damaged},
        // Numbers, digests, keys and values.
        {"size 01\n", RecordStatus::Damaged},
        {"size -1\n", RecordStatus::Damaged},
        {"size 9223372036854775808\n", RecordStatus::Damaged},
        {"size 1\nsha256 " + std::string(64, 'A') + "\n", RecordStatus::Damaged},
        {"size 1\nsha256 " + std::string(63, 'a') + "\n", RecordStatus::Damaged},
        {"size 1\nsize 1\n", RecordStatus::Damaged},
        {"size 1\ncolour red\n", RecordStatus::Damaged},
        {"size 1\netag \n", RecordStatus::Damaged},
        {"size 1\netag a\rb\n", RecordStatus::Damaged},
        {"size 1\n\n", RecordStatus::Damaged},
        {"", RecordStatus::Damaged},
    };
    engine::DownloadRecord read;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.fields);
        EXPECT_EQ(DecodeRecord(SealedRecord(kHead + row.fields), read), row.status);
    }
    std::string many = kHead + "size 100000\n";
    for (int i = 0; i < 4096; ++i)
        many += "done " + std::to_string(2 * i) + " " + std::to_string(2 * i) + "\n";
    EXPECT_EQ(DecodeRecord(SealedRecord(many), read), RecordStatus::Good);
    EXPECT_EQ(DecodeRecord(SealedRecord(many + "done 9000 9000\n"), read), RecordStatus::Damaged);

    // The longest record, and one byte more.
    const auto withETag = [](size_t length) {
        return SealedRecord(kHead + "size 1\netag " + std::string(length, 'x') + "\n");
    };
    const size_t fits = engine::kLongestRecord - withETag(0).size();
    EXPECT_EQ(DecodeRecord(withETag(fits), read), RecordStatus::Good);
    EXPECT_EQ(DecodeRecord(withETag(fits + 1), read), RecordStatus::Damaged);
}

TEST(DownloadRecord, WhatCannotFitIsLeftOutRatherThanWrittenDamaged) {
    engine::DownloadRecord record = Full(), read;
    record.Size = std::numeric_limits<int64_t>::max();
    // What is kept of the ranges decodes, and is only ranges that were given.
    const auto kept = [&](const Ranges &done) {
        record.Done = done;
        EXPECT_EQ(DecodeRecord(EncodeRecord(record), read), RecordStatus::Good);
        EXPECT_TRUE(std::includes(done.begin(), done.end(), read.Done.begin(), read.Done.end()));
        return read.Done;
    };
    Ranges bytes, growing;
    for (int64_t i = 0; i < 5000; ++i) {
        bytes.emplace_back(2 * i, 2 * i); // short lines: more than the most ranges
        const int64_t first = (int64_t{1} << 40) + i * 1000000;
        growing.emplace_back(first, first + i); // long lines, each range longer than the last
    }
    EXPECT_EQ(kept(bytes).size(), engine::kMostDoneRanges);
    const Ranges fitted = kept(growing);
    ASSERT_FALSE(fitted.empty());
    EXPECT_EQ(fitted.back(), growing.back()); // the longest are kept

    record.Url.assign(engine::kLongestRecord, 'u');
    EXPECT_EQ(EncodeRecord(record), "");
}

TEST(DownloadRecord, NamesOfFiles) {
    const std::string name = engine::RecordFileName("https://example.com/files/setup.exe?v=2");
    EXPECT_EQ(name, "tlv9a1aa42f121bc18d.resume"); // the same on every system and every run
    EXPECT_NE(engine::RecordFileName("https://example.com/files/setup.exe?v=3"), name);

    for (const char *good :
         {"tlv1.tmp", "tlvAbC123.tmp", "tlv12345678901234567890123456789012.tmp"})
        EXPECT_TRUE(engine::IsWorkingFileName(good)) << good;
    for (const char *bad : {"tlv.tmp", "tlv123456789012345678901234567890123.tmp", "tlv-1.tmp",
                            "TLV1.tmp", "tlv1.TMP", "tlv1.tmp/", "x/tlv1.tmp", "tlv1.tmp.exe"})
        EXPECT_FALSE(engine::IsWorkingFileName(bad)) << bad;
}

TEST(DownloadRecord, MergedRanges) {
    const int64_t max = std::numeric_limits<int64_t>::max();
    const struct {
        Ranges in, out;
    } rows[] = {
        {{}, {}},
        {{{5, 4}}, {}},
        {{{10, 19}, {0, 9}, {30, 39}}, {{0, 19}, {30, 39}}},
        {{{0, 100}, {5, 6}, {50, 150}, {152, 160}}, {{0, 150}, {152, 160}}},
        {{{0, max}, {max, max}, {7, 3}}, {{0, max}}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(engine::MergedRanges(row.in), row.out);
}

} // namespace
