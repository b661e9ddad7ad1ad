#pragma once

// Running the built program end to end from a test: a temporary folder with a served file,
// a copy of the program and its own temporary and working folders; the program started on the
// console backend as a child process and waited for (killed by its process id when it overruns).

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef DOWNLOAD_PROGRAM
#error "DOWNLOAD_PROGRAM must name the built download executable"
#endif

extern char **environ;

namespace realprogram {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;

// The file's header: a script that leaves a mark beside itself when it is run and ends before
// the shell reads any of the bytes after it.
inline const std::string kScriptHeader = "#!/bin/sh\ntouch \"$0.ran\"\nexit 0\n";

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "real-program-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &Path() const { return path_; }

  private:
    fs::path path_;
};

// The script header followed by pseudo-random bytes (splitmix64) up to `size` bytes.
inline void WritePayload(const fs::path &path, int64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(kScriptHeader.data(), static_cast<std::streamsize>(kScriptHeader.size()));
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    uint64_t state = 0x243f6a8885a308d3ULL;
    int64_t left = size - static_cast<int64_t>(kScriptHeader.size());
    while (left > 0) {
        for (auto &word : block) {
            uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            word = z ^ (z >> 31);
        }
        const int64_t bytes = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char *>(block.data()), bytes);
        left -= bytes;
    }
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// The offset of the first difference of the two files, or -1 when they are identical.
// Reads both in 1 MiB chunks; a shorter file differs at its end.
inline int64_t FirstDifference(const fs::path &a, const fs::path &b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb)
        return 0;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    int64_t offset = 0;
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const std::streamsize na = fa.gcount(), nb = fb.gcount();
        const std::streamsize common = std::min(na, nb);
        const auto mismatch = std::mismatch(ba.begin(), ba.begin() + common, bb.begin());
        if (mismatch.first != ba.begin() + common)
            return offset + (mismatch.first - ba.begin());
        if (na != nb)
            return offset + common;
        if (na == 0)
            return -1;
        offset += na;
    }
}

// A child process started with posix_spawn; killed by its process id if still running when
// this goes away.
class Child {
  public:
    Child(const std::vector<std::string> &argv, const std::vector<std::string> &env,
          const fs::path &workingDirectory, const fs::path &output,
          const fs::path &input = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
        std::vector<char *> args, envp;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (const auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        const int error =
            posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
            throw std::runtime_error("posix_spawn " + argv[0] + ": " + std::strerror(error));
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Sends `signal` to the child (by its process id).
    void Signal(int signal) {
        if (pid_ > 0)
            kill(pid_, signal);
    }
    // Waits at most `timeout` for the end; its wait status, or nothing (then it was killed).
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            if (done < 0 && errno != EINTR)
                return std::nullopt;
            std::this_thread::sleep_for(20ms);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return std::nullopt;
    }

  private:
    pid_t pid_ = -1;
};

// The caller's environment without a display, without proxy settings and with its own
// temporary directory, and then `extra` ("NAME=value" entries).
inline std::vector<std::string> ConsoleEnvironment(const fs::path &tmpdir,
                                                   const std::vector<std::string> &extra = {}) {
    static const char *const left[] = {"DISPLAY",    "WAYLAND_DISPLAY", "TMPDIR",
                                       "http_proxy", "https_proxy",     "HTTPS_PROXY",
                                       "all_proxy",  "ALL_PROXY",       "no_proxy",
                                       "NO_PROXY",   "HTTP_PROXY"};
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::find(std::begin(left), std::end(left), name) != std::end(left))
            continue;
        env.push_back(entry);
    }
    env.push_back("TMPDIR=" + tmpdir.string());
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// A temporary folder with the served file, a copy of the program and the program's
// temporary and working directories.
struct DownloadSetup {
    TempDir temp;
    fs::path served = temp.Path() / "www";
    fs::path programDir = temp.Path() / "program";
    fs::path tmpdir = temp.Path() / "tmp";
    fs::path cwd = temp.Path() / "cwd";
    fs::path source = served / "dir" / "setup.sh";
    fs::path program = programDir / "download";
    fs::path downloaded = programDir / "setup.sh";

    explicit DownloadSetup(int64_t size) {
        for (const auto &dir : {served / "dir", programDir, tmpdir, cwd})
            fs::create_directories(dir);
        WritePayload(source, size);
        fs::copy_file(DOWNLOAD_PROGRAM, program);
    }

    // Runs the program on `url` and `parameters`, with `environment` added, for at most
    // `limit`; its wait status (none when it was killed) and its output.
    std::pair<std::optional<int>, std::string>
    Run(const std::string &url, std::chrono::milliseconds limit,
        const std::vector<std::string> &parameters = {},
        const std::vector<std::string> &environment = {}) {
        const fs::path log = temp.Path() / "program.log";
        std::optional<int> status;
        {
            std::vector<std::string> argv = {program.string(), url};
            argv.insert(argv.end(), parameters.begin(), parameters.end());
            Child child(argv, ConsoleEnvironment(tmpdir, environment), cwd, log);
            status = child.Wait(limit);
        }
        return {status, ReadFile(log)};
    }

    void ExpectNoPieceFileLeft() const {
        for (const auto &entry : fs::directory_iterator(tmpdir)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.starts_with("tlv") && name.ends_with(".tmp"))
                << "piece file left behind: " << entry.path();
        }
        EXPECT_TRUE(fs::is_empty(cwd)) << "the program wrote into its working directory";
    }
};

inline void ExpectExitCode(const std::optional<int> &status, int code, const std::string &output) {
    ASSERT_TRUE(status.has_value()) << "killed after its time limit; program output:\n" << output;
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(*status), code) << output;
}

} // namespace realprogram
