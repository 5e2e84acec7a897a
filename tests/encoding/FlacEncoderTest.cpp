// TFlacEncoder: each output format encoded and decoded again by libFLAC's decoder, by
// the flac command's test mode and by mutagen; the decoded PCM is the input, byte for
// byte, and STREAMINFO holds the input's MD5 and sample count.
#include "AudioCheck.h"
#include "FlacDecode.h"

#include "encoding/FlacEncoder.h"
#include "encoding/ReplayGain.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace Encoding;

namespace {

struct FlacRow {
    const char* name;
    uint32_t rate;
    uint32_t channels;
    uint32_t compression;
    std::size_t frames;
    std::size_t piece; // bytes fed at a time
};

class FlacFormats : public testing::TestWithParam<FlacRow> {};

// 588 sample frames a CD sector at 44100 Hz; 294 at 22050, 147 at 11025.
const FlacRow FlacRows[] = {
    {"cd_stereo_level8", 44100, 2, 8, 588 * 1500, 2352 * 13},
    {"cd_stereo_level0", 44100, 2, 0, 588 * 1500, 2352 * 13},
    {"cd_stereo_odd_pieces", 44100, 2, 5, 588 * 400, 1001},
    {"mono_44100", 44100, 1, 8, 588 * 800, 4097},
    {"stereo_22050", 22050, 2, 8, 294 * 800, 2352},
    {"mono_11025", 11025, 1, 8, 147 * 800, 2352},
    {"one_frame", 44100, 2, 8, 1, 4},
    {"no_audio", 44100, 2, 8, 0, 4},
};

TEST_P(FlacFormats, DecodesToTheInput) {
    const FlacRow& row = GetParam();
    TempFolder dir;
    const std::string path = dir.file("t.flac");
    const std::vector<uint8_t> pcm = TonePcm(row.rate, row.channels, row.frames, 440, -6);
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        TFdSink sink(fd);
        TFlacEncoder flac;
        TFlacOptions o;
        o.SampleRate = row.rate;
        o.Channels = row.channels;
        o.Compression = row.compression;
        o.ExpectedSamples = row.frames;
        o.Comments = {{"TITLE", "Tone"}};
        std::string error;
        ASSERT_TRUE(flac.Open(sink, o, &error)) << error;
        for (std::size_t at = 0; at < pcm.size(); at += row.piece) {
            ASSERT_TRUE(flac.Feed(pcm.data() + at, std::min(row.piece, pcm.size() - at), &error))
                << error;
        }
        EXPECT_EQ(flac.Samples(), row.frames);
        ASSERT_TRUE(flac.Finish({}, &error)) << error;
        ::close(fd);
    }
    const FlacDecoded d = DecodeFlac(path);
    ASSERT_TRUE(d.Ok);
    EXPECT_EQ(d.Pcm, pcm);
    EXPECT_EQ(d.Info.sample_rate, row.rate);
    EXPECT_EQ(d.Info.channels, row.channels);
    EXPECT_EQ(d.Info.bits_per_sample, 16u);
    EXPECT_EQ(d.Info.total_samples, row.frames);
    const std::vector<uint8_t> md5 = Md5Of(dir, pcm);
    EXPECT_EQ(std::vector<uint8_t>(d.Info.md5sum, d.Info.md5sum + 16), md5);
    // A point every 10 seconds from the start, each filled in (no placeholders left).
    const uint64_t spacing = uint64_t{row.rate} * 10;
    const std::size_t points = row.frames == 0 ? 0 : (row.frames + spacing - 1) / spacing;
    ASSERT_EQ(d.Seek.size(), std::max<std::size_t>(points, row.frames == 0 ? 1 : 0));
    for (std::size_t i = 0; i < points; ++i) {
        EXPECT_LE(d.Seek[i].sample_number, i * spacing);
        EXPECT_GT(d.Seek[i].sample_number + 4608 * 2, i * spacing) << "point " << i;
        EXPECT_GT(d.Seek[i].frame_samples, 0u);
    }
    const CommandResult test = RunCommand("flac --test --silent '" + path + "'");
    EXPECT_EQ(test.Status, 0) << test.Output;
}

INSTANTIATE_TEST_SUITE_P(Rows, FlacFormats, testing::ValuesIn(FlacRows), RowNameOf{});

// Every comment and the cover, read back by mutagen; the track's gain from Finish joins
// them in the padding without moving the audio.
TEST(FlacEncoder, CommentsCoverAndGainReadBackByMutagen) {
    TempFolder dir;
    const std::string path = dir.file("tagged.flac");
    const TVorbisComments comments = {
        {"TITLE", "Zwölf Töne"},
        {"ARTIST", "Nobody"},
        {"ALBUM", "Tones"},
        {"ALBUMARTIST", "Various"},
        {"DATE", "2001-02-03"},
        {"TRACKNUMBER", "3"},
        {"TRACKTOTAL", "12"},
        {"DISCNUMBER", "1"},
        {"DISCTOTAL", "2"},
        {"ISRC", "USABC0100001"},
        {"ARTISTSORT", "Nobody, The"},
        {"ALBUMARTISTSORT", "Various"},
        {"MUSICBRAINZ_TRACKID", "8f0a4a2e-0000-4000-8000-000000000001"},
        {"MUSICBRAINZ_RELEASETRACKID", "8f0a4a2e-0000-4000-8000-000000000002"},
        {"MUSICBRAINZ_ALBUMID", "8f0a4a2e-0000-4000-8000-000000000003"},
        {"MUSICBRAINZ_ARTISTID", "8f0a4a2e-0000-4000-8000-000000000004"},
        {"MUSICBRAINZ_ALBUMARTISTID", "8f0a4a2e-0000-4000-8000-000000000005"},
        {"MUSICBRAINZ_RELEASEGROUPID", "8f0a4a2e-0000-4000-8000-000000000006"},
        {"MUSICBRAINZ_DISCID", "lwHl8fGzJyLXQR33ug60E8jhf4k-"},
        {"BARCODE", "0123456789012"},
        {"CATALOGNUMBER", "CAT-001"}};
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 200, 1000, -20);
    TPicture cover;
    cover.Mime = "image/png";
    cover.Description = "front";
    cover.Data = TinyPng(300, 200);
    const TVorbisComments gain = {{"REPLAYGAIN_TRACK_GAIN", "2.00 dB"},
                                  {"REPLAYGAIN_TRACK_PEAK", "0.100000"}};
    std::size_t audioStart = 0;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        TFdSink sink(fd);
        TFlacEncoder flac;
        TFlacOptions o;
        o.ExpectedSamples = 588 * 200;
        o.Comments = comments;
        o.Cover = cover;
        std::string error;
        ASSERT_TRUE(flac.Open(sink, o, &error)) << error;
        ASSERT_TRUE(flac.Feed(pcm.data(), pcm.size(), &error)) << error;
        ASSERT_TRUE(flac.Finish(gain, &error)) << error;
        ::close(fd);
        const std::vector<uint8_t> bytes = FileBytes(path);
        audioStart = FlacMetadataLength(bytes.data(), bytes.size());
    }
    const nlohmann::json m = MutagenVorbis(path);
    ASSERT_FALSE(m.is_null());
    nlohmann::json expected = nlohmann::json::array();
    for (const TComment& c : comments) {
        expected.push_back({c.Name, c.Value});
    }
    for (const TComment& c : gain) {
        expected.push_back({c.Name, c.Value});
    }
    EXPECT_EQ(m["tags"], expected);
    ASSERT_EQ(m["pictures"].size(), 1u);
    EXPECT_EQ(m["pictures"][0]["type"], 3);
    EXPECT_EQ(m["pictures"][0]["mime"], "image/png");
    EXPECT_EQ(m["pictures"][0]["desc"], "front");
    EXPECT_EQ(m["pictures"][0]["width"], 300);
    EXPECT_EQ(m["pictures"][0]["height"], 200);
    EXPECT_EQ(m["pictures"][0]["depth"], 24);
    EXPECT_EQ(m["pictures"][0]["size"], cover.Data.size());
    EXPECT_EQ(m["sample_rate"], 44100);
    EXPECT_EQ(m["channels"], 2);
    // The padding took the gain: the metadata is as long as before and the audio decodes.
    TempFolder other;
    const std::string plain = other.file("plain.flac");
    {
        const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        TFdSink sink(fd);
        TFlacEncoder flac;
        TFlacOptions o;
        o.ExpectedSamples = 588 * 200;
        o.Comments = comments;
        o.Cover = cover;
        std::string error;
        ASSERT_TRUE(flac.Open(sink, o, &error));
        ASSERT_TRUE(flac.Feed(pcm.data(), pcm.size(), &error));
        ASSERT_TRUE(flac.Finish({}, &error));
        ::close(fd);
    }
    const std::vector<uint8_t> a = FileBytes(path), b = FileBytes(plain);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(FlacMetadataLength(b.data(), b.size()), audioStart);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(audioStart), a.end(),
                           b.begin() + static_cast<long>(audioStart)));
    EXPECT_EQ(DecodeFlac(path).Pcm, pcm);
    EXPECT_EQ(RunCommand("flac --test --silent '" + path + "'").Status, 0);
}

// The same PCM gives the same file however it is cut into pieces.
TEST(FlacEncoder, SameBytesWhateverThePieces) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 300, 300, -10);
    std::vector<std::vector<uint8_t>> files;
    for (std::size_t piece : {pcm.size(), std::size_t{2352}, std::size_t{999}}) {
        const std::string path = dir.file("p" + std::to_string(piece) + ".flac");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        TFdSink sink(fd);
        TFlacEncoder flac;
        TFlacOptions o;
        o.ExpectedSamples = 588 * 300;
        std::string error;
        ASSERT_TRUE(flac.Open(sink, o, &error));
        for (std::size_t at = 0; at < pcm.size(); at += piece) {
            ASSERT_TRUE(flac.Feed(pcm.data() + at, std::min(piece, pcm.size() - at), &error));
        }
        ASSERT_TRUE(flac.Finish({{"REPLAYGAIN_TRACK_GAIN", "1.00 dB"}}, &error));
        ::close(fd);
        files.push_back(FileBytes(path));
    }
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

struct RefusedRow {
    const char* name;
    uint32_t rate;
    uint32_t channels;
    uint32_t compression;
    const char* comment;
    const char* error;
};

class FlacRefuses : public testing::TestWithParam<RefusedRow> {};

const RefusedRow RefusedRows[] = {
    {"three_channels", 44100, 3, 8, "TITLE",
     "FLAC cannot take 3 channels at 44100 Hz, compression level 8 (0 to 8)"},
    {"no_channels", 44100, 0, 8, "TITLE",
     "FLAC cannot take 0 channels at 44100 Hz, compression level 8 (0 to 8)"},
    {"level_9", 44100, 2, 9, "TITLE",
     "FLAC cannot take 2 channels at 44100 Hz, compression level 9 (0 to 8)"},
    {"rate_0", 0, 2, 8, "TITLE",
     "FLAC cannot take 2 channels at 0 Hz, compression level 8 (0 to 8)"},
    {"name_with_equals", 44100, 2, 8, "A=B", "cannot store the comment A=B (not UTF-8?)"},
    {"empty_name", 44100, 2, 8, "", "cannot store the comment  (not UTF-8?)"},
};

TEST_P(FlacRefuses, WithTheReason) {
    const RefusedRow& row = GetParam();
    TempFolder dir;
    const int fd = ::open(dir.file("r.flac").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TFdSink sink(fd);
    TFlacEncoder flac;
    TFlacOptions o;
    o.SampleRate = row.rate;
    o.Channels = row.channels;
    o.Compression = row.compression;
    o.Comments = {{row.comment, "x"}};
    std::string error;
    EXPECT_FALSE(flac.Open(sink, o, &error));
    EXPECT_EQ(error, row.error);
    EXPECT_FALSE(flac.Feed(nullptr, 0, &error));
    EXPECT_EQ(error, "the FLAC encoder is not open");
    ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Rows, FlacRefuses, testing::ValuesIn(RefusedRows), RowNameOf{});

TEST(FlacEncoder, ValueThatIsNotUtf8IsRefused) {
    TempFolder dir;
    const int fd = ::open(dir.file("r.flac").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TFdSink sink(fd);
    TFlacEncoder flac;
    TFlacOptions o;
    o.Comments = {{"TITLE", "caf\xE9"}}; // ISO-8859-1, not UTF-8
    std::string error;
    EXPECT_FALSE(flac.Open(sink, o, &error));
    EXPECT_EQ(error, "cannot store the comment TITLE (not UTF-8?)");
    ::close(fd);
}

// A full disk: the write failure comes back with the system's reason.
TEST(FlacEncoder, FullDiskIsAWriteError) {
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    TFdSink sink(fd);
    TFlacEncoder flac;
    std::string error;
    EXPECT_FALSE(flac.Open(sink, TFlacOptions{}, &error));
    EXPECT_EQ(error, "cannot write the FLAC file: No space left on device");
    ::close(fd);
}

} // namespace
