#include "app/Common.h"

#include "gui/Application.h"
#include "gui/headless/HeadlessBackend.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
using testsupport::ReadFile;
using testsupport::WaitUntil;

TEST(QuoteForLaunch, QuotesEveryNameButAnEmptyOneOrOneEndingInItsFirstBlank) {
    EXPECT_EQ(QuoteForLaunch("/opt/pelko/setup.sh"), "\"/opt/pelko/setup.sh\"");
    EXPECT_EQ(QuoteForLaunch("/opt/my apps/setup.sh"), "\"/opt/my apps/setup.sh\"");
    EXPECT_EQ(QuoteForLaunch("explorer"), "\"explorer\"");
    EXPECT_EQ(QuoteForLaunch(""), "");
    EXPECT_EQ(QuoteForLaunch("setup "), "setup ");
    EXPECT_EQ(QuoteForLaunch("setup  "), "\"setup  \"") << "the first blank is not the last";
}

TEST(LaunchWorkingDirectory, TakesTheFolderBeforeTheFirstBlankOutsideQuotes) {
    EXPECT_EQ(LaunchWorkingDirectory("\"/opt/pelko/setup.sh\""), "/opt/pelko/");
    EXPECT_EQ(LaunchWorkingDirectory("\"/opt/my apps/v 2/setup.sh\""), "/opt/my apps/v 2/")
        << "blanks inside quotes keep the later separators";
    EXPECT_EQ(LaunchWorkingDirectory("/opt/my apps/v2/setup.sh"), "/opt/")
        << "an unquoted blank ends the scan";
    EXPECT_EQ(LaunchWorkingDirectory("\"\"/opt/my apps/setup.sh\"\""), "/opt/")
        << "a name quoted twice is outside quotes at its first blank";
    EXPECT_EQ(LaunchWorkingDirectory("\"explorer\""), "");
    EXPECT_EQ(LaunchWorkingDirectory("\"/setup.sh\""), "/");
    EXPECT_EQ(LaunchWorkingDirectory(""), "");
}

TEST(LaunchErrorText, NamesTheFileWhereTheTextHasOne) {
    const std::string name = "\"/opt/setup.sh\"";
    EXPECT_EQ(LaunchErrorText(2, name), "File was not found (\"/opt/setup.sh\").");
    EXPECT_EQ(LaunchErrorText(3, name), "Path was not found (\"/opt/setup.sh\").");
    EXPECT_EQ(
        LaunchErrorText(0, name),
        "System was out of memory, executable file was corrupt, or relocations were invalid.");
    EXPECT_EQ(LaunchErrorText(11, name),
              "Executable file was invalid. Either it was not a Windows application or there was "
              "an error in the .EXE image.");
    EXPECT_EQ(LaunchErrorText(21, name), "Application requires 32-bit extensions.");
    for (int code : {-1, 1, 4, 7, 9, 17, 18, 22, 31})
        EXPECT_EQ(LaunchErrorText(code, name),
                  "The application could not be executed (\"/opt/setup.sh\").")
            << code;
}

// The launcher on real files, reporting into a headless application's box log.
class LaunchProgramTest : public ::testing::Test {
  protected:
    LaunchProgramTest() : app_(MakeBackend()) {}
    std::unique_ptr<gui::Backend> MakeBackend() {
        auto backend = std::make_unique<gui::HeadlessBackend>();
        boxes_ = backend.get();
        return backend;
    }
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "launch-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        marker_ = dir_ + "/marker";
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        SetLaunchErrorOwner(&app_);
    }
    void TearDown() override {
        SetLaunchErrorOwner(nullptr);
        setenv("PATH", oldPath_.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // A downloaded shell script (not executable) whose body's output becomes the marker.
    std::string Downloaded(const std::string &path, const std::string &body) {
        std::ofstream(path) << "#!/bin/sh\n{\n"
                            << body << "\n} > '" << marker_ << ".part'\n/bin/mv '" << marker_
                            << ".part' '" << marker_ << "'\n";
        chmod(path.c_str(), 0644);
        return path;
    }
    // Expects exactly one box, captioned "ERROR" with one OK button, and returns its text.
    std::string OnlyBox() {
        if (boxes_->messages.size() != 1) {
            ADD_FAILURE() << boxes_->messages.size() << " boxes";
            return "";
        }
        EXPECT_EQ(boxes_->messages[0].caption, "ERROR");
        EXPECT_EQ(boxes_->messages[0].buttons, gui::MessageButtons::Ok);
        return boxes_->messages[0].text;
    }

    gui::HeadlessBackend *boxes_ = nullptr;
    gui::Application app_;
    std::string dir_;
    std::string marker_;
    std::string oldPath_;
};

TEST_F(LaunchProgramTest, RunsADownloadedScriptWithoutWaitingInItsFolder) {
    fs::create_directories(dir_ + "/my downloads");
    std::string script = Downloaded(dir_ + "/my downloads/setup.sh", "sleep 0.3\npwd");
    auto started = steady_clock::now();
    EXPECT_TRUE(LaunchProgram(script, "", false));
    EXPECT_LT(steady_clock::now() - started, 250ms);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(marker_); }));
    EXPECT_EQ(ReadFile(marker_), dir_ + "/my downloads\n") << "the folder, without quotes";
    EXPECT_TRUE(boxes_->messages.empty());
}

TEST_F(LaunchProgramTest, WaitsForTheProgramAndPassesItsParameters) {
    std::string script =
        Downloaded(dir_ + "/setup.sh", "sleep 0.3\nprintf '%s|' \"$#\" \"$1\" \"$2\"");
    auto started = steady_clock::now();
    EXPECT_TRUE(LaunchProgram(script, "/quiet \"/opt/my apps\"", true));
    EXPECT_GE(steady_clock::now() - started, 300ms);
    ASSERT_TRUE(fs::exists(marker_)) << "ended before LaunchProgram returned";
    EXPECT_EQ(ReadFile(marker_), "2|/quiet|/opt/my apps|");
    EXPECT_TRUE(boxes_->messages.empty());
}

TEST_F(LaunchProgramTest, AlreadyQuotedNameStillRuns) {
    fs::create_directories(dir_ + "/a b");
    std::string script = Downloaded(dir_ + "/a b/setup.sh", "echo ran");
    EXPECT_TRUE(LaunchProgram("\"" + script + "\"", "", true));
    EXPECT_EQ(ReadFile(marker_), "ran\n");
}

TEST_F(LaunchProgramTest, MissingFileOrFolderIsReportedWithTheQuotedName) {
    std::string missing = dir_ + "/setup.sh";
    EXPECT_FALSE(LaunchProgram(missing, "", false));
    EXPECT_EQ(OnlyBox(), "File was not found (\"" + missing + "\").");

    boxes_->messages.clear();
    std::string noFolder = dir_ + "/gone/setup.sh";
    EXPECT_FALSE(LaunchProgram(noFolder, "", false));
    EXPECT_EQ(OnlyBox(), "Path was not found (\"" + noFolder + "\").");

    boxes_->messages.clear();
    EXPECT_FALSE(LaunchProgram(missing, "", true));
    EXPECT_EQ(OnlyBox(), "The application could not be executed (\"" + missing + "\").")
        << "a waiting start that cannot create its process";
}

TEST_F(LaunchProgramTest, FileThatIsNoProgramIsReported) {
    std::string garbage = dir_ + "/setup.bin";
    std::ofstream(garbage) << std::string("\x01\x02 not a program\n");
    chmod(garbage.c_str(), 0755);
    EXPECT_FALSE(LaunchProgram(garbage, "", false));
    EXPECT_EQ(OnlyBox(), "Executable file was invalid. Either it was not a Windows application "
                         "or there was an error in the .EXE image.");
    boxes_->messages.clear();
    EXPECT_FALSE(LaunchProgram(garbage, "", true));
    EXPECT_EQ(OnlyBox(), "The application could not be executed (\"" + garbage + "\").");
}

TEST_F(LaunchProgramTest, ExplorerSelectShowsTheFileInTheFileManager) {
    // A fake dbus-send, alone in PATH, records its arguments.
    std::string tools = dir_ + "/tools";
    fs::create_directories(tools);
    std::string record = dir_ + "/dbus-send.args";
    std::ofstream(tools + "/dbus-send")
        << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << record
        << ".part'\n/bin/mv '" << record << ".part' '" << record << "'\n";
    chmod((tools + "/dbus-send").c_str(), 0755);
    setenv("PATH", tools.c_str(), 1);

    std::string file = dir_ + "/Pelko setup.exe";
    std::ofstream(file) << "x";
    EXPECT_TRUE(LaunchProgram("explorer", "/select," + file, false));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(record); }));
    EXPECT_NE(ReadFile(record).find("\narray:string:file://" + dir_ + "/Pelko%20setup.exe\n"),
              std::string::npos)
        << ReadFile(record);
    EXPECT_TRUE(boxes_->messages.empty());

    // Without "/select," the name is a program like any other, and there is none here.
    EXPECT_FALSE(LaunchProgram("explorer", file, false));
    EXPECT_EQ(OnlyBox(), "File was not found (\"explorer\").");
}

} // namespace
