// TFlacEncoder: each output format encoded and decoded again by libFLAC's decoder, by
// the flac command's test mode and by mutagen; the decoded PCM is the input, byte for
// byte, and STREAMINFO holds the input's MD5 and sample count.
#include "AudioCheck.h"
#include "FlacDecode.h"

#include "encoding/FlacEncoder.h"
#include "encoding/PcmFrames.h"
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
    TFlacOptions o;
    o.SampleRate = row.rate;
    o.Channels = row.channels;
    o.Compression = row.compression;
    o.ExpectedSamples = row.frames;
    o.Comments = {{"TITLE", "Tone"}};
    std::string error;
    uint64_t samples = 0;
    ASSERT_TRUE(EncodeFile<TFlacEncoder>(path, o, pcm, row.piece, {}, &error, &samples)) << error;
    EXPECT_EQ(samples, row.frames);
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
    TFlacOptions o;
    o.ExpectedSamples = 588 * 200;
    o.Comments = comments;
    o.Cover = cover;
    std::string error;
    ASSERT_TRUE(EncodeFile<TFlacEncoder>(path, o, pcm, pcm.size(), gain, &error)) << error;
    const std::vector<uint8_t> bytes = FileBytes(path);
    const std::size_t audioStart = FlacMetadataLength(bytes.data(), bytes.size());
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
    ASSERT_TRUE(EncodeFile<TFlacEncoder>(plain, o, pcm, pcm.size(), {}, &error)) << error;
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
        TFlacOptions o;
        o.ExpectedSamples = 588 * 300;
        std::string error;
        ASSERT_TRUE(EncodeFile<TFlacEncoder>(path, o, pcm, piece,
                                             {{"REPLAYGAIN_TRACK_GAIN", "1.00 dB"}}, &error))
            << error;
        files.push_back(FileBytes(path));
    }
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

struct PiecesRow {
    const char* name;
    uint32_t channels;
    std::vector<std::size_t> pieces; // bytes given at a time, in turn
};

class PcmPieces : public testing::TestWithParam<PiecesRow> {};

const PiecesRow PiecesRows[] = {
    {"stereo_whole_frames", 2, {8, 4, 4}},
    {"stereo_byte_by_byte", 2, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {"stereo_three_of_four", 2, {3, 3, 3, 3, 3, 1}},
    {"stereo_cut_then_large", 2, {1, 4097, 2}},
    {"stereo_empty_pieces", 2, {0, 2, 0, 2, 0}},
    {"stereo_runs_of_eight_cut_odd", 2, {35, 1, 64, 33}},
    {"mono_odd", 1, {1, 2, 3, 5}},
    {"mono_byte_by_byte", 1, {1, 1, 1}},
};

// The samples of whole frames come out in order however the bytes are cut; what is left
// of a frame waits for the next piece.
TEST_P(PcmPieces, JoinedIntoWholeFrames) {
    const PiecesRow& row = GetParam();
    std::size_t total = 0;
    for (std::size_t p : row.pieces) {
        total += p;
    }
    std::vector<uint8_t> pcm(total);
    for (std::size_t i = 0; i < total; ++i) {
        pcm[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    // The FLAC encoder takes 32-bit samples, the Opus encoder and the meter 16-bit ones.
    // The channels apart too, as the FLAC encoder takes them.
    TPcmFrames frames, frames16, apart;
    frames.Reset(row.channels);
    frames16.Reset(row.channels);
    apart.Reset(row.channels);
    std::vector<int32_t> all, some, first, second, firsts, seconds;
    std::vector<int16_t> all16, some16;
    std::size_t at = 0, count = 0;
    for (std::size_t p : row.pieces) {
        const std::size_t n = frames.Take(pcm.data() + at, p, some);
        EXPECT_EQ(some.size(), n * row.channels);
        EXPECT_EQ(frames16.Take(pcm.data() + at, p, some16), n);
        EXPECT_EQ(some16.size(), n * row.channels);
        EXPECT_EQ(apart.TakeChannels(pcm.data() + at, p, first, second), n);
        EXPECT_EQ(first.size(), n);
        EXPECT_EQ(second.size(), row.channels == 2 ? n : 0);
        all.insert(all.end(), some.begin(), some.end());
        all16.insert(all16.end(), some16.begin(), some16.end());
        firsts.insert(firsts.end(), first.begin(), first.end());
        seconds.insert(seconds.end(), second.begin(), second.end());
        at += p;
        count += n;
        EXPECT_EQ(frames.Pending(), at % (2 * row.channels));
        EXPECT_EQ(frames16.Pending(), at % (2 * row.channels));
        EXPECT_EQ(apart.Pending(), at % (2 * row.channels));
    }
    const std::size_t frameBytes = 2 * row.channels;
    ASSERT_EQ(count, total / frameBytes);
    ASSERT_EQ(all.size(), count * row.channels);
    ASSERT_EQ(all16.size(), count * row.channels);
    ASSERT_EQ(firsts.size(), count);
    ASSERT_EQ(seconds.size(), row.channels == 2 ? count : 0);
    for (std::size_t k = 0; k < all.size(); ++k) {
        const auto sample = static_cast<int16_t>(pcm[2 * k] | pcm[2 * k + 1] << 8);
        EXPECT_EQ(all[k], sample) << k;
        EXPECT_EQ(all16[k], sample) << k;
        EXPECT_EQ(k % row.channels == 0 ? firsts[k / row.channels] : seconds[k / row.channels],
                  sample)
            << k;
    }
    frames.Reset(row.channels);
    EXPECT_EQ(frames.Pending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, PcmPieces, testing::ValuesIn(PiecesRows), RowNameOf{});

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
    TestFileSink sink(dir.file("r.flac"));
    TFlacEncoder flac;
    TFlacOptions o;
    o.SampleRate = row.rate;
    o.Channels = row.channels;
    o.Compression = row.compression;
    o.Comments = {{row.comment, "x"}};
    std::string error;
    EXPECT_FALSE(flac.Open(*sink, o, &error));
    EXPECT_EQ(error, row.error);
    EXPECT_FALSE(flac.Feed(nullptr, 0, &error));
    EXPECT_EQ(error, "the FLAC encoder is not open");
}

INSTANTIATE_TEST_SUITE_P(Rows, FlacRefuses, testing::ValuesIn(RefusedRows), RowNameOf{});

TEST(FlacEncoder, ValueThatIsNotUtf8IsRefused) {
    TempFolder dir;
    TestFileSink sink(dir.file("r.flac"));
    TFlacEncoder flac;
    TFlacOptions o;
    o.Comments = {{"TITLE", "caf\xE9"}}; // ISO-8859-1, not UTF-8
    std::string error;
    EXPECT_FALSE(flac.Open(*sink, o, &error));
    EXPECT_EQ(error, "cannot store the comment TITLE (not UTF-8?)");
}

// A full disk: the write failure comes back with the system's reason.
TEST(FlacEncoder, FullDiskIsAWriteError) {
    TestFileSink sink("/dev/full");
    ASSERT_TRUE(sink.IsOpen());
    TFlacEncoder flac;
    std::string error;
    EXPECT_FALSE(flac.Open(*sink, TFlacOptions{}, &error));
    EXPECT_EQ(error, "cannot write the FLAC file: No space left on device");
}

} // namespace
