#include "platform/Process.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::kLaunchSucceeded;
using platform::RunHeldFile;
using testsupport::ReadFile;
using testsupport::WaitUntil;

// Files held open for reading as a download holds its file, in a scratch folder; what the
// started programs write goes to a marker, written to a side file first and then renamed, so
// that it is never read half-written.
class RunHeldFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "held-file-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        marker_ = dir_ + "/marker";
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    }
    void TearDown() override {
        for (int fd : held_)
            close(fd);
        setenv("PATH", oldPath_.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // Writes `content` at `path` with `mode` and holds it; returns the descriptor.
    int Hold(const std::string &path, const std::string &content, mode_t mode = 0600) {
        testsupport::WriteFile(path, content);
        chmod(path.c_str(), mode);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        held_.push_back(fd);
        return fd;
    }
    // A shell script's lines that leave `body`'s output as the marker.
    std::string Marking(const std::string &body) const {
        return "{\n" + body + "\n} > '" + marker_ + ".part'\n/bin/mv '" + marker_ + ".part' '" +
               marker_ + "'\n";
    }
    std::string Marker() {
        return WaitUntil([&] { return fs::exists(marker_); }) ? ReadFile(marker_) : "(no marker)";
    }
    static mode_t ModeOf(int fd) {
        struct stat info {};
        fstat(fd, &info);
        return info.st_mode & 07777;
    }

    std::string dir_, marker_, oldPath_;
    std::vector<int> held_;
};

TEST_F(RunHeldFileTest, TheHeldScriptRunsWhateverItsNameLeadsToByNow) {
    const std::string path = dir_ + "/setup.sh";
    const int fd = Hold(path, "#!/bin/sh\nsleep 0.3\n" + Marking("printf '%s|' \"$0\" \"$@\""));
    // Another program takes the name: it would leave its own mark.
    const std::string other = dir_ + "/other.sh";
    testsupport::WriteFile(other, "#!/bin/sh\necho other > '" + marker_ + "'\n");
    chmod(other.c_str(), 0755);
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunHeldFile(fd, path, {"a b", "c"}, "", true), kLaunchSucceeded);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms) << "waited for";
    ASSERT_TRUE(fs::exists(marker_)) << "the held script ran to its end before the return";
    EXPECT_EQ(ReadFile(marker_), path + "|a b|c|") << "a shell script keeps its name as $0";
    EXPECT_EQ(ModeOf(fd), 0700u) << "execute bits beside the read bits, on the held file";
    struct stat named {};
    stat(path.c_str(), &named);
    EXPECT_EQ(named.st_mode & 07777, 0755u) << "the file under the name is left alone";
}

TEST_F(RunHeldFileTest, ShellsThroughEnvAndWithAnArgumentRunInTheWorkingDirectoryUnwaited) {
    const std::string body = Marking("pwd; echo \"$0\"; case $- in *e*) echo errexit;; esac");
    for (const std::string line : {"#!/usr/bin/env sh", "#!/bin/sh -e"}) {
        SCOPED_TRACE(line);
        fs::remove(marker_);
        const std::string path = dir_ + "/run me.sh";
        const int fd = Hold(path, line + "\nsleep 0.3\n" + body);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(RunHeldFile(fd, path, {}, dir_ + "/", false), kLaunchSucceeded);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 250ms) << "not waited for";
        EXPECT_EQ(Marker(), dir_ + "\n" + path + "\n" + (line.ends_with("-e") ? "errexit\n" : ""));
    }
}

TEST_F(RunHeldFileTest, OtherInterpretersAndProgramsStartFromTheDescriptor) {
    // awk reads the script through /dev/fd/3, so that descriptor stays open across the exec.
    const std::string script = dir_ + "/count.awk";
    const int awk =
        Hold(script, "#!/usr/bin/awk -f\nBEGIN { printf \"%s|%s\\n\", ARGV[1], "
                     "ARGV[2] > \"" +
                         marker_ + ".part\"; close(\"" + marker_ + ".part\"); system(\"mv '" +
                         marker_ + ".part' '" + marker_ + "'\") }\n");
    EXPECT_EQ(RunHeldFile(awk, script, {"one", "two words"}, "", true), kLaunchSucceeded);
    EXPECT_EQ(Marker(), "one|two words\n");

    // A program (a copy of env, which starts a shell) gets default signals and no descriptor
    // of ours, its own file's included.
    fs::remove(marker_);
    const std::string tool = dir_ + "/tool";
    const int env = Hold(tool, ReadFile("/usr/bin/env"));
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    const int opened = open("/dev/null", O_RDONLY);
    const int leaked = fcntl(opened, F_DUPFD, 20); // neither has O_CLOEXEC
    close(opened);
    EXPECT_EQ(RunHeldFile(env, tool,
                          {"/bin/sh", "-c", Marking("grep SigIgn /proc/$$/status; ls /proc/$$/fd")},
                          "", true),
              kLaunchSucceeded);
    close(leaked);
    std::signal(SIGPIPE, oldPipe);
    std::istringstream lines(Marker());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "SigIgn:\t0000000000000000");
    std::set<std::string> open;
    while (std::getline(lines, line))
        open.insert(line);
    EXPECT_TRUE(open.count("0") && open.count("1") && open.count("2"));
    EXPECT_FALSE(open.count("3")) << "the program's own file";
    EXPECT_FALSE(open.count(std::to_string(leaked)));
    EXPECT_EQ(ModeOf(env), 0700u);
}

TEST_F(RunHeldFileTest, DocumentsGoToTheOpenerByNameAndFailuresGiveTheirCodes) {
    // A fake opener, the whole PATH, records what it was given.
    fs::create_directories(dir_ + "/tools");
    testsupport::WriteFile(dir_ + "/tools/xdg-open",
                           "#!/bin/sh\n" + Marking("printf '%s\\n' \"$@\""));
    chmod((dir_ + "/tools/xdg-open").c_str(), 0755);
    setenv("PATH", (dir_ + "/tools").c_str(), 1);
    const std::string document = dir_ + "/read me.txt";
    const int text = Hold(document, "plain text\n", 0644);
    EXPECT_EQ(RunHeldFile(text, document, {}, dir_ + "/", false), kLaunchSucceeded);
    EXPECT_EQ(Marker(), document + "\n");
    EXPECT_EQ(RunHeldFile(text, document, {}, "", true), platform::kLaunchAccessDenied)
        << "a waiting start runs programs only";
    EXPECT_EQ(ModeOf(text), 0644u) << "a document gets no execute bits";

    const int garbage = Hold(dir_ + "/garbage.bin", "\x01\x02 not a program\n", 0755);
    EXPECT_EQ(RunHeldFile(garbage, dir_ + "/garbage.bin", {}, "", false),
              platform::kLaunchBadFormat);
    const int orphan = Hold(dir_ + "/orphan.sh", "#!/no/such/shell\n");
    EXPECT_EQ(RunHeldFile(orphan, dir_ + "/orphan.sh", {}, "", true),
              platform::kLaunchFileNotFound);
    EXPECT_EQ(RunHeldFile(-1, dir_ + "/orphan.sh", {}, "", true), platform::kLaunchFailed);
    const int script = Hold(dir_ + "/setup.sh", "#!/bin/sh\n" + Marking("echo ran"));
    EXPECT_EQ(RunHeldFile(script, dir_ + "/setup.sh", {}, dir_ + "/missing/", false),
              platform::kLaunchFileNotFound)
        << "a working directory that is not there";
}

} // namespace
