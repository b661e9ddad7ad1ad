#include "platform/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
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

// An ELF image or a "#!" script: something the kernel can run once it is executable.
bool LooksRunnable(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    static const char elf[4] = {0x7f, 'E', 'L', 'F'};
    char head[4] = {};
    ssize_t got = read(fd, head, sizeof head);
    close(fd);
    return (got == 4 && std::memcmp(head, elf, 4) == 0) ||
           (got >= 2 && head[0] == '#' && head[1] == '!');
}

// Adds the execute bits beside the read bits. A failure is left to the start to report.
void GrantExecute(const std::string &path, const struct stat &info) {
    mode_t wanted = (info.st_mode & 0444) >> 2;
    if ((info.st_mode & wanted) != wanted)
        chmod(path.c_str(), (info.st_mode & 07777) | wanted);
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
    struct stat info;
    if (!options.searchPath && stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        LooksRunnable(target))
        GrantExecute(target, info);
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
        bool runnable = S_ISREG(info.st_mode) && LooksRunnable(target);
        if (!runnable && !(S_ISREG(info.st_mode) && (info.st_mode & 0111)))
            return StartOpener(target, workingDirectory);
        if (runnable)
            GrantExecute(target, info);
    }
    pid_t pid = 0;
    int error = Start(target, arguments, options, pid);
    if (error != 0)
        return options.searchPath ? LaunchCodeFromSystem(error) : PathFailureCode(target, error);
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
