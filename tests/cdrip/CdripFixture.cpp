#include "CdripFixture.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

// Read by LeakSanitizer in the sanitizer build: libcdio's cue reader keeps a copy of the
// FILE name when a .cue sheet ends in the middle of its FILE line (the "CueCutShort"
// image). Not ours to fix; everything else must be leak-free.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcdio.so\n";
}

namespace cdriptest {

std::string CdripTest::dir_;
std::string CdripTest::music_;
std::string CdripTest::tone_;
std::vector<uint8_t> CdripTest::musicBytes_;

discgen::DiscSpec CdripTest::musicSpec() {
    discgen::DiscSpec plan;
    plan.seed = 77;
    // Odd lengths so that no track is a whole number of chunks; track 3 has a pregap.
    plan.tracks = {{301, 0, false}, {457, 0, false}, {389, 40, false}, {120, 150, true}};
    return plan;
}

discgen::DiscSpec CdripTest::toneSpec() {
    discgen::DiscSpec plan;
    plan.seed = 1;
    plan.toneHz = 1000;
    plan.tracks = {{300, 0, false}};
    return plan;
}

void CdripTest::SetUpTestSuite() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/cdrip-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    music_ = dir_ + "/music";
    tone_ = dir_ + "/tone";
    ASSERT_TRUE(discgen::writeDisc(music_, musicSpec()));
    ASSERT_TRUE(discgen::writeDisc(tone_, toneSpec()));
    musicBytes_ = discgen::imageBytes(musicSpec());
    music_ += ".cue";
    tone_ += ".cue";
}

void CdripTest::TearDownTestSuite() {
    CR_DeInit();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void CdripTest::SetUp() {
    startLibrary({music_, tone_}, nullptr);
}

void CdripTest::TearDown() {
    CR_DeInit();
}

void CdripTest::startLibrary(const std::vector<std::string>& images, const char* faults) {
    CR_DeInit();
    std::string list;
    for (const std::string& image : images)
        list += (list.empty() ? "" : ":") + image;
    setenv("CDRIP_IMAGES", list.c_str(), 1);
    setenv("CDRIP_AUDIO", "none", 1);
    setenv("CDRIP_TRAY_SECONDS", "1", 1);
    if (faults)
        setenv("CDRIP_FAULTS", faults, 1);
    else
        unsetenv("CDRIP_FAULTS");
    ASSERT_EQ(CR_Init(), CR_STATUS_OK);
}

int32_t CdripTest::driveOf(const std::string& path) {
    for (int32_t i = 0; i < CR_GetNumCDROM(); ++i) {
        CR_DRIVE_PARAMS p{};
        if (CR_SetActiveCDROM(i) != CR_STATUS_OK || CR_GetCDROMParameters(&p) != CR_STATUS_OK)
            continue;
        std::string id(p.id);
        if (id.size() >= path.size() && id.compare(id.size() - path.size(), path.size(), path) == 0)
            return i;
    }
    return -1;
}

void CdripTest::selectDisc(const std::string& path) {
    int32_t drive = driveOf(path);
    ASSERT_GE(drive, 0) << path;
    ASSERT_EQ(CR_SetActiveCDROM(drive), CR_STATUS_OK);
    ASSERT_EQ(CR_ReadToc(), CR_STATUS_OK) << path;
}

void CdripTest::setMode(bool paranoia, int format) {
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.jitterCorrection = paranoia ? CR_TRUE : CR_FALSE;
    p.outputFormat = uint8_t(format);
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
}

RipResult CdripTest::rip(int32_t first, int32_t last) {
    RipResult r;
    r.openStatus = CR_OpenRipper(&r.bufferSize, first, last);
    if (r.openStatus == CR_STATUS_FAIL)
        return r;
    std::vector<uint8_t> buffer(size_t(r.bufferSize) + 16, 0xEE);
    // Every call moves on, so a range of n sectors needs no more than n + a few calls.
    for (int32_t guard = 0; guard < last - first + 10; ++guard) {
        int32_t n = -1;
        CR_STATUS s = CR_RipChunk(buffer.data(), &n, CR_TRUE);
        r.statuses.push_back(s);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, r.bufferSize);
        if (s == CR_STATUS_FAIL)
            break;
        r.bytes.insert(r.bytes.end(), buffer.begin(), buffer.begin() + n);
        r.percents.push_back(CR_GetPercentCompleted());
        if (s == CR_STATUS_JITTER || s == CR_STATUS_DONE) {
            uint32_t a = 0, b = 0;
            EXPECT_EQ(CR_GetLastJitterErrorPosition(&a, &b), CR_STATUS_OK);
            r.errorPositions.emplace_back(a, b);
        }
        if (s == CR_STATUS_DONE)
            break;
    }
    r.errorCount = CR_GetNumberOfJitterErrors();
    EXPECT_EQ(CR_CloseRipper(), CR_STATUS_OK);
    return r;
}

int32_t gapOf(const CR_TOCENTRY& e) {
    return e.reserved[0] | e.reserved[1] << 8;
}

int32_t trackEnd(int32_t index) {
    const CR_TOCENTRY next = CR_GetTocEntry(index + 1);
    return next.startSector - gapOf(next) - 1;
}

std::vector<uint8_t> sectorBytes(const std::vector<uint8_t>& image, int32_t first, int32_t last) {
    return std::vector<uint8_t>(image.begin() + int64_t(first) * discgen::kSectorBytes,
                                image.begin() + int64_t(last + 1) * discgen::kSectorBytes);
}

} // namespace cdriptest
