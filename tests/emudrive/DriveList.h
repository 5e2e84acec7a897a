#pragma once

// AccurateRip's list of drives, served on 127.0.0.1 for the front ends' look-up of an
// emulated drive's read offset.

#include "verify/LocalServer.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

// One entry of AccurateRip's list of drives: the offset, then the name.
inline std::string ListEntry(int16_t offset, const std::string& name) {
    std::string r(69, '\0');
    r[0] = char(uint16_t(offset) & 0xff);
    r[1] = char(uint16_t(offset) >> 8);
    r.replace(2, name.size(), name);
    return r;
}

// Writes root/DriveOffsets.bin, in which "TESTCO   - DRIVE 7" has `offset`, after another
// drive with another offset (the name picks the entry), and serves root as AccurateRip
// does.
inline LocalServer ServeDriveList(const std::string& root, int16_t offset) {
    std::filesystem::create_directories(root);
    std::ofstream(root + "/DriveOffsets.bin", std::ios::binary)
        << ListEntry(int16_t(offset + 30), "TESTCO   - DRIVE 8")
        << ListEntry(offset, "TESTCO   - DRIVE 7");
    return LocalServer(
        {"python3", std::string(VERIFY_TEST_DIR) + "/dbar_server.py", root, "30", "20"});
}
