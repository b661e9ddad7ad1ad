#pragma once

// Setting and clearing environment variables from tests on both systems, and the variable
// that names the temporary directory (TMPDIR on POSIX; TMP, which GetTempPathA reads first,
// on Windows).

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

#ifdef _WIN32
inline constexpr const char *kTempDirVariable = "TMP";
#else
inline constexpr const char *kTempDirVariable = "TMPDIR";
#endif

// Sets `name` for this process (on Windows for the C runtime and the system's calls alike).
inline void SetEnv(const char *name, const std::string &value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Removes `name` from this process's environment.
inline void UnsetEnv(const char *name) {
#ifdef _WIN32
    _putenv_s(name, ""); // an empty value removes the variable
#else
    unsetenv(name);
#endif
}

// The value of `name`, or nothing when it is not set.
inline std::optional<std::string> GetEnv(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace testsupport
