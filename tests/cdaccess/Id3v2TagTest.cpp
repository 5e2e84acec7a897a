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

    const nlohmann::json read = MutagenTags(name);
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

// A 1x1 PNG image: signature, IHDR, IDAT, IEND.
const std::vector<uint8_t> Png = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
    0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
    0xda, 0x63, 0x64, 0xf8, 0xcf, 0x50, 0x0f, 0x00, 0x03, 0x86, 0x01, 0x80, 0x5a, 0x34,
    0x7d, 0x6b, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        const char digits[] = "0123456789abcdef";
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

json Text(std::vector<std::string> values) {
    return {{"text", values}, {"encoding", Utf8}};
}

Metadata::TagFields Full() {
    Metadata::TagFields f;
    f.Title = "Zwei – Café ½ Ωmega 日本";
    f.Artist = "Isobel Campbell & Mark Lanegan feat. Guest";
    f.ArtistSort = "Campbell, Isobel & Lanegan, Mark feat. Guest";
    f.ArtistIds = {"a0000000-0000-4000-8000-000000000001", "a0000000-0000-4000-8000-000000000002",
                   "a0000000-0000-4000-8000-000000000003"};
    f.RecordingId = "c0000000-0000-4000-8000-000000000001";
    f.ReleaseTrackId = "d0000000-0000-4000-8000-000000000001";
    f.Isrc = "GBAYE0100001";
    f.Track = 2;
    f.TrackTotal = 3;
    f.Album = "Études für Zoë";
    f.AlbumArtist = "The Velmora Ensemble";
    f.AlbumArtistSort = "Velmora Ensemble, The";
    f.AlbumArtistIds = {"a0000000-0000-4000-8000-000000000009"};
    f.Date = "2001-10-15";
    f.Disc = 4;
    f.DiscTotal = 4;
    f.ReleaseId = "6b1e8a5c-0000-4000-8000-000000000001";
    f.ReleaseGroupId = "e0000000-0000-4000-8000-000000000001";
    f.DiscId = "I5l9cCSFccLKFEKS.7wqSZAorPU-";
    f.AlbumType = "album; live";
    f.AlbumStatus = "official";
    f.Country = "GB";
    f.Barcode = "5051083000013";
    f.CatalogNumber = "VEL 001";
    f.Asin = "B00005NVX2";
    f.Cover = std::make_shared<Metadata::CoverImage>(Metadata::CoverImage{Png, "image/png", "png"});
    return f;
}

Metadata::TagFields TitleAndTrack() {
    Metadata::TagFields f;
    f.Title = "Track02";
    f.Track = 2;
    return f;
}

// A date of exactly four characters is a year and stays one; a year and month too.
Metadata::TagFields Dated(const std::string& date) {
    Metadata::TagFields f = TitleAndTrack();
    f.Date = date;
    f.Disc = 1;
    f.DiscTotal = 1;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Id3v2Tag,
    testing::Values(
        TagRow{"EveryFrameVbr", LongTrue, Full(),
               json{{"TIT2", Text({"Zwei – Café ½ Ωmega 日本"})},
                    {"TPE1", Text({"Isobel Campbell & Mark Lanegan feat. Guest"})},
                    {"TSOP", Text({"Campbell, Isobel & Lanegan, Mark feat. Guest"})},
                    {"TALB", Text({"Études für Zoë"})},
                    {"TPE2", Text({"The Velmora Ensemble"})},
                    {"TSO2", Text({"Velmora Ensemble, The"})},
                    {"TRCK", Text({"2/3"})},
                    {"TPOS", Text({"4/4"})},
                    {"TDRC", Text({"2001-10-15"})},
                    {"TSRC", Text({"GBAYE0100001"})},
                    {"UFID:http://musicbrainz.org",
                     {{"owner", "http://musicbrainz.org"},
                      {"data", "c0000000-0000-4000-8000-000000000001"}}},
                    {"TXXX:MusicBrainz Album Id", Text({"6b1e8a5c-0000-4000-8000-000000000001"})},
                    {"TXXX:MusicBrainz Disc Id", Text({"I5l9cCSFccLKFEKS.7wqSZAorPU-"})},
                    {"TXXX:MusicBrainz Release Track Id",
                     Text({"d0000000-0000-4000-8000-000000000001"})},
                    {"TXXX:MusicBrainz Artist Id", Text({"a0000000-0000-4000-8000-000000000001",
                                                         "a0000000-0000-4000-8000-000000000002",
                                                         "a0000000-0000-4000-8000-000000000003"})},
                    {"TXXX:MusicBrainz Album Artist Id",
                     Text({"a0000000-0000-4000-8000-000000000009"})},
                    {"TXXX:MusicBrainz Release Group Id",
                     Text({"e0000000-0000-4000-8000-000000000001"})},
                    {"TXXX:MusicBrainz Album Type", Text({"album; live"})},
                    {"TXXX:MusicBrainz Album Status", Text({"official"})},
                    {"TXXX:MusicBrainz Album Release Country", Text({"GB"})},
                    {"TXXX:BARCODE", Text({"5051083000013"})},
                    {"TXXX:CATALOGNUMBER", Text({"VEL 001"})},
                    {"TXXX:ASIN", Text({"B00005NVX2"})},
                    {"APIC:",
                     {{"mime", "image/png"},
                      {"type", 3}, // front cover
                      {"desc", ""},
                      {"encoding", Utf8},
                      {"data", Hex(Png)}}}}},
        TagRow{"TitleAndTrackOnlyCbr", LongFalse, TitleAndTrack(),
               json{{"TIT2", Text({"Track02"})}, {"TRCK", Text({"2"})}}},
        TagRow{"YearOfFourCharacters", LongFalse, Dated("1999"),
               json{{"TIT2", Text({"Track02"})},
                    {"TRCK", Text({"2"})},
                    {"TPOS", Text({"1/1"})},
                    {"TDRC", Text({"1999"})}}},
        TagRow{"YearAndMonth", LongFalse, Dated("1999-07"),
               json{{"TIT2", Text({"Track02"})},
                    {"TRCK", Text({"2"})},
                    {"TPOS", Text({"1/1"})},
                    {"TDRC", Text({"1999-07"})}}}),
    [](const testing::TestParamInfo<TagRow>& row) { return row.param.name; });

TEST_F(Id3v2Tag, WritingAgainReplacesTheTag) {
    const std::string name = Rip(LongTrue);
    const std::vector<uint8_t> before = ReadBytes(name);
    std::string error;
    ASSERT_TRUE(Metadata::WriteId3v2Tag(name, Full(), &error)) << error;
    Metadata::TagFields fewer;
    fewer.Title = "Only a title";
    ASSERT_TRUE(Metadata::WriteId3v2Tag(name, fewer, &error)) << error;
    const nlohmann::json read = MutagenTags(name);
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["frames"], (json{{"TIT2", Text({"Only a title"})}}));
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
