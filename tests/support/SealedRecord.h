#pragma once
// A download record's text sealed with the checksum line that makes it pass, computed here
// on its own (CRC-32, reflected polynomial 0xEDB88320), so that records written by hand, or
// by a fuzzer, can get past the checksum to the checks after it.
#include <cstdint>
#include <cstdio>
#include <string>

namespace testsupport {

inline std::string SealedRecord(const std::string &text) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : text)
        for (int bit = 0; bit < 8; ++bit, byte >>= 1)
            crc = ((crc ^ byte) & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    char line[20];
    std::snprintf(line, sizeof line, "checksum %08x\n", static_cast<unsigned>(~crc));
    return text + line;
}

} // namespace testsupport
