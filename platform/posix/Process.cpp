#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

struct StartOptions {
    std::string workingDirectory; // empty: the caller's
    bool searchPath = false;      // the program name is looked up in PATH
    bool ownGroup = false;        // a process group of its own, away from our terminal's signals
    bool quiet = false;           // standard output to /dev/null
};

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    int error = 0;
    SpawnSetup() {
        error = posix_spawnattr_init(&attributes);
        if (error == 0 && (error = posix_spawn_file_actions_init(&actions)) != 0)
            posix_spawnattr_destroy(&attributes);
    }
    ~SpawnSetup() {
        if (error == 0) {
            posix_spawn_file_actions_destroy(&actions);
            posix_spawnattr_destroy(&attributes);
        }
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// Starts `program` with `arguments` as its argv (no shell); returns 0 with the child's id, or
// the errno of the failure. glibc reports a failed exec (ENOENT, EACCES, ENOEXEC) here too.
int Start(const std::string &program, const std::vector<std::string> &arguments,
          const StartOptions &options, pid_t &pid) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (setup.error != 0)
        return setup.error;
    // The child starts with no blocked signals and every signal at its default: ignored
    // signals (SIGPIPE for our sockets) would otherwise stay ignored across the exec.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.ownGroup)
        flags |= POSIX_SPAWN_SETPGROUP;
    int error = posix_spawnattr_setflags(&setup.attributes, flags);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&setup.attributes, &none);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&setup.attributes, &all);
    if (error == 0 && options.ownGroup)
        error = posix_spawnattr_setpgroup(&setup.attributes, 0);
    // Our sockets and piece files are not the started program's business.
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    if (error == 0 && options.quiet)
        error = posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
    if (error == 0 && !options.workingDirectory.empty())
        error =
            posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingDirectory.c_str());
    if (error != 0)
        return error;
    auto spawn = options.searchPath ? posix_spawnp : posix_spawn;
    return spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
}

// Waits for the child to end; returns its wait status (-1 when it cannot be waited for).
int WaitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

// Reaps the child on a thread of its own, so that the caller does not wait and no zombie
// stays; `then` runs on that thread with the wait status.
void ReapInBackground(pid_t pid, std::function<void(int)> then = {}) {
    try {
        std::thread([pid, then = std::move(then)] {
            int status = WaitForChild(pid);
            if (then)
                then(status);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the child stays a zombie until the program ends, which is
        // better than blocking the caller until it exits.
    }
}

// Codes for a path that could not be started: a missing file in a missing folder is a
// missing path, as the launch error table distinguishes them.
int PathFailureCode(const std::string &path, int error) {
    if (error == ENOENT) {
        fs::path parent = fs::path(path).parent_path();
        std::error_code ignored;
        if (!parent.empty() && !fs::is_directory(parent, ignored))
            return kLaunchPathNotFound;
    }
    return LaunchCodeFromSystem(error);
}

std::string Absolute(const std::string &path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// A program name without "/" means a file of that name in the current directory when there
// is one, else a program to look up in PATH.
bool NeedsPathSearch(const std::string &name, std::string &target) {
    target = name;
    if (name.find('/') != std::string::npos)
        return false;
    struct stat info;
    if (!name.empty() && stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        target = "./" + name;
        return false;
    }
    return true;
}

// The first bytes of a file, as many as the kernel looks at to choose how to run it.
constexpr size_t kHeadSize = 256;

std::string HeadOf(int fd) {
    char head[kHeadSize];
    ssize_t got;
    do
        got = pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    return got > 0 ? std::string(head, static_cast<size_t>(got)) : std::string();
}

enum class Format { Elf, Script, Other };

Format FormatOf(const std::string &head) {
    if (head.size() >= 4 && head[0] == '\x7f' && head.compare(1, 3, "ELF") == 0)
        return Format::Elf;
    return head.compare(0, 2, "#!") == 0 ? Format::Script : Format::Other;
}

// Adds the execute bits beside the read bits of the file open as `fd` (the file, not whatever
// its name leads to by now). A failure is left to the start to report.
void GrantExecute(int fd, const struct stat &info) {
    mode_t wanted = (info.st_mode & 0444) >> 2;
    if ((info.st_mode & wanted) != wanted)
        fchmod(fd, (info.st_mode & 07777) | wanted);
}

// An ELF image or a "#!" script at `path`, something the kernel can run once it is
// executable: it gets its execute bits. Whether it is one.
bool MakeRunnable(const std::string &path) {
    // O_NONBLOCK: a FIFO put under the name does not hold us up.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    const bool runnable =
        fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && FormatOf(HeadOf(fd)) != Format::Other;
    if (runnable)
        GrantExecute(fd, info);
    close(fd);
    return runnable;
}

// Hands `target` to the desktop opener and reaps it in the background.
int StartOpener(const std::string &target, const std::string &workingDirectory) {
    StartOptions options;
    options.workingDirectory = workingDirectory;
    options.searchPath = true;
    options.ownGroup = true;
    pid_t pid = 0;
    // Without an opener there is no application for the file: the generic failure, not
    // "file not found", which would blame the file.
    if (Start("xdg-open", {target}, options, pid) != 0)
        return kLaunchFailed;
    ReapInBackground(pid);
    return kLaunchSucceeded;
}

// A file:// URI for an absolute path: everything but unreserved characters and "/" is
// percent-encoded, commas included (dbus-send splits array values at commas).
std::string FileUri(const std::string &absolute) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolute) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// The descriptors a held file's child gets: the file, and the pipe on which it reports a
// failed exec (closed by a successful one).
constexpr int kHeldDescriptor = 3;
constexpr int kReportDescriptor = 4;

// A script of a POSIX shell ("#!/bin/sh", "#!/bin/bash -e", "#!/usr/bin/env dash"): its
// interpreter and the one argument of its "#!" line, split as the kernel splits them (at the
// first blank or tab; the rest without its outer blanks). False for every other file.
bool ShellScript(const std::string &head, std::string &interpreter, std::string &argument) {
    const size_t end = head.find('\n');
    if (FormatOf(head) != Format::Script || end == std::string::npos)
        return false;
    const std::string line = head.substr(2, end - 2);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '/')
        return false;
    const size_t gap = line.find_first_of(" \t", start);
    interpreter = line.substr(start, gap - start);
    const size_t from = gap == std::string::npos ? gap : line.find_first_not_of(" \t", gap);
    argument = from == std::string::npos
                   ? std::string()
                   : line.substr(from, line.find_last_not_of(" \t") + 1 - from);
    const auto isShell = [](const std::string &name) {
        return name == "sh" || name == "bash" || name == "dash";
    };
    const std::string base = interpreter.substr(interpreter.rfind('/') + 1);
    return isShell(base) || (base == "env" && isShell(argument));
}

// How a held file starts: the program executed (empty: the file itself, through its
// descriptor), its arguments from argv[0] on, and whether the file's descriptor stays open
// across the exec, for an interpreter that reads it through /dev/fd.
struct HeldStart {
    std::string program;
    std::vector<std::string> argv;
    bool keepOpen = false;
};

HeldStart HowToStart(const std::string &head, const std::string &name,
                     const std::vector<std::string> &arguments) {
    HeldStart start;
    std::string interpreter, argument;
    if (ShellScript(head, interpreter, argument)) {
        // The kernel would hand the shell "/dev/fd/3" as the script, and that would be its
        // $0: sourced from there instead, the script keeps its own name as $0 (scripts find
        // the files beside them through it) and still reads the held bytes.
        start.program = interpreter;
        start.argv = {interpreter};
        if (!argument.empty())
            start.argv.push_back(argument);
        start.argv.insert(start.argv.end(),
                          {"-c", ". /dev/fd/" + std::to_string(kHeldDescriptor), name});
    } else {
        start.argv = {name};
    }
    start.argv.insert(start.argv.end(), arguments.begin(), arguments.end());
    // Any interpreter reads the file through /dev/fd/3 (a "#!" line, or binfmt_misc for other
    // formats); the kernel refuses a script whose descriptor closes at the exec.
    start.keepOpen = FormatOf(head) != Format::Elf;
    return start;
}

// In the child between fork and exec, with async-signal-safe calls only: every signal at its
// default, a process group of its own when asked, the working directory, the held file as
// descriptor 3 and the report pipe as 4, no other descriptor of ours (sockets, the X
// connection). Returns 0 or the errno of the step that failed; `report` follows the pipe.
int PrepareChild(int held, int &report, bool keepOpen, const StartOptions &options) {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr); // SIGKILL, SIGSTOP and the C library's refuse
    }
    if (options.ownGroup && setpgid(0, 0) != 0)
        return errno;
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
        return errno;
    // Both copied above their places first: neither dup3 then closes the other's source.
    const int heldCopy = fcntl(held, F_DUPFD_CLOEXEC, kReportDescriptor + 1);
    const int reportCopy = fcntl(report, F_DUPFD_CLOEXEC, kReportDescriptor + 1);
    if (heldCopy < 0 || reportCopy < 0 || dup3(reportCopy, kReportDescriptor, O_CLOEXEC) < 0)
        return errno;
    report = kReportDescriptor;
    if (dup3(heldCopy, kHeldDescriptor, keepOpen ? 0 : O_CLOEXEC) < 0)
        return errno;
    closefrom(kReportDescriptor + 1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    return 0;
}

// Starts the file open as `held`, as `start` says; returns 0 with the child's id, or the errno
// of the failure, a failed exec's included (the child reports it on a pipe that a successful
// exec closes). posix_spawn takes a path only, hence fork: the child calls nothing but the
// system until the exec.
int StartHeld(int held, const HeldStart &start, const StartOptions &options, pid_t &pid) {
    std::vector<char *> argv;
    for (const std::string &argument : start.argv)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    // No signal handler of ours may run in the child before it has put every signal back to
    // its default; the child unblocks them just before the exec.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pid = fork();
    if (pid == 0) {
        int reportTo = report[1];
        int error = PrepareChild(held, reportTo, start.keepOpen, options);
        if (error == 0) {
            if (start.program.empty())
                fexecve(kHeldDescriptor, argv.data(), environ);
            else
                execve(start.program.c_str(), argv.data(), environ);
            error = errno;
        }
        const ssize_t written = write(reportTo, &error, sizeof error);
        static_cast<void>(written); // a parent that cannot read it takes the start as failed
        _exit(127);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return forkError;
    }
    int childError = 0;
    ssize_t got;
    do
        got = read(report[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == 0)
        return 0;
    WaitForChild(pid);
    return got == static_cast<ssize_t>(sizeof childError) && childError != 0 ? childError : ECHILD;
}

} // namespace

int LaunchCodeFromSystem(int systemError) {
    switch (systemError) {
    case ENOENT:
        return kLaunchFileNotFound;
    case ENOTDIR:
        return kLaunchPathNotFound;
    case EACCES:
    case EPERM:
        return kLaunchAccessDenied;
    case ENOEXEC:
        return kLaunchBadFormat;
    default:
        return kLaunchFailed;
    }
}

int RunAndWait(const std::string &program, const std::vector<std::string> &arguments) {
    StartOptions options;
    std::string target;
    options.searchPath = NeedsPathSearch(program, target);
    if (!options.searchPath)
        MakeRunnable(target);
    pid_t pid = 0;
    int error = Start(target, arguments, options, pid);
    if (error != 0)
        return options.searchPath ? LaunchCodeFromSystem(error) : PathFailureCode(target, error);
    WaitForChild(pid);
    return kLaunchSucceeded;
}

int OpenPath(const std::string &path, const std::vector<std::string> &arguments,
             const std::string &workingDirectory) {
    StartOptions options;
    options.workingDirectory = workingDirectory;
    options.ownGroup = true;
    std::string target;
    options.searchPath = NeedsPathSearch(path, target);
    if (!options.searchPath) {
        struct stat info;
        if (stat(target.c_str(), &info) != 0)
            return PathFailureCode(target, errno);
        // Absolute, because the child changes to the working directory before the exec.
        target = Absolute(target);
        const bool runnable = S_ISREG(info.st_mode) && MakeRunnable(target);
        if (!runnable && !(S_ISREG(info.st_mode) && (info.st_mode & 0111)))
            return StartOpener(target, workingDirectory);
    }
    pid_t pid = 0;
    int error = Start(target, arguments, options, pid);
    if (error != 0)
        return options.searchPath ? LaunchCodeFromSystem(error) : PathFailureCode(target, error);
    ReapInBackground(pid);
    return kLaunchSucceeded;
}

int RunHeldFile(intptr_t file, const std::string &path, const std::vector<std::string> &arguments,
                const std::string &workingDirectory, bool wait) {
    const int fd = static_cast<int>(file);
    struct stat info;
    if (file < 0 || fstat(fd, &info) != 0)
        return LaunchCodeFromSystem(EBADF);
    // Absolute, because the child changes to the working directory before the exec.
    const std::string name = Absolute(path);
    const std::string head = HeadOf(fd);
    if (FormatOf(head) != Format::Other && S_ISREG(info.st_mode))
        GrantExecute(fd, info);
    else if (!wait && !(info.st_mode & 0111))
        return StartOpener(name, workingDirectory);
    StartOptions options;
    options.workingDirectory = workingDirectory;
    options.ownGroup = !wait; // as OpenPath's start, away from our terminal's signals
    pid_t pid = 0;
    if (int error = StartHeld(fd, HowToStart(head, name, arguments), options, pid))
        return PathFailureCode(name, error);
    if (wait)
        WaitForChild(pid);
    else
        ReapInBackground(pid);
    return kLaunchSucceeded;
}

int ShowInFileManager(const std::string &path) {
    std::string absolute = Absolute(path);
    std::string folder = fs::path(absolute).parent_path().string();
    if (folder.empty())
        folder = "/";
    StartOptions options;
    options.searchPath = true;
    options.ownGroup = true;
    options.quiet = true; // --print-reply prints the answer; it is only waited for
    pid_t pid = 0;
    int error = Start("dbus-send",
                      {"--session", "--print-reply", "--dest=org.freedesktop.FileManager1",
                       "--type=method_call", "/org/freedesktop/FileManager1",
                       "org.freedesktop.FileManager1.ShowItems",
                       "array:string:" + FileUri(absolute), "string:"},
                      options, pid);
    if (error != 0)
        return StartOpener(folder, "");
    // No file manager on the bus (or no bus): dbus-send ends with a failure, and the folder
    // is opened instead. Both happen off the caller's thread.
    ReapInBackground(pid, [folder](int status) {
        // An outcome that cannot be learnt (-1) counts as shown rather than open a second window.
        if (status == -1 || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            return;
        StartOptions openerOptions;
        openerOptions.searchPath = true;
        openerOptions.ownGroup = true;
        pid_t opener = 0;
        if (Start("xdg-open", {folder}, openerOptions, opener) == 0)
            WaitForChild(opener);
    });
    return kLaunchSucceeded;
}

} // namespace platform
