// TOpusEncoder: each output format encoded and decoded again by libopusfile: the decoded
// length is the input's at 48 kHz exactly, the tones keep their pitch, the header's
// output gain is 0, and every comment, the R128 gain and the cover read back by mutagen.
#include "AudioCheck.h"

#include "encoding/OggOpusTags.h"
#include "encoding/OpusEncoder.h"

#include <opusenc.h>
#include <opusfile.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace Encoding;

namespace {

bool EncodeOpus(const std::string& path, const TOpusOptions& o, const std::vector<uint8_t>& pcm,
                std::size_t piece, const TVorbisComments& extra, std::string* error) {
    return EncodeFile<TOpusEncoder>(path, o, pcm, piece, extra, error);
}

struct OpusDecoded {
    int64_t Total = -1;     // op_pcm_total
    std::vector<float> Pcm; // stereo, 48 kHz
    int OutputGain = -1;
    int Channels = 0;
    uint32_t InputRate = 0;
    int PreSkip = 0;
    std::vector<std::string> Comments;
};

OpusDecoded DecodeOpus(const std::string& path) {
    OpusDecoded d;
    int error = 0;
    OggOpusFile* of = op_open_file(path.c_str(), &error);
    if (of == nullptr) {
        return d;
    }
    const OpusHead* head = op_head(of, -1);
    d.OutputGain = head->output_gain;
    d.Channels = head->channel_count;
    d.InputRate = head->input_sample_rate;
    d.PreSkip = static_cast<int>(head->pre_skip);
    const OpusTags* tags = op_tags(of, -1);
    for (int i = 0; i < tags->comments; ++i) {
        d.Comments.emplace_back(tags->user_comments[i],
                                static_cast<std::size_t>(tags->comment_lengths[i]));
    }
    d.Total = op_pcm_total(of, -1);
    float buffer[5760 * 2];
    for (;;) {
        const int n = op_read_float_stereo(of, buffer, 5760 * 2);
        if (n <= 0) {
            break;
        }
        d.Pcm.insert(d.Pcm.end(), buffer, buffer + 2 * n);
    }
    op_free(of);
    return d;
}

// The frequency of one channel of stereo PCM at 48 kHz from its upward zero crossings,
// over the middle of the signal.
double Frequency(const std::vector<float>& pcm, int channel) {
    const std::size_t frames = pcm.size() / 2;
    const std::size_t from = frames / 4, to = frames * 3 / 4;
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (pcm[2 * (i - 1) + static_cast<std::size_t>(channel)] < 0 &&
            pcm[2 * i + static_cast<std::size_t>(channel)] >= 0) {
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * 48000.0 / static_cast<double>(last - first);
}

struct OpusRow {
    const char* name;
    uint32_t rate;
    uint32_t channels;
    uint32_t bitrate;
    std::size_t frames;
    int64_t decoded; // sample frames at 48 kHz
    std::size_t piece;
};

class OpusFormats : public testing::TestWithParam<OpusRow> {};

// A CD sector is 1/75 s: 588 frames at 44100 Hz, 294 at 22050, 147 at 11025, 640 at 48000.
const OpusRow OpusRows[] = {
    {"cd_stereo_160", 44100, 2, 160, 588 * 300, 640 * 300, 2352 * 7},
    {"cd_stereo_64_odd_pieces", 44100, 2, 64, 588 * 150, 640 * 150, 1001},
    {"mono_44100", 44100, 1, 96, 588 * 150, 640 * 150, 4096},
    {"stereo_22050", 22050, 2, 160, 294 * 150, 640 * 150, 2352},
    {"mono_11025", 11025, 1, 32, 147 * 150, 640 * 150, 2352},
    {"one_sector", 44100, 2, 160, 588, 640, 2352},
};

TEST_P(OpusFormats, DecodesToTheTracksLengthAndPitch) {
    const OpusRow& row = GetParam();
    TempFolder dir;
    const std::string path = dir.file("t.opus");
    const std::vector<uint8_t> pcm = TonePcm(row.rate, row.channels, row.frames, 440, -6, false);
    TOpusOptions o;
    o.SampleRate = row.rate;
    o.Channels = row.channels;
    o.Bitrate = row.bitrate;
    o.Serial = 7;
    std::string error;
    ASSERT_TRUE(EncodeOpus(path, o, pcm, row.piece, {}, &error)) << error;
    const OpusDecoded d = DecodeOpus(path);
    EXPECT_EQ(d.Total, row.decoded);
    EXPECT_EQ(static_cast<int64_t>(d.Pcm.size() / 2), row.decoded);
    EXPECT_EQ(d.OutputGain, 0);
    EXPECT_EQ(d.Channels, static_cast<int>(row.channels));
    EXPECT_EQ(d.InputRate, row.rate);
    EXPECT_GT(d.PreSkip, 0);
    if (row.frames >= 588 * 100) {
        EXPECT_NEAR(Frequency(d.Pcm, 0), 440.0, 2.0);
        // Mono is the first channel's tone on both.
        EXPECT_NEAR(Frequency(d.Pcm, 1), row.channels == 2 ? 660.0 : 440.0, 3.0);
    }
    const CommandResult test = RunCommand("opusinfo '" + path + "'");
    EXPECT_EQ(test.Status, 0) << test.Output;
}

INSTANTIATE_TEST_SUITE_P(Rows, OpusFormats, testing::ValuesIn(OpusRows), RowNameOf{});

TEST(OpusEncoder, CommentsGainAndCoverReadBackByMutagen) {
    TempFolder dir;
    const std::string path = dir.file("tagged.opus");
    const TVorbisComments comments = {
        {"TITLE", "Zwölf Töne"},
        {"ARTIST", "Nobody"},
        {"ALBUM", "Tones"},
        {"TRACKNUMBER", "3"},
        {"MUSICBRAINZ_TRACKID", "8f0a4a2e-0000-4000-8000-000000000001"},
        {"BARCODE", "0123456789012"}};
    TOpusOptions o;
    o.Comments = comments;
    o.Cover = TPicture{3, "image/png", "front", TinyPng(120, 80)};
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 1000, -20);
    std::string error;
    ASSERT_TRUE(EncodeOpus(path, o, pcm, 2352 * 5, {{"R128_TRACK_GAIN", "-768"}}, &error)) << error;
    const nlohmann::json m = MutagenVorbis(path);
    ASSERT_FALSE(m.is_null());
    nlohmann::json expected = nlohmann::json::array();
    for (const TComment& c : comments) {
        expected.push_back({c.Name, c.Value});
    }
    // mutagen lists the picture among the comments where libopusenc put it, last.
    nlohmann::json tags = nlohmann::json::array();
    for (const auto& t : m["tags"]) {
        if (t[0] != "METADATA_BLOCK_PICTURE" && t[0] != "metadata_block_picture") {
            tags.push_back(t);
        }
    }
    expected.push_back({"R128_TRACK_GAIN", "-768"});
    EXPECT_EQ(tags, expected);
    ASSERT_EQ(m["pictures"].size(), 1u);
    EXPECT_EQ(m["pictures"][0]["type"], 3);
    EXPECT_EQ(m["pictures"][0]["mime"], "image/png");
    EXPECT_EQ(m["pictures"][0]["desc"], "front");
    EXPECT_EQ(m["pictures"][0]["width"], 120);
    EXPECT_EQ(m["pictures"][0]["height"], 80);
    EXPECT_EQ(m["pictures"][0]["size"], TinyPng(120, 80).size());
    // libopusfile reads the gain as the header's output gain plus R128_TRACK_GAIN.
    int error2 = 0;
    OggOpusFile* of = op_open_file(path.c_str(), &error2);
    ASSERT_NE(of, nullptr);
    int gain = 0;
    EXPECT_EQ(opus_tags_get_track_gain(op_tags(of, -1), &gain), 0);
    EXPECT_EQ(gain, -768);
    EXPECT_EQ(op_head(of, -1)->output_gain, 0);
    op_free(of);
    EXPECT_EQ(DecodeOpus(path).Total, 640 * 100);
    EXPECT_EQ(RunCommand("opusinfo '" + path + "'").Status, 0);
}

// The same track gives the same bytes however the PCM comes in pieces.
TEST(OpusEncoder, SameBytesWhateverThePieces) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 200, 300, -10);
    TOpusOptions o;
    o.Serial = 99;
    std::vector<std::vector<uint8_t>> files;
    for (std::size_t piece : {pcm.size(), std::size_t{2352}, std::size_t{999}}) {
        const std::string path = dir.file("p" + std::to_string(piece) + ".opus");
        std::string error;
        ASSERT_TRUE(EncodeOpus(path, o, pcm, piece, {{"R128_TRACK_GAIN", "12"}}, &error));
        files.push_back(FileBytes(path));
    }
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

struct OpusRefusedRow {
    const char* name;
    uint32_t rate;
    uint32_t channels;
    uint32_t bitrate;
    const char* error;
};

class OpusRefuses : public testing::TestWithParam<OpusRefusedRow> {};

const OpusRefusedRow OpusRefusedRows[] = {
    {"three_channels", 44100, 3, 160,
     "Opus cannot take 3 channels at 44100 Hz, 160 kbit/s (6 to 768)"},
    {"bitrate_5", 44100, 2, 5, "Opus cannot take 2 channels at 44100 Hz, 5 kbit/s (6 to 512)"},
    {"bitrate_6", 44100, 2, 6, ""},
    {"stereo_512", 44100, 2, 512, ""},
    {"stereo_513", 44100, 2, 513, "Opus cannot take 2 channels at 44100 Hz, 513 kbit/s (6 to 512)"},
    {"mono_257", 44100, 1, 257, "Opus cannot take 1 channels at 44100 Hz, 257 kbit/s (6 to 256)"},
    {"rate_7999", 7999, 2, 160, "Opus cannot take 2 channels at 7999 Hz, 160 kbit/s (6 to 512)"},
};

TEST_P(OpusRefuses, OnlyWhatItCannotTake) {
    const OpusRefusedRow& row = GetParam();
    TempFolder dir;
    TestFileSink sink(dir.file("r.opus"));
    TOpusEncoder opus;
    TOpusOptions o;
    o.SampleRate = row.rate;
    o.Channels = row.channels;
    o.Bitrate = row.bitrate;
    std::string error;
    EXPECT_EQ(opus.Open(*sink, o, &error), std::string(row.error).empty());
    EXPECT_EQ(error, row.error);
}

INSTANTIATE_TEST_SUITE_P(Rows, OpusRefuses, testing::ValuesIn(OpusRefusedRows), RowNameOf{});

TEST(OpusEncoder, CoverThatIsNoImageIsRefused) {
    TempFolder dir;
    TestFileSink sink(dir.file("r.opus"));
    TOpusEncoder opus;
    TOpusOptions o;
    o.Cover = TPicture{3, "image/png", "", {1, 2, 3, 4}};
    std::string error;
    EXPECT_FALSE(opus.Open(*sink, o, &error));
    EXPECT_EQ(error, std::string("cannot store the cover in the Opus file: ") +
                         ope_strerror(OPE_INVALID_PICTURE));
}

TEST(OpusEncoder, FullDiskIsAWriteError) {
    TestFileSink sink("/dev/full");
    ASSERT_TRUE(sink.IsOpen());
    TOpusEncoder opus;
    std::string error;
    ASSERT_TRUE(opus.Open(*sink, TOpusOptions{}, &error)) << error;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 50, 300, -10);
    bool ok = opus.Feed(pcm.data(), pcm.size(), &error);
    ok = ok && opus.Finish({}, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "cannot write the Opus file: No space left on device");
}

} // namespace
