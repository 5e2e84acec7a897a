// Shared set-up of the tests on the emulated drive: discs generated into a temporary
// folder, the drive (preloaded into this process) loaded with one of them, the real
// library started over it, and helpers that rip and run programs.
#pragma once

#include "cdrip.h"
#include "discgen.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace drivetest {

constexpr int kSector = 2352;
constexpr const char* kDevice = "/dev/sr0"; // set for this test binary by CTest

// Hands settings to the emulated drive in this process (see README.md); 0 when taken.
int Emu(const std::string& settings);
// The drive's statistics as its JSON object, and one number of it.
std::string EmuStats();
long EmuStat(const std::string& key);
// The drive's virtual clock, in seconds.
double EmuSeconds();
// A drive model as this build runs it. The sanitizers make every command several times
// slower, cache hits too, while a paced drive's sleeps stay as they are: there the pace
// is made three times longer, so that the disc stays as much slower than the cache.
std::string AsBuilt(std::string model);

struct DiscFiles {
    std::string cue;
    std::vector<uint8_t> bin;
    discgen::Layout layout;
    int32_t audioEnd = 0; // first sector after the audio (a data track's pregap begins)
};

// What a rip through the library delivered.
struct Ripped {
    CR_STATUS open = CR_STATUS_FAIL;
    std::vector<uint8_t> bytes;
    bool damaged = false; // some chunk came with status 3
    bool failed = false;  // some chunk came with status 1 before the range ended
    int chunks = 0;
    int32_t errors = 0;
    std::vector<std::pair<uint32_t, uint32_t>> listed; // each damaged chunk's listed sectors
};

struct ProgramResult {
    int code = -1;
    std::string out, err;
};

class DriveTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void TearDown() override;

    // Starts the drive over with `settings` (cue=... and the model), then the library.
    static void Load(const std::string& settings);
    static Ripped Rip(int32_t first, int32_t last, bool paranoia, int32_t offset);
    // The image's bytes of sectors first..last as a drive with no offset reads them,
    // moved by `offset` samples: silence where that leaves the disc's audio.
    static std::vector<uint8_t> Expected(const DiscFiles& disc, int32_t first, int32_t last,
                                         int32_t offset);
    static std::string StatusText();
    // Writes a disc of full-scale noise (one audio track) and returns it.
    static DiscFiles NoiseDisc(const std::string& name, uint32_t seed, int32_t sectors);
    static DiscFiles WriteDisc(const std::string& name, const discgen::DiscSpec& plan);
    // Runs `argv` with the drive described by `emu` (VELMORA_EMU) and `env`; stdout and
    // stderr captured, at most `seconds` long.
    static ProgramResult Run(const std::vector<std::string>& argv, const std::string& emu,
                             const std::map<std::string, std::string>& env = {}, int seconds = 60);
    static std::string Bin(const std::string& program);
    // A home folder of the running test's own under dir_, with `config` and `cache`
    // (and `extra`, when given) made in it.
    static std::string TestHome(const char* extra = nullptr);

    static std::string dir_;
    static DiscFiles music_;    // three audio tracks with CD-TEXT
    static DiscFiles enhanced_; // three audio tracks and a data track
};

std::vector<uint8_t> ReadFile(const std::string& path);

} // namespace drivetest
