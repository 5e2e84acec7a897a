// The ID3v2.4 tag on a real rip: a generated disc through the real libraries, the
// ID3v1 title as before, then the ID3v2 tag. Read back with mutagen (an independent
// reader), the audio checked byte for byte, its VBR header frame and decoded length.

#include "Mp3Decode.h"
#include "Mutagen.h"
#include "TestDir.h"

#include "cdaccess/CDRIP.h"
#include "discgen.h"
#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"
#include "lame_enc/Mp3Check.h"
#include "metadata/Id3v2Tag.h"
#include "platform/Paths.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

// The size of the ID3v2 tag at the start of `b` (header included); 0 without one.
std::size_t Id3v2Size(const std::vector<uint8_t>& b) {
    if (b.size() < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3')
        return 0;
    // Four 7-bit bytes ("synchsafe"), plus the 10-byte header.
    return (std::size_t(b[6]) << 21 | std::size_t(b[7]) << 14 | std::size_t(b[8]) << 7 | b[9]) + 10;
}

struct TagRow {
    const char* name;
    LongBool vbr;
    Metadata::TagFields fields;
    nlohmann::json frames; // what mutagen must read, every frame
};

void PrintTo(const TagRow& row, std::ostream* os) {
    *os << row.name;
}

class Id3v2Tag : public testing::TestWithParam<TagRow> {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1);
        discgen::DiscSpec plan = discgen::simpleDisc(1, 2, 750); // 10 seconds each
        plan.toneHz = 440;
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
        ::setenv("CDRIP_IMAGES", (dir / "disc.cue").c_str(), 1);
        ::setenv("CDRIP_AUDIO", "none", 1);
    }
    void TearDown() override {
        ::unsetenv("CDRIP_IMAGES");
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // Rips track 2 to an MP3 with the ID3v1 title, as both front ends do.
    std::string Rip(LongBool vbr) {
        TLameCoder coder;
        coder.SetEnableVBR(vbr);
        TCDRIP r;
        r.SetCoder(&coder);
        r.Encode = true;
        const std::string name = dir / "Zwei – Café.mp3";
        r.RipTrack(2, dir / "Zwei – Café.wav");
        TMP3Info info;
        info.SetFilename(name);
        info.SetTitle("Zwei – Café");
        info.Save();
        EXPECT_TRUE(info.Saved()) << info.Error();
        return name;
    }

    TestDir dir;
};

TEST_P(Id3v2Tag, FramesAudioAndId3v1AsExpected) {
    const TagRow& row = GetParam();
    const std::string name = Rip(row.vbr);
    const std::vector<uint8_t> before = ReadBytes(name);
    ASSERT_GT(before.size(), 128u);
    const std::vector<uint8_t> v1(before.end() - 128, before.end());
    ASSERT_EQ(std::string(v1.begin(), v1.begin() + 3), "TAG");

    std::string error;
    ASSERT_TRUE(Metadata::WriteId3v2Tag(name, row.fields, &error)) << error;
    const std::vector<uint8_t> after = ReadBytes(name);
    const std::size_t tag = Id3v2Size(after);
    ASSERT_GT(tag, 10u);
    EXPECT_EQ(after[3], 4) << "ID3v2.4";
    // The audio and the ID3v1 tag are exactly what they were, the ID3v1 tag last.
    ASSERT_EQ(after.size(), tag + before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin() + std::ptrdiff_t(tag)));

    const nlohmann::json read = MutagenFrames(name);
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["version"], nlohmann::json::array({2, 4, 0}));
    EXPECT_EQ(read["frames"], row.frames) << read.dump(1);

    // The first frame after the tag carries the VBR header when it was asked for; its
    // frame count is that of the stream after it, and the decoder sees the whole track.
    const std::vector<uint8_t> audio(after.begin() + std::ptrdiff_t(tag), after.end() - 128);
    const auto frames = mp3check::Frames(audio);
    ASSERT_FALSE(frames.empty()) << "junk between the tag and the frames";
    const mp3check::InfoTag info = mp3check::ReadInfoTag(audio);
    if (row.vbr != LongFalse) {
        EXPECT_EQ(info.id, "Xing");
        ASSERT_TRUE(info.hasFrames);
        EXPECT_EQ(info.frames, frames.size() - 1);
        const Decoded d = DecodeMp3(name);
        // 750 sectors of 588 stereo frames each.
        EXPECT_NEAR(static_cast<double>(d.Frames()), 750.0 * 588, 2.0);
    }
}

using nlohmann::json;
constexpr int Utf8 = 3; // mutagen's number for UTF-8 text

Metadata::TagFields Full() {
    Metadata::TagFields f;
    f.Title = "Zwei – Café ½ Ωmega 日本";
    f.Artist = "Guest Artist";
    f.Album = "Études für Zoë";
    f.AlbumArtist = "The Velmora Ensemble";
    f.Year = "1999";
    f.Track = 2;
    f.TrackTotal = 3;
    f.ReleaseId = "6b1e8a5c-0000-4000-8000-000000000001";
    f.DiscId = "I5l9cCSFccLKFEKS.7wqSZAorPU-";
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Id3v2Tag,
    testing::Values(
        TagRow{"EveryFrameVbr", LongTrue, Full(),
               json{{"TIT2", {"Zwei – Café ½ Ωmega 日本", Utf8}},
                    {"TPE1", {"Guest Artist", Utf8}},
                    {"TALB", {"Études für Zoë", Utf8}},
                    {"TPE2", {"The Velmora Ensemble", Utf8}},
                    {"TRCK", {"2/3", Utf8}},
                    {"TDRC", {"1999", Utf8}},
                    {"TXXX:MusicBrainz Album Id", {"6b1e8a5c-0000-4000-8000-000000000001", Utf8}},
                    {"TXXX:MusicBrainz Disc Id", {"I5l9cCSFccLKFEKS.7wqSZAorPU-", Utf8}}}},
        TagRow{"TitleAndTrackOnlyCbr",
               LongFalse,
               {"Track02", "", "", "", "", 2, 0, "", ""},
               json{{"TIT2", {"Track02", Utf8}}, {"TRCK", {"2", Utf8}}}}),
    [](const testing::TestParamInfo<TagRow>& row) { return row.param.name; });

TEST_F(Id3v2Tag, WritingAgainReplacesTheTag) {
    const std::string name = Rip(LongTrue);
    const std::vector<uint8_t> before = ReadBytes(name);
    std::string error;
    ASSERT_TRUE(Metadata::WriteId3v2Tag(name, Full(), &error)) << error;
    Metadata::TagFields fewer;
    fewer.Title = "Only a title";
    ASSERT_TRUE(Metadata::WriteId3v2Tag(name, fewer, &error)) << error;
    const nlohmann::json read = MutagenFrames(name);
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["frames"], (json{{"TIT2", {"Only a title", Utf8}}}));
    const std::vector<uint8_t> after = ReadBytes(name);
    const std::size_t tag = Id3v2Size(after);
    ASSERT_EQ(after.size(), tag + before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin() + std::ptrdiff_t(tag)));
}

TEST_F(Id3v2Tag, FilesThatAreNotMp3AreRefused) {
    std::string error;
    EXPECT_FALSE(Metadata::WriteId3v2Tag(dir / "missing.mp3", Full(), &error));
    EXPECT_NE(error.find("missing.mp3"), std::string::npos);
    std::ofstream(dir / "text.mp3") << "just some text, not audio\n";
    error.clear();
    EXPECT_FALSE(Metadata::WriteId3v2Tag(dir / "text.mp3", Full(), &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
