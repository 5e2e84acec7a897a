// The ripper's hooks for the proof of a rip: the PCM observer, the read offset in the
// parameter block, and the checksums worked out while a track is read.

#include "FakeLibs.h"
#include "TestDir.h"

#include "cdaccess/CDRIP.h"
#include "verify/JobProof.h"
#include "verify/RipProof.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace {

uint32_t PatternCrc(std::size_t count) {
    const std::vector<uint8_t> v = Pattern(count);
    return static_cast<uint32_t>(crc32(0, v.data(), static_cast<uInt>(v.size())));
}

// The AccurateRip checksums of a track that is neither the disc's first nor its last,
// worked out here from their published definition: each stereo sample as one 32-bit
// little-endian word times its 1-based position, summed (v1); v2 adds both halves of
// each 64-bit product.
std::pair<uint32_t, uint32_t> MiddleTrackArSums(const std::vector<uint8_t>& pcm) {
    uint32_t v1 = 0;
    uint32_t v2 = 0;
    for (std::size_t i = 0; i + 3 < pcm.size(); i += 4) {
        const uint32_t word = uint32_t(pcm[i]) | uint32_t(pcm[i + 1]) << 8 |
                              uint32_t(pcm[i + 2]) << 16 | uint32_t(pcm[i + 3]) << 24;
        const uint64_t product = uint64_t(word) * (i / 4 + 1);
        v1 += static_cast<uint32_t>(product);
        v2 += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
    }
    return {v1, v2};
}

class ProofHooks : public testing::Test {
protected:
    FakeCdRip cd;
    // Tracks of 10, 20 and 5 sectors, lead-out at 35; added before the ripper starts.
    FakeDrive& drive = cd.AddDrive({0, 10, 30, 35});
    TCDRIP r{FakeCdRip::Table};
    TestDir dir;
};

TEST_F(ProofHooks, ObserverSeesEveryByteDeliveredAndNothingElse) {
    cd.Chunks = {{0, 1000}, {1, 500}, {3, 700}, {4, 300}};
    std::vector<uint8_t> seen;
    r.OnPCM = [&](const uint8_t* data, std::size_t n) { seen.insert(seen.end(), data, data + n); };
    r.WriteWAV = false;
    r.RipTrack(1, dir / "a.pcm");
    EXPECT_EQ(seen, ReadBytes(dir / "a.pcm"));
    EXPECT_EQ(seen.size(), 2000u);
}

TEST_F(ProofHooks, ReadOffsetIsBytes260To263Signed) {
    r.SetReadOffset(-472);
    r.ApplyParameters();
    EXPECT_EQ(U32At(cd.BlockSet, 260), 0xFFFFFE28u);
    EXPECT_EQ(r.ReadOffset(), -472);
    r.SetReadOffset(667);
    r.ApplyParameters();
    EXPECT_EQ(U32At(cd.BlockSet, 260), 667u);
    EXPECT_EQ(U32At(cd.BlockSet, 276), 24u); // the speed beside it is untouched
}

TEST_F(ProofHooks, TapWorksOutTheTracksCrcAndLetsGo) {
    cd.Chunks = Script(20 * 2352, 3 * 2352);
    r.SetReadOffset(-6);
    RipRecord record;
    DescribeDisc(r, record);
    TrackRecord t;
    {
        ProofTap tap(r, 2);
        ASSERT_TRUE(tap.Available());
        r.RipTrack(2, dir / "b.wav");
        tap.StoreChecksums(t);
    }
    EXPECT_FALSE(static_cast<bool>(r.OnPCM));
    ASSERT_TRUE(t.Crc32.has_value());
    EXPECT_EQ(*t.Crc32, PatternCrc(20 * 2352));
    const auto [v1, v2] = MiddleTrackArSums(Pattern(20 * 2352));
    EXPECT_EQ(t.ArV1, v1);
    EXPECT_EQ(t.ArV2, v2);
    EXPECT_FALSE(t.TestCrc32.has_value());
    // The disc as the record describes it, the identifiers worked out by hand: CDDB
    // from the start seconds (2, 2, 2: digit sum 6) and the length (0 s) of a 3-track
    // disc; AccurateRip's first ID the sum of the starts and the lead-out (75), its
    // second the starts (the first as 1) times their track number plus the lead-out
    // times 4 (251); MusicBrainz's the SHA-1 of "0103" and the lead-out and starts
    // (+150) as 8 hex digits, padded to 100, in its base-64 alphabet.
    EXPECT_EQ(record.Drive, drive.Id);
    EXPECT_EQ(record.ReadOffset, -6);
    ASSERT_EQ(record.Toc.Tracks.size(), 3u);
    EXPECT_EQ(record.Toc.Tracks[0].Start, 0);
    EXPECT_EQ(record.Toc.Tracks[1].Start, 10);
    EXPECT_EQ(record.Toc.Tracks[2].Start, 30);
    EXPECT_TRUE(record.Toc.Tracks[0].Audio && record.Toc.Tracks[1].Audio &&
                record.Toc.Tracks[2].Audio);
    EXPECT_EQ(record.Toc.LeadOut, 35);
    EXPECT_EQ(record.DiscKey, r.GetDiscID());
    EXPECT_EQ(record.CddbId, "06000003");
    EXPECT_EQ(record.AccurateRipId, "003-0000004b-000000fb-06000003");
    EXPECT_EQ(record.MusicBrainzId, "tmPn2C4mL9KT1nu1_Aw4RNoUe1g-");
}

TEST_F(ProofHooks, NoChecksumsWithoutStereo44100) {
    r.SetOutputFormat(TOutputFormat::MONO22050);
    RipRecord record;
    DescribeDisc(r, record);
    ProofTap tap(r, 1);
    EXPECT_FALSE(tap.Available());
    TrackRecord t;
    tap.StoreChecksums(t);
    EXPECT_FALSE(t.Crc32.has_value());
    record.Tracks = {t};
    ApplyAccurateRip(record, ArDiscAnswer{});
    EXPECT_EQ(record.Tracks[0].Ar.Result, ArResult::NotAvailable);
}

} // namespace

namespace {

JobProofOptions Offline(bool test) {
    JobProofOptions o;
    o.Test = test;
    o.AccurateRip = false;
    o.ReadOffset = 0; // the fake drive is not in any list; never ask the network
    return o;
}

TEST_F(ProofHooks, SecondReadThatDiffersMarksTheTrackDamaged) {
    cd.Chunks = Script(10 * 2352, 2352);
    cd.OnChunk = [this](std::size_t chunk) {
        if (cd.Count("CR_OpenRipper") == 2 && chunk == 4) {
            cd.Delivered += 2; // the second read slips by two bytes half-way
        }
    };
    JobProof proof(r, Offline(true));
    proof.Start("test", "");
    proof.RipTrack(1, dir / "a.wav");
    const TrackRecord& t = proof.Record.Tracks.at(0);
    ASSERT_TRUE(t.TestCrc32.has_value());
    EXPECT_NE(*t.TestCrc32, *t.Crc32);
    EXPECT_TRUE(proof.Damaged(1));
    EXPECT_TRUE(t.Damaged.empty()); // no sector was reported unreadable
    EXPECT_EQ(cd.Count("CR_OpenRipper"), 2);
}

TEST_F(ProofHooks, SecondReadThatAgreesLeavesTheTrackClean) {
    cd.Chunks = Script(10 * 2352, 2352);
    JobProof proof(r, Offline(true));
    proof.Start("test", "");
    proof.RipTrack(1, dir / "a.wav");
    const TrackRecord& t = proof.Record.Tracks.at(0);
    EXPECT_EQ(t.TestCrc32, t.Crc32);
    EXPECT_EQ(*t.Crc32, PatternCrc(10 * 2352));
    EXPECT_FALSE(proof.AnyDamaged());
}

TEST_F(ProofHooks, UnreadableSectorsAreTheTracksDamage) {
    cd.Chunks = {{0, 2352}, {3, 2352}, {4, 2352}};
    cd.JitterA = 4;
    cd.JitterB = 6;
    JobProof proof(r, Offline(false));
    proof.Start("test", "");
    proof.RipTrack(1, dir / "a.wav");
    const TrackRecord& t = proof.Record.Tracks.at(0);
    ASSERT_EQ(t.Damaged.size(), 1u);
    EXPECT_EQ(t.Damaged[0], std::make_pair(4, 6));
    EXPECT_FALSE(t.TestCrc32.has_value());
    EXPECT_TRUE(proof.AnyDamaged());
}

// A track whose output failed keeps only its place (number, file, sectors) and is not
// finished: no checksum, damage or test read of the failed output is left.
TEST_F(ProofHooks, MarkFailedKeepsOnlyWhereTheTrackLies) {
    cd.Chunks = Script(20 * 2352, 2352);
    cd.Chunks[5].Status = CRJitter;
    cd.JitterA = 15;
    cd.JitterB = 16;
    JobProof proof(r, Offline(true));
    proof.Start("test", "");
    proof.RipTrack(2, dir / "b.wav");
    ASSERT_EQ(proof.Record.Tracks.size(), 1u);
    {
        const TrackRecord& t = proof.Record.Tracks[0];
        ASSERT_TRUE(t.Crc32 && t.TestCrc32 && t.ArV1 && t.ArV2);
        EXPECT_EQ(t.Damaged, (std::vector<std::pair<int32_t, int32_t>>{{15, 16}}));
        EXPECT_TRUE(t.Ripped);
    }
    proof.MarkFailed(7); // no such track in the record: nothing changes
    EXPECT_TRUE(proof.Record.Tracks[0].Ripped);
    proof.MarkFailed(2);
    ASSERT_EQ(proof.Record.Tracks.size(), 1u);
    const TrackRecord& t = proof.Record.Tracks[0];
    EXPECT_EQ(t.Number, 2);
    EXPECT_EQ(t.File, dir / "b.wav");
    EXPECT_EQ(t.FirstSector, 10);
    EXPECT_EQ(t.Sectors, 20);
    EXPECT_TRUE(t.Damaged.empty());
    EXPECT_FALSE(t.Crc32.has_value());
    EXPECT_FALSE(t.TestCrc32.has_value());
    EXPECT_FALSE(t.ArV1.has_value());
    EXPECT_FALSE(t.ArV2.has_value());
    EXPECT_EQ(t.Ar.Result, ArResult::Off);
    EXPECT_EQ(t.Ar.Confidence, 0);
    EXPECT_EQ(t.Ar.Version, 0);
    EXPECT_FALSE(t.Ripped);
    EXPECT_FALSE(proof.Damaged(2));
}

// A track stopped after it was read keeps its checksums but is not finished.
TEST_F(ProofHooks, MarkUnfinishedKeepsTheChecksums) {
    cd.Chunks = Script(20 * 2352, 2352);
    JobProof proof(r, Offline(false));
    proof.Start("test", "");
    proof.RipTrack(2, dir / "b.wav");
    proof.MarkUnfinished(2);
    const TrackRecord& t = proof.Record.Tracks.at(0);
    EXPECT_EQ(t.Number, 2);
    EXPECT_EQ(t.File, dir / "b.wav");
    EXPECT_EQ(t.FirstSector, 10);
    EXPECT_EQ(t.Sectors, 20);
    EXPECT_EQ(t.Crc32, PatternCrc(20 * 2352));
    EXPECT_TRUE(t.ArV1.has_value());
    EXPECT_FALSE(t.Ripped);
}

TEST_F(ProofHooks, FinishWritesTheLogWithTheLookUpOff) {
    cd.Chunks = Script(10 * 2352, 2352);
    JobProof proof(r, Offline(false));
    proof.Start("test", "Album");
    proof.RipTrack(1, dir / "a.wav");
    const std::string log = proof.Finish(dir.Path, 0);
    EXPECT_EQ(log, dir / "Album.log");
    EXPECT_EQ(proof.Record.Tracks.at(0).Ar.Result, ArResult::Off);
    EXPECT_FALSE(ReadBytes(log).empty());
}

} // namespace
