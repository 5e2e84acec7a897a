#pragma once

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

using TestDir = TempFolder;

// Names TEST_P rows by their `name` field.
struct RowNamer {
    template <typename Info> std::string operator()(const Info& row) const {
        return row.param.name;
    }
};
inline constexpr RowNamer RowName{};

// Prints a table row by its name in test results.
template <typename Row>
requires requires(const Row& r) {
    std::string(r.name);
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    return FileBytesOf(path);
}

inline uint32_t U32At(const std::vector<uint8_t>& b, std::size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
           uint32_t{b.at(at + 3)} << 24;
}

inline uint16_t U16At(const std::vector<uint8_t>& b, std::size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
