// Vorbis comments as stored, the image sizes of covers, the comment patches of FLAC and
// Opus headers, and the tag update of finished files (the album gain) read back by
// libFLAC, libopusfile, the flac command and mutagen.
#include "AudioCheck.h"

#include "cdaccess/Mutagen.h"
#include "encoding/FlacEncoder.h"
#include "encoding/OggOpusTags.h"
#include "encoding/OpusEncoder.h"
#include "encoding/TagUpdate.h"

#include <opusfile.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace Encoding;

namespace {

TEST(VorbisComments, SerializedAsStoredAndReadBack) {
    const TVorbisComments c = {{"TITLE", "A"}, {"ARTIST", "Zoë"}};
    const std::vector<uint8_t> bytes = SerializeComments("v", c);
    // 4 + 1 (vendor) + 4 (count) + 4 + 7 ("TITLE=A") + 4 + 11 ("ARTIST=Zoë", ë two bytes)
    const std::vector<uint8_t> expected = {
        1,   0,   0,  0, 'v', 2, 0,   0,   0,   7,   0,   0,   0,   'T', 'I', 'T',  'L', 'E',
        '=', 'A', 11, 0, 0,   0, 'A', 'R', 'T', 'I', 'S', 'T', '=', 'Z', 'o', 0xC3, 0xAB};
    EXPECT_EQ(bytes, expected);
    std::string vendor;
    TVorbisComments back;
    std::size_t used = 0;
    ASSERT_TRUE(ParseComments(bytes.data(), bytes.size(), vendor, back, used));
    EXPECT_EQ(vendor, "v");
    EXPECT_EQ(back, c);
    EXPECT_EQ(used, bytes.size());
}

struct CutRow {
    const char* name;
    std::vector<uint8_t> bytes;
};

class CommentsMalformed : public testing::TestWithParam<CutRow> {};

const CutRow CutRows[] = {
    {"empty", {}},
    {"vendor_length_cut", {1, 0, 0}},
    {"vendor_past_end", {9, 0, 0, 0, 'v'}},
    {"no_count", {1, 0, 0, 0, 'v'}},
    {"count_without_comments", {0, 0, 0, 0, 1, 0, 0, 0}},
    {"huge_count", {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 'A', '=', 'B'}},
    {"comment_past_end", {0, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 'A', '='}},
    {"comment_without_equals", {0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'A', 'B'}},
};

TEST_P(CommentsMalformed, AreRefused) {
    std::string vendor;
    TVorbisComments c;
    std::size_t used = 0;
    EXPECT_FALSE(ParseComments(GetParam().bytes.data(), GetParam().bytes.size(), vendor, c, used));
}

INSTANTIATE_TEST_SUITE_P(Rows, CommentsMalformed, testing::ValuesIn(CutRows), RowNameOf{});

TEST(VorbisComments, MergeReplacesInPlaceAndAppendsNewNames) {
    const TVorbisComments old = {{"TITLE", "A"},
                                 {"replaygain_track_gain", "1.00 dB"},
                                 {"ARTIST", "B"},
                                 {"REPLAYGAIN_TRACK_GAIN", "9.00 dB"}};
    const TVorbisComments merged =
        MergeComments(old, {{"REPLAYGAIN_TRACK_GAIN", "2.00 dB"}, {"R128_ALBUM_GAIN", "5"}});
    const TVorbisComments expected = {{"TITLE", "A"},
                                      {"REPLAYGAIN_TRACK_GAIN", "2.00 dB"},
                                      {"ARTIST", "B"},
                                      {"R128_ALBUM_GAIN", "5"}};
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(FindComment(merged, "r128_album_gain"), std::optional<std::string>("5"));
    EXPECT_EQ(FindComment(merged, "DATE"), std::nullopt);
}

TEST(VorbisComments, Names) {
    EXPECT_TRUE(ValidCommentName("MUSICBRAINZ_TRACKID"));
    EXPECT_TRUE(ValidCommentName(" }"));
    EXPECT_FALSE(ValidCommentName(""));
    EXPECT_FALSE(ValidCommentName("A=B"));
    EXPECT_FALSE(ValidCommentName("A~"));    // 0x7E
    EXPECT_FALSE(ValidCommentName("A\x1F")); // below 0x20
}

struct ImageRow {
    const char* name;
    std::vector<uint8_t> data;
    bool ok;
    uint32_t width, height, depth;
};

class Images : public testing::TestWithParam<ImageRow> {};

// A JPEG: SOI, an APP0 segment of 16 bytes, then SOF0 with 8-bit samples, 3 components.
const std::vector<uint8_t> Jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16,   'J',  'F',  'I',  'F',
                                   0,    1,    1,    0,    0, 1,    0,    1,    0,    0,
                                   0xFF, 0xC0, 0,    17,   8, 0x01, 0xE0, 0x02, 0x80, 3};

const std::vector<uint8_t> Png = TinyPng(640, 480);

const ImageRow ImageRows[] = {
    {"png_rgb", Png, true, 640, 480, 24},
    {"png_cut_in_its_size", std::vector<uint8_t>(Png.begin(), Png.begin() + 25), false, 0, 0, 0},
    {"jpeg", Jpeg, true, 640, 480, 24},
    {"jpeg_cut_in_frame", std::vector<uint8_t>(Jpeg.begin(), Jpeg.end() - 3), false, 0, 0, 0},
    {"gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, false, 0, 0, 0},
    {"empty", {}, false, 0, 0, 0},
};

TEST_P(Images, Size) {
    uint32_t w = 0, h = 0, d = 0;
    EXPECT_EQ(ImageSize(GetParam().data, w, h, d), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(w, GetParam().width);
        EXPECT_EQ(h, GetParam().height);
        EXPECT_EQ(d, GetParam().depth);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Images, testing::ValuesIn(ImageRows), RowNameOf{});

TEST(OggCrc, KnownValue) {
    // The Ogg CRC of "123456789" (CRC-32/MPEG-2 without the initial all-ones: 0x89A1897F).
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(OggCrc(text, sizeof text), 0x89A1897Fu);
}

std::string MakeFile(const TempFolder& dir, const std::string& name, bool opus,
                     const std::vector<uint8_t>& pcm, const TVorbisComments& tags,
                     const TVorbisComments& extra) {
    const std::string path = dir.file(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TFdSink sink(fd);
    std::string error;
    if (opus) {
        TOpusEncoder e;
        TOpusOptions o;
        o.Comments = tags;
        EXPECT_TRUE(e.Open(sink, o, &error) && e.Feed(pcm.data(), pcm.size(), &error) &&
                    e.Finish(extra, &error))
            << error;
    } else {
        TFlacEncoder e;
        TFlacOptions o;
        o.Comments = tags;
        o.ExpectedSamples = pcm.size() / 4;
        EXPECT_TRUE(e.Open(sink, o, &error) && e.Feed(pcm.data(), pcm.size(), &error) &&
                    e.Finish(extra, &error))
            << error;
    }
    ::close(fd);
    return path;
}

// Comments as mutagen lists them: [[name, value], ...].
nlohmann::json Pairs(const TVorbisComments& comments) {
    nlohmann::json list = nlohmann::json::array();
    for (const TComment& c : comments) {
        list.push_back(nlohmann::json::array({c.Name, c.Value}));
    }
    return list;
}

bool Copy(const std::string& from, const std::string& to, TTaggedFormat format,
          const TVorbisComments& set, std::string* error) {
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TFdSink sink(fd);
    const bool ok = CopyWithComments(from, format, set, sink, error);
    ::close(fd);
    return ok;
}

// The album gain added to finished files: the copy has every old comment and the new
// ones, and its audio bytes are those of the original.
TEST(TagUpdate, FlacCopyGetsTheAlbumGain) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 440, -10);
    const std::string flac = MakeFile(dir, "a.flac", false, pcm, {{"TITLE", "A"}},
                                      {{"REPLAYGAIN_TRACK_GAIN", "1.00 dB"}});
    const std::string copy = dir.file("b.flac");
    std::string error;
    ASSERT_TRUE(Copy(flac, copy, TTaggedFormat::Flac,
                     {{"REPLAYGAIN_ALBUM_GAIN", "-1.50 dB"}, {"REPLAYGAIN_ALBUM_PEAK", "0.500000"}},
                     &error))
        << error;
    const nlohmann::json m = MutagenVorbis(copy);
    const nlohmann::json expected = Pairs({{"TITLE", "A"},
                                           {"REPLAYGAIN_TRACK_GAIN", "1.00 dB"},
                                           {"REPLAYGAIN_ALBUM_GAIN", "-1.50 dB"},
                                           {"REPLAYGAIN_ALBUM_PEAK", "0.500000"}});
    EXPECT_EQ(m["tags"], expected);
    const std::vector<uint8_t> a = FileBytes(flac), b = FileBytes(copy);
    ASSERT_EQ(a.size(), b.size()); // the padding took the new comments
    const std::size_t audio = FlacMetadataLength(a.data(), a.size());
    EXPECT_EQ(FlacMetadataLength(b.data(), b.size()), audio);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(audio), a.end(),
                           b.begin() + static_cast<long>(audio)));
    EXPECT_EQ(RunCommand("flac --test --silent '" + copy + "'").Status, 0);
}

// Comments longer than the padding: the metadata grows and the audio moves, whole.
TEST(TagUpdate, FlacCopyGrowsWhenThePaddingIsTooSmall) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 50, 440, -10);
    const std::string flac = MakeFile(dir, "a.flac", false, pcm, {{"TITLE", "A"}}, {});
    const std::string copy = dir.file("b.flac");
    const std::string comment(FlacPaddingBytes * 2, 'x');
    std::string error;
    ASSERT_TRUE(Copy(flac, copy, TTaggedFormat::Flac, {{"COMMENT", comment}}, &error)) << error;
    const std::vector<uint8_t> a = FileBytes(flac), b = FileBytes(copy);
    const std::size_t audioA = FlacMetadataLength(a.data(), a.size());
    const std::size_t audioB = FlacMetadataLength(b.data(), b.size());
    EXPECT_GT(audioB, audioA + comment.size());
    EXPECT_EQ(b.size() - audioB, a.size() - audioA);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(audioA), a.end(),
                           b.begin() + static_cast<long>(audioB)));
    EXPECT_EQ(RunCommand("flac --test --silent '" + copy + "'").Status, 0);
    EXPECT_EQ(MutagenVorbis(copy)["tags"][1][1], comment);
}

TEST(TagUpdate, OpusCopyGetsTheAlbumGain) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 440, -10);
    const std::string opus =
        MakeFile(dir, "a.opus", true, pcm, {{"TITLE", "A"}}, {{"R128_TRACK_GAIN", "100"}});
    const std::string copy = dir.file("b.opus");
    std::string error;
    ASSERT_TRUE(Copy(opus, copy, TTaggedFormat::Opus, {{"R128_ALBUM_GAIN", "-200"}}, &error))
        << error;
    const nlohmann::json expected =
        Pairs({{"TITLE", "A"}, {"R128_TRACK_GAIN", "100"}, {"R128_ALBUM_GAIN", "-200"}});
    EXPECT_EQ(MutagenVorbis(copy)["tags"], expected);
    const std::vector<uint8_t> a = FileBytes(opus), b = FileBytes(copy);
    ASSERT_EQ(a.size(), b.size());
    const std::size_t head = OpusHeaderLength(a.data(), a.size());
    EXPECT_EQ(OpusHeaderLength(b.data(), b.size()), head);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(head), a.end(),
                           b.begin() + static_cast<long>(head)));
    // libopusfile checks every page's CRC: a wrong one would lose the header.
    int err = 0;
    OggOpusFile* of = op_open_file(copy.c_str(), &err);
    ASSERT_NE(of, nullptr) << err;
    int gain = 0;
    EXPECT_EQ(opus_tags_get_album_gain(op_tags(of, -1), &gain), 0);
    EXPECT_EQ(gain, -200);
    EXPECT_EQ(op_pcm_total(of, -1), 640 * 100);
    op_free(of);
    EXPECT_EQ(RunCommand("opusinfo '" + copy + "'").Status, 0);
}

TEST(TagUpdate, OpusCommentsBeyondThePaddingAreRefused) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 20, 440, -10);
    const std::string opus = MakeFile(dir, "a.opus", true, pcm, {}, {});
    std::string error;
    EXPECT_FALSE(Copy(opus, dir.file("b.opus"), TTaggedFormat::Opus,
                      {{"COMMENT", std::string(2 * OpusCommentPadding, 'x')}}, &error));
    EXPECT_EQ(error, "no room for the tags in the Opus comment header");
}

struct NotTheFormatRow {
    const char* name;
    std::vector<uint8_t> bytes;
    TTaggedFormat format;
    const char* error;
};

class TagUpdateRefuses : public testing::TestWithParam<NotTheFormatRow> {};

const NotTheFormatRow NotTheFormatRows[] = {
    {"empty_flac", {}, TTaggedFormat::Flac, "not a FLAC file"},
    {"flac_cut_in_a_block",
     {'f', 'L', 'a', 'C', 0x84, 0, 0, 40, 1, 2},
     TTaggedFormat::Flac,
     "not a FLAC file"},
    {"flac_without_comments",
     {'f', 'L', 'a', 'C', 0x81, 0, 0, 2, 0, 0},
     TTaggedFormat::Flac,
     "the FLAC file has no readable comment block"},
    {"ogg_cut", {'O', 'g', 'g', 'S', 0}, TTaggedFormat::Opus, "not an Ogg Opus file"},
    {"wav_as_opus", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, TTaggedFormat::Opus, "not an Ogg Opus file"},
};

TEST_P(TagUpdateRefuses, WithTheReason) {
    TempFolder dir;
    WriteFileBytes(dir.file("in"), GetParam().bytes);
    std::string error;
    EXPECT_FALSE(Copy(dir.file("in"), dir.file("out"), GetParam().format, {{"A", "B"}}, &error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Rows, TagUpdateRefuses, testing::ValuesIn(NotTheFormatRows), RowNameOf{});

TEST(TagUpdate, MissingFileGivesTheSystemsReason) {
    TempFolder dir;
    std::string error;
    EXPECT_FALSE(Copy(dir.file("none.flac"), dir.file("out"), TTaggedFormat::Flac, {}, &error));
    EXPECT_EQ(error, "No such file or directory");
}

// An MP3 made by the lame command gets the gains as TXXX frames, read back by mutagen.
TEST(TagUpdate, Mp3GainsAsUserTextFrames) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 50, 440, -10);
    WriteFileBytes(dir.file("t.raw"), pcm);
    const std::string mp3 = dir.file("t.mp3");
    const CommandResult lame = RunCommand("lame --silent -r -s 44.1 --bitwidth 16 '" +
                                          dir.file("t.raw") + "' '" + mp3 + "'");
    ASSERT_EQ(lame.Status, 0) << lame.Output;
    std::string error;
    ASSERT_TRUE(WriteId3UserTexts(
        mp3, {{"REPLAYGAIN_TRACK_GAIN", "-3.00 dB"}, {"REPLAYGAIN_TRACK_PEAK", "0.316228"}},
        &error))
        << error;
    ASSERT_TRUE(WriteId3UserTexts(mp3, {{"REPLAYGAIN_TRACK_GAIN", "-4.00 dB"}}, &error)) << error;
    const nlohmann::json frames = MutagenFrames(mp3);
    ASSERT_FALSE(frames.is_null());
    EXPECT_EQ(frames["frames"].size(), 2u);
    EXPECT_EQ(frames["frames"]["TXXX:REPLAYGAIN_TRACK_GAIN"][0], "-4.00 dB");
    EXPECT_EQ(frames["frames"]["TXXX:REPLAYGAIN_TRACK_PEAK"][0], "0.316228");
}

} // namespace
