// Computes the SHA-256 digest of a file the way the program verifies a download, and prints
// the digest and the seconds it took, for bench/digest.
//   digest_bench FILE
#include "platform/Sha256.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: digest_bench FILE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const std::string digest = platform::FileSha256(argv[1], error);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (digest.empty()) {
        std::fprintf(stderr, "digest_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s %.6f\n", digest.c_str(), took.count());
    return 0;
}
