#include "platform/Process.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using namespace std::chrono_literals;
using platform::kLaunchSucceeded;
using testsupport::ReadFile;
using testsupport::WaitUntil;

void WriteFile(const std::string &path, const std::string &content, mode_t mode) {
    std::ofstream(path) << content;
    chmod(path.c_str(), mode);
}

mode_t ModeOf(const std::string &path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Zombie children of this process, from /proc (state Z, parent us).
int ZombieChildren() {
    int count = 0;
    DIR *proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent *entry = readdir(proc)) {
        std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
        std::size_t paren = stat.rfind(')');
        if (paren == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(paren + 1));
        char state = 0;
        long parent = 0;
        rest >> state >> parent;
        if (state == 'Z' && parent == getpid())
            ++count;
    }
    closedir(proc);
    return count;
}

// A scratch folder, a marker path for the started programs, and PATH restored afterwards.
class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "process-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        marker_ = dir_ + "/marker";
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // A script as a download leaves it: readable, not executable. The output of its body
    // goes to a side file that is then renamed to the marker, so a marker is never partial.
    std::string Script(const std::string &path, const std::string &body) {
        WriteFile(path,
                  "#!/bin/sh\n{\n" + body + "\n} > '" + marker_ + ".part'\n/bin/mv '" + marker_ +
                      ".part' '" + marker_ + "'\n",
                  0644);
        return path;
    }
    bool MarkerAppears() {
        return WaitUntil([&] { return fs::exists(marker_); });
    }
    // Fake desktop tools in a folder of their own, which becomes the whole PATH: each
    // records its arguments, one a line, in dir_/<name>.args and exits with `status`.
    void FakeTool(const std::string &name, int status) {
        std::string tools = dir_ + "/tools";
        fs::create_directories(tools);
        std::string record = dir_ + "/" + name + ".args";
        WriteFile(tools + "/" + name,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record +
                      ".part'\n/bin/mv '" + record + ".part' '" + record + "'\nexit " +
                      std::to_string(status) + "\n",
                  0755);
        setenv("PATH", tools.c_str(), 1);
    }
    std::string Recorded(const std::string &tool) {
        std::string record = dir_ + "/" + tool + ".args";
        return WaitUntil([&] { return fs::exists(record); }) ? ReadFile(record) : "(not run)";
    }
    bool Ran(const std::string &tool) { return fs::exists(dir_ + "/" + tool + ".args"); }

    std::string dir_;
    std::string marker_;
    std::string oldPath_;
};

TEST(SplitParameters, BlanksOutsideQuotesSeparateAndQuotesGroup) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::SplitParameters(""), V{});
    EXPECT_EQ(platform::SplitParameters("  \t "), V{});
    EXPECT_EQ(platform::SplitParameters(" one  two\tthree "), (V{"one", "two", "three"}));
    EXPECT_EQ(platform::SplitParameters("\"/a b/c d\" -q"), (V{"/a b/c d", "-q"}));
    EXPECT_EQ(platform::SplitParameters("x\"y z\"w"), V{"xy zw"});
    EXPECT_EQ(platform::SplitParameters("\"\" a"), (V{"", "a"}));
    EXPECT_EQ(platform::SplitParameters("$(rm -rf x);`id` 'q'"),
              (V{"$(rm", "-rf", "x);`id`", "'q'"}));
}

TEST_F(ProcessTest, WaitingRunStartsDownloadedScriptAndWaitsForIt) {
    std::string script = Script(dir_ + "/setup.sh", "sleep 0.3\nprintf '%s|' \"$#\" \"$1\" \"$2\"");
    auto started = steady_clock::now();
    EXPECT_EQ(platform::RunAndWait(script, {"a b", "c"}), kLaunchSucceeded);
    EXPECT_GE(steady_clock::now() - started, 300ms);
    ASSERT_TRUE(fs::exists(marker_)) << "the script ran to its end before the return";
    EXPECT_EQ(ReadFile(marker_), "2|a b|c|");
    EXPECT_EQ(ModeOf(script), 0755u) << "execute bits beside the read bits";
}

TEST_F(ProcessTest, WaitingRunIgnoresExitStatusAndSearchesPath) {
    WriteFile(dir_ + "/failing.sh", "#!/bin/sh\nexit 7\n", 0644);
    EXPECT_EQ(platform::RunAndWait(dir_ + "/failing.sh", {}), kLaunchSucceeded);
    FakeTool("helper", 0);
    EXPECT_EQ(platform::RunAndWait("helper", {"x y"}), kLaunchSucceeded);
    EXPECT_EQ(ReadFile(dir_ + "/helper.args"), "x y\n");
    EXPECT_EQ(platform::RunAndWait("no-such-helper", {}), platform::kLaunchFileNotFound);
}

TEST_F(ProcessTest, MissingFilesAndFoldersGiveTheirCodes) {
    WriteFile(dir_ + "/plain", "x", 0644);
    for (bool wait : {true, false}) {
        auto start = [&](const std::string &path) {
            return wait ? platform::RunAndWait(path, {}) : platform::OpenPath(path, {}, "");
        };
        EXPECT_EQ(start(dir_ + "/missing.sh"), platform::kLaunchFileNotFound) << wait;
        EXPECT_EQ(start(dir_ + "/no-folder/missing.sh"), platform::kLaunchPathNotFound) << wait;
        EXPECT_EQ(start(dir_ + "/plain/missing.sh"), platform::kLaunchPathNotFound) << wait;
    }
}

TEST_F(ProcessTest, FilesThatAreNoProgramsAreNotRun) {
    WriteFile(dir_ + "/garbage.bin", std::string("\x01\x02\x03 not a program\n"), 0755);
    EXPECT_EQ(platform::RunAndWait(dir_ + "/garbage.bin", {}), platform::kLaunchBadFormat);
    EXPECT_EQ(platform::OpenPath(dir_ + "/garbage.bin", {}, ""), platform::kLaunchBadFormat);
    WriteFile(dir_ + "/notes.txt", "plain text\n", 0644);
    EXPECT_EQ(platform::RunAndWait(dir_ + "/notes.txt", {}), platform::kLaunchAccessDenied);
    EXPECT_EQ(ModeOf(dir_ + "/notes.txt"), 0644u) << "a document gets no execute bits";
}

TEST_F(ProcessTest, StartedProgramGetsDefaultSignalsAndNoInheritedDescriptors) {
    auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    int leaked = open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    std::string script =
        Script(dir_ + "/probe.sh", "{ grep SigIgn /proc/$$/status; ls /proc/$$/fd; }");
    EXPECT_EQ(platform::RunAndWait(script, {}), kLaunchSucceeded);
    close(leaked);
    std::signal(SIGPIPE, oldPipe);
    std::istringstream lines(ReadFile(marker_));
    std::string ignoredLine, fd;
    std::getline(lines, ignoredLine);
    unsigned long long ignored =
        std::stoull(ignoredLine.substr(ignoredLine.find(':') + 1), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << ignoredLine;
    while (lines >> fd)
        EXPECT_NE(fd, std::to_string(leaked)) << "descriptor " << leaked << " was inherited";
}

TEST_F(ProcessTest, OpenRunsScriptWithoutWaitingAndReapsIt) {
    std::string script = Script(dir_ + "/slow.sh", "sleep 0.5\necho done");
    auto started = steady_clock::now();
    EXPECT_EQ(platform::OpenPath(script, {}, ""), kLaunchSucceeded);
    EXPECT_LT(steady_clock::now() - started, 400ms) << "the caller does not wait";
    EXPECT_FALSE(fs::exists(marker_));
    ASSERT_TRUE(MarkerAppears());
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren() == 0; })) << "the child was reaped";
}

TEST_F(ProcessTest, OpenRunsInWorkingDirectoryAndNeverThroughAShell) {
    std::string odd = dir_ + "/it's a $(touch pwned); `touch pwned2` & dir";
    fs::create_directories(odd);
    std::string script = Script(odd + "/run me;touch pwned3.sh", "pwd; printf '%s|' \"$@\"");
    EXPECT_EQ(platform::OpenPath(script, {"$(touch pwned4)", "a;b"}, odd + "/"), kLaunchSucceeded);
    ASSERT_TRUE(MarkerAppears());
    EXPECT_EQ(ReadFile(marker_), odd + "\n$(touch pwned4)|a;b|");
    for (const char *name : {"pwned", "pwned2", "pwned3.sh", "pwned4"}) {
        EXPECT_FALSE(fs::exists(dir_ + "/" + name)) << name;
        EXPECT_FALSE(fs::exists(odd + "/" + name)) << name;
        EXPECT_FALSE(fs::exists(name)) << name;
    }
}

TEST_F(ProcessTest, OpenRelativeNameFromItsOwnWorkingDirectory) {
    fs::create_directories(dir_ + "/sub dir");
    Script(dir_ + "/sub dir/run.sh", "pwd");
    fs::path oldCwd = fs::current_path();
    fs::current_path(dir_);
    int code = platform::OpenPath("sub dir/run.sh", {}, "sub dir/");
    fs::current_path(oldCwd);
    EXPECT_EQ(code, kLaunchSucceeded);
    ASSERT_TRUE(MarkerAppears());
    EXPECT_EQ(ReadFile(marker_), dir_ + "/sub dir\n");
}

TEST_F(ProcessTest, OpenHandsDocumentsAndFoldersToTheOpener) {
    FakeTool("xdg-open", 0);
    WriteFile(dir_ + "/read me.txt", "text\n", 0644);
    EXPECT_EQ(platform::OpenPath(dir_ + "/read me.txt", {"ignored"}, dir_ + "/"), kLaunchSucceeded);
    EXPECT_EQ(Recorded("xdg-open"), dir_ + "/read me.txt\n");
    EXPECT_EQ(ModeOf(dir_ + "/read me.txt"), 0644u);
    fs::remove(dir_ + "/xdg-open.args");
    EXPECT_EQ(platform::OpenPath(dir_ + "/tools/../tools", {}, ""), kLaunchSucceeded);
    EXPECT_EQ(Recorded("xdg-open"), dir_ + "/tools\n") << "absolute and normalised";
    setenv("PATH", (dir_ + "/no-tools").c_str(), 1);
    EXPECT_EQ(platform::OpenPath(dir_ + "/read me.txt", {}, ""), platform::kLaunchFailed)
        << "no opener is a failure to start, not a missing file";
}

TEST_F(ProcessTest, ShowInFileManagerAsksTheBusWithAnEncodedUri) {
    FakeTool("dbus-send", 0);
    WriteFile(dir_ + "/my file,1%.exe", "x", 0644);
    EXPECT_EQ(platform::ShowInFileManager(dir_ + "/my file,1%.exe"), kLaunchSucceeded);
    EXPECT_EQ(Recorded("dbus-send"), "--session\n--print-reply\n"
                                     "--dest=org.freedesktop.FileManager1\n"
                                     "--type=method_call\n/org/freedesktop/FileManager1\n"
                                     "org.freedesktop.FileManager1.ShowItems\n"
                                     "array:string:file://" +
                                         dir_ + "/my%20file%2C1%25.exe\nstring:\n");
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(Ran("xdg-open")) << "no fallback after a successful call";
}

TEST_F(ProcessTest, ShowInFileManagerFallsBackToOpeningTheFolder) {
    FakeTool("xdg-open", 0);
    FakeTool("dbus-send", 1); // no file manager on the bus
    EXPECT_EQ(platform::ShowInFileManager(dir_ + "/setup.exe"), kLaunchSucceeded);
    EXPECT_EQ(Recorded("xdg-open"), dir_ + "\n");

    fs::remove(dir_ + "/xdg-open.args");
    fs::remove(dir_ + "/tools/dbus-send"); // no dbus-send at all
    EXPECT_EQ(platform::ShowInFileManager(dir_ + "/setup.exe"), kLaunchSucceeded);
    EXPECT_EQ(Recorded("xdg-open"), dir_ + "\n");

    fs::remove(dir_ + "/tools/xdg-open");
    EXPECT_EQ(platform::ShowInFileManager(dir_ + "/setup.exe"), platform::kLaunchFailed);
}

} // namespace
