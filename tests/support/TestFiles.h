#pragma once

// Small helpers shared by the test executables: reading and writing a whole file, bytes that
// differ at every offset, and waiting (bounded) for a condition that another thread or
// process brings about.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

namespace testsupport {

// The whole content of a file ("" when it cannot be read, a directory included).
inline std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf(); // sets failbit instead of throwing when nothing can be read
    return text.str();
}

// Writes `content` as the whole file.
inline void WriteFile(const std::filesystem::path &path, const std::string &content) {
    std::ofstream(path, std::ios::binary) << content;
}

// `n` pseudo-random bytes, the same for the same seed.
inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (auto &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Polls `done` every 10 ms for at most `limit`; returns its last value.
inline bool WaitUntil(const std::function<bool()> &done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

} // namespace testsupport
