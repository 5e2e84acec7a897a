// Shared set-up of the library tests: disc images generated into a fresh temporary
// folder, the library started over them, and helpers that rip a range.
#pragma once

#include "cdrip.h"
#include "discgen.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cdriptest {

// What one CR_OpenRipper .. CR_CloseRipper run delivered.
struct RipResult {
    CR_STATUS openStatus = CR_STATUS_FAIL;
    int32_t bufferSize = 0;
    std::vector<uint8_t> bytes;
    std::vector<CR_STATUS> statuses;
    std::vector<int32_t> percents;
    std::vector<std::pair<uint32_t, uint32_t>> errorPositions; // after each status 3
    int32_t errorCount = 0;
};

class CdripTest : public testing::Test {
public:
    // Two discs: a music disc with odd track lengths, a pregap and a data track, and a
    // one-track 1 kHz tone disc.
    static discgen::DiscSpec musicSpec();
    static discgen::DiscSpec toneSpec();

protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Restarts the library with these images and faults (null: unset).
    static void startLibrary(const std::vector<std::string>& images, const char* faults);
    // Index of the drive whose identification text ends with `path`; -1 when absent.
    static int32_t driveOf(const std::string& path);
    // Selects the drive of `path` and reads its table of contents.
    static void selectDisc(const std::string& path);
    static void setMode(bool paranoia, int format);
    static RipResult rip(int32_t first, int32_t last);

    static std::string dir_;
    static std::string music_, tone_;
    static std::vector<uint8_t> musicBytes_;
};

// The gap an entry declares before its start (bytes 6-7, little-endian).
int32_t gapOf(const CR_TOCENTRY& e);
// The last sector of track `index` (0-based): before the next entry's gap and start.
int32_t trackEnd(int32_t index);

// The stereo sample frames of an image between two sectors (inclusive).
std::vector<uint8_t> sectorBytes(const std::vector<uint8_t>& image, int32_t first, int32_t last);

} // namespace cdriptest
