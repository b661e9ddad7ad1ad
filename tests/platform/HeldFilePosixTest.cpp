// The POSIX cases of holding a working file: a hold taken by another process, and released
// when that process is killed; names that lead elsewhere (links, pipes, second names), which
// are never opened, read, listed or written through.
#include "platform/Files.h"
#include "platform/PositionalFile.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::FileHeld;
using platform::TPositionalFile;

// Runs each test in a scratch folder of its own.
class HeldFilePosixTest : public testsupport::ScratchFolderTest {
  protected:
    // A working file with `content`, closed.
    std::string MakeWorkingFile(const std::string &content) {
        TPositionalFile file;
        EXPECT_EQ(file.CreateIn(folder_), 0);
        EXPECT_EQ(file.WriteAt(content.data(), content.size(), 0), 0);
        EXPECT_EQ(file.Close(), 0);
        return file.Path();
    }
};

// Forks a child that opens `path` as the next run would and keeps it until it is killed, for
// 60 s at most (or until this process ends). Returns its id once it reported the file open,
// within 10 s; -1 otherwise.
pid_t StartHoldingChild(const std::string &path) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        TPositionalFile held;
        const char answer = held.OpenExisting(path) == 0 ? 'y' : 'n';
        if (::write(ready[1], &answer, 1) == 1)
            ::sleep(60);
        ::_exit(0);
    }
    ::close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    char answer = 0;
    const bool holds = pid > 0 && ::poll(&wait, 1, 10000) == 1 &&
                       ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
    if (pid > 0 && !holds) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return holds ? pid : -1;
}

// Another process's hold keeps this one out, and a process killed while it holds the file
// releases it: the next run can take over a download whose program crashed.
TEST_F(HeldFilePosixTest, AHoldOfAnotherProcessEndsWithThatProcess) {
    const std::string working = MakeWorkingFile("part");
    const pid_t child = StartHoldingChild(working);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(FileHeld(working));
    TPositionalFile next;
    const int whileHeld = next.OpenExisting(working);

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_EQ(whileHeld, EBUSY);
    EXPECT_FALSE(FileHeld(working));
    ASSERT_EQ(next.OpenExisting(working), 0);
    EXPECT_EQ(next.Size(), 4);
}

// A symbolic link, a pipe and a file with a second name are not working files: none is opened
// (a pipe without a writer does not make the open wait), read, held or listed, and a record
// replaced under a link's name replaces the link, not the file it leads to.
TEST_F(HeldFilePosixTest, NamesThatLeadElsewhereAreNeverTakenForTheFile) {
    const std::string working = MakeWorkingFile("download");
    const std::string link = folder_ + "link";
    const std::string pipe = folder_ + "pipe";
    const std::string twice = folder_ + "twice";
    ASSERT_EQ(::symlink(working.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    testsupport::WriteFile(twice, "shared");
    ASSERT_EQ(::link(twice.c_str(), (twice + "2").c_str()), 0);

    TPositionalFile file;
    EXPECT_EQ(file.OpenExisting(link), ELOOP);
    EXPECT_EQ(file.OpenExisting(pipe), EINVAL);
    EXPECT_EQ(file.OpenExisting(twice), EPERM);
    std::string bytes;
    EXPECT_EQ(platform::ReadFileUpTo(link, 100, bytes), ELOOP);
    EXPECT_EQ(platform::ReadFileUpTo(pipe, 100, bytes), EINVAL);

    ASSERT_EQ(file.OpenExisting(working), 0);
    EXPECT_TRUE(FileHeld(working));
    EXPECT_FALSE(FileHeld(link));
    EXPECT_FALSE(FileHeld(pipe));

    std::set<std::string> names;
    for (const auto &entry : platform::RegularFilesIn(folder_))
        names.insert(entry.name);
    EXPECT_EQ(names,
              (std::set<std::string>{fs::path(working).filename().string(), "twice", "twice2"}));

    ASSERT_EQ(platform::ReplaceFileContents(link, "record"), 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
    EXPECT_EQ(testsupport::ReadFile(link), "record");
    EXPECT_EQ(testsupport::ReadFile(working), "download");
    struct stat info {};
    ASSERT_EQ(::stat(link.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the record is its owner's only";
}

} // namespace
