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

std::vector<FakeChunk> Chunks(int32_t total, int32_t block) {
    FakeCdRip::Current->BufferSize = std::max(FakeCdRip::Current->BufferSize, block);
    std::vector<FakeChunk> chunks;
    for (int32_t done = 0; done < total; done += block) {
        chunks.push_back({0, std::min(block, total - done)});
    }
    chunks.back().Status = CRFinished;
    return chunks;
}

uint32_t PatternCrc(std::size_t count) {
    std::vector<uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i) {
        v[i] = PcmByte(i);
    }
    return static_cast<uint32_t>(crc32(0, v.data(), static_cast<uInt>(v.size())));
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
    cd.Chunks = Chunks(20 * 2352, 3 * 2352);
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
    EXPECT_TRUE(t.ArV1.has_value());
    EXPECT_EQ(record.Toc.LeadOut, 35);
    EXPECT_EQ(record.AccurateRipId, AccurateRipDiscIds(record.Toc).Text());
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
    cd.Chunks = Chunks(10 * 2352, 2352);
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
    cd.Chunks = Chunks(10 * 2352, 2352);
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

TEST_F(ProofHooks, FinishWritesTheLogWithTheLookUpOff) {
    cd.Chunks = Chunks(10 * 2352, 2352);
    JobProof proof(r, Offline(false));
    proof.Start("test", "Album");
    proof.RipTrack(1, dir / "a.wav");
    const std::string log = proof.Finish(dir.Path, 0);
    EXPECT_EQ(log, dir / "Album.log");
    EXPECT_EQ(proof.Record.Tracks.at(0).Ar.Result, ArResult::Off);
    EXPECT_FALSE(ReadBytes(log).empty());
}

} // namespace
