#include "platform/TempFiles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {

std::string AskTempDirectory() {
    const char *fromEnvironment = std::getenv("TMPDIR");
    std::string directory = fromEnvironment ? fromEnvironment : "";
#ifdef P_tmpdir
    if (directory.empty())
        directory = P_tmpdir;
#endif
    if (directory.empty())
        return "/tmp/";
    if (directory.back() != '/')
        directory += '/';
    return directory;
}

namespace {

std::string CurrentDayNumberText() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    int milliseconds = static_cast<int>(
        duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return DayNumberText(local, milliseconds < 0 ? 0 : milliseconds);
}

} // namespace

std::string NewTempFileName() {
    static const char suffix[] = ".tmp";
    std::string pattern = TempDirectory() + "tlvXXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkostemps replaces the X's and creates the file with O_EXCL, retrying on collisions.
    int fd = mkostemps(name.data(), sizeof suffix - 1, O_CLOEXEC);
    if (fd < 0) {
        // No file can be made there: a name of the date and time, which the first write then
        // creates in the current folder. The process and a counter keep the names of workers
        // asking in the same millisecond apart.
        static std::atomic<unsigned> counter{0};
        return CurrentDayNumberText() + "-" + std::to_string(getpid()) + "-" +
               std::to_string(++counter);
    }
    close(fd);
    return std::string(name.data());
}

} // namespace platform
