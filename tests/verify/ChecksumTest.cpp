#include "verify/ArChecksum.h"
#include "verify/Crc32.h"
#include "verify/DiscIds.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Deterministic noise over the whole 16-bit range, so that the 64-bit products of the
// v2 checksum carry into their high half.
std::vector<uint8_t> Noise(std::size_t bytes, uint32_t seed) {
    std::vector<uint8_t> pcm(bytes);
    uint32_t x = seed;
    for (auto& b : pcm) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return pcm;
}

struct Sums {
    std::string Crc, V1, V2;
};

// The independent Python reader's answer for the same bytes.
Sums Reference(const std::string& file, bool first, bool last) {
    const std::string cmd = std::string("python3 ") + VERIFY_TEST_DIR + "/ar_reference.py '" +
                            file + "' " + (first ? "1 " : "0 ") + (last ? "1" : "0");
    FILE* p = ::popen(cmd.c_str(), "r");
    char crc[16] = {}, v1[16] = {}, v2[16] = {};
    const int n = p != nullptr ? std::fscanf(p, "%15s %15s %15s", crc, v1, v2) : 0;
    if (p != nullptr) {
        ::pclose(p);
    }
    EXPECT_EQ(n, 3) << cmd;
    return {crc, v1, v2};
}

struct ChecksumCase {
    std::string Name;
    int Sectors;
    bool First;
    bool Last;
    std::size_t Chunk; // bytes per Update call
};

class TrackChecksums : public testing::TestWithParam<ChecksumCase> {};

TEST_P(TrackChecksums, MatchIndependentReader) {
    const ChecksumCase& c = GetParam();
    const std::vector<uint8_t> pcm = Noise(std::size_t(c.Sectors) * 2352, 12345u + c.Sectors);
    TempFolder dir("verify");
    const std::string file = dir / "track.pcm";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));

    TrackCrc32 crc;
    ArChecksum ar(uint64_t(c.Sectors) * 588, c.First, c.Last);
    for (std::size_t at = 0; at < pcm.size(); at += c.Chunk) {
        const std::size_t n = std::min(c.Chunk, pcm.size() - at);
        crc.Update(pcm.data() + at, n);
        ar.Update(pcm.data() + at, n);
    }
    const Sums want = Reference(file, c.First, c.Last);
    EXPECT_EQ(Hex8(crc.Value()), want.Crc);
    EXPECT_EQ(Hex8(ar.V1()), want.V1);
    EXPECT_EQ(Hex8(ar.V2()), want.V2);
    EXPECT_NE(ar.V1(), ar.V2()); // noise this loud always carries into the high half
}

INSTANTIATE_TEST_SUITE_P(
    Generated, TrackChecksums,
    testing::Values(ChecksumCase{"MiddleTrackWholeSectors", 40, false, false, 2352 * 13},
                    ChecksumCase{"FirstTrackOddChunks", 40, true, false, 1001},
                    ChecksumCase{"LastTrackOddChunks", 40, false, true, 4099},
                    ChecksumCase{"OnlyTrack", 30, true, true, 2352 * 7},
                    ChecksumCase{"ByteByByte", 12, true, true, 1}),
    [](const testing::TestParamInfo<ChecksumCase>& row) { return row.param.Name; });

// The samples left out really are left out: changing them leaves the checksums alone,
// and changing the first sample that counts changes them.
TEST(TrackChecksumsEdges, FirstTrackSkipsFiveSectorsLessOneSample) {
    std::vector<uint8_t> pcm = Noise(20 * 2352, 7);
    auto sums = [&](const std::vector<uint8_t>& bytes) {
        ArChecksum ar(20 * 588, true, false);
        ar.Update(bytes.data(), bytes.size());
        return std::make_pair(ar.V1(), ar.V2());
    };
    const auto base = sums(pcm);
    std::vector<uint8_t> early = pcm;
    early[2938 * 4] ^= 0xff; // sample 2939 (1-based): left out
    EXPECT_EQ(sums(early), base);
    std::vector<uint8_t> counted = pcm;
    counted[2939 * 4] ^= 0xff; // sample 2940: the first that counts
    EXPECT_NE(sums(counted), base);
}

TEST(TrackChecksumsEdges, LastTrackSkipsFiveSectors) {
    std::vector<uint8_t> pcm = Noise(20 * 2352, 8);
    auto sums = [&](const std::vector<uint8_t>& bytes) {
        ArChecksum ar(20 * 588, false, true);
        ar.Update(bytes.data(), bytes.size());
        return std::make_pair(ar.V1(), ar.V2());
    };
    const auto base = sums(pcm);
    std::vector<uint8_t> tail = pcm;
    tail[(20 * 588 - 2940) * 4] ^= 0xff; // 0-based sample N-2940, position N-2939: left out
    EXPECT_EQ(sums(tail), base);
    std::vector<uint8_t> counted = pcm;
    counted[(20 * 588 - 2941) * 4] ^= 0xff; // position N-2940: the last that counts
    EXPECT_NE(sums(counted), base);
}

// Silence has checksums of zero, and zlib's CRC32 of nothing is zero.
TEST(TrackChecksumsEdges, SilenceAndNothing) {
    std::vector<uint8_t> pcm(10 * 2352, 0);
    ArChecksum ar(10 * 588, false, false);
    ar.Update(pcm.data(), pcm.size());
    EXPECT_EQ(ar.V1(), 0u);
    EXPECT_EQ(ar.V2(), 0u);
    EXPECT_EQ(TrackCrc32().Value(), 0u);
    TrackCrc32 crc;
    crc.Update(reinterpret_cast<const uint8_t*>("123456789"), 9);
    EXPECT_EQ(crc.Value(), 0xcbf43926u); // the CRC-32 check value
}

} // namespace
