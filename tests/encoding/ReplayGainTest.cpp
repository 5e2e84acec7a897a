// ReplayGain 2 through libebur128: tones of known level measured as EBU R 128 says they
// measure, the gains against both references, the album of several tracks, and the
// tags each format gets.
#include "AudioCheck.h"

#include "encoding/ReplayGain.h"

#include <ebur128.h>

#include <gtest/gtest.h>

using namespace Encoding;

namespace {

TLoudness Measure(const std::vector<uint8_t>& pcm, uint32_t rate, uint32_t channels,
                  std::size_t piece, TLoudnessMeter& meter) {
    std::string error;
    EXPECT_TRUE(meter.Start(rate, channels, &error)) << error;
    for (std::size_t at = 0; at < pcm.size(); at += piece) {
        EXPECT_TRUE(meter.Add(pcm.data() + at, std::min(piece, pcm.size() - at), &error)) << error;
    }
    return meter.Result();
}

// libebur128 on the whole signal at once, without the histogram: the reference.
double ReferenceLufs(const std::vector<uint8_t>& pcm, uint32_t rate, uint32_t channels) {
    ebur128_state* st = ebur128_init(channels, rate, EBUR128_MODE_I);
    std::vector<int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    ebur128_add_frames_short(st, samples.data(), samples.size() / channels);
    double lufs = 0;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

// Both channels the same 1 kHz sine.
std::vector<uint8_t> Sine(uint32_t rate, uint32_t channels, double seconds, double dbfs) {
    std::vector<uint8_t> one =
        TonePcm(rate, 1, static_cast<std::size_t>(rate * seconds), 1000, dbfs, false);
    if (channels == 1) {
        return one;
    }
    std::vector<uint8_t> two;
    for (std::size_t i = 0; i < one.size(); i += 2) {
        two.insert(two.end(), {one[i], one[i + 1], one[i], one[i + 1]});
    }
    return two;
}

// EBU Tech 3341's first test signal: a 1 kHz sine in both channels at -23 dBFS
// measures -23.0 LUFS; so one at -20 dBFS measures -20.0 LUFS (within 0.1 LU).
TEST(ReplayGain, SineAtMinus20DbfsFor30Seconds) {
    const std::vector<uint8_t> pcm = Sine(44100, 2, 30, -20);
    TLoudnessMeter meter;
    const TLoudness l = Measure(pcm, 44100, 2, 2352 * 10 + 2, meter);
    ASSERT_TRUE(l.Valid);
    const double reference = ReferenceLufs(pcm, 44100, 2);
    EXPECT_NEAR(reference, -20.0, 0.1);
    EXPECT_NEAR(l.Lufs, reference, 0.02);
    // The track gain against -23 LUFS (R128, Q7.8) and against ReplayGain 2's -18 LUFS.
    EXPECT_NEAR(R128Gain(l.Lufs) / 256.0, -23.0 - reference, 0.1);
    EXPECT_NEAR(ReplayGainDb(l.Lufs), -18.0 - reference, 0.1);
    // The peak of a sine at -20 dBFS: 0.1 of full scale, to within one 16-bit step.
    EXPECT_NEAR(l.Peak, 0.1, 1.0 / 32768);
    const TVorbisComments rg = ReplayGainComments(l, false);
    ASSERT_EQ(rg.size(), 2u);
    EXPECT_EQ(rg[0].Name, "REPLAYGAIN_TRACK_GAIN");
    EXPECT_EQ(rg[0].Value, GainText(ReplayGainDb(l.Lufs)));
    EXPECT_EQ(rg[1].Name, "REPLAYGAIN_TRACK_PEAK");
    EXPECT_EQ(rg[1].Value, PeakText(l.Peak));
    const TVorbisComments r128 = R128Comments(l, false);
    ASSERT_EQ(r128.size(), 1u);
    EXPECT_EQ(r128[0].Name, "R128_TRACK_GAIN");
    EXPECT_EQ(r128[0].Value, std::to_string(R128Gain(l.Lufs)));
}

TEST(ReplayGain, MonoAndOtherRatesMeasureTheSameTone) {
    for (uint32_t rate : {44100u, 22050u, 11025u}) {
        const std::vector<uint8_t> pcm = Sine(rate, 1, 10, -20);
        TLoudnessMeter meter;
        const TLoudness l = Measure(pcm, rate, 1, 4096, meter);
        ASSERT_TRUE(l.Valid);
        EXPECT_NEAR(l.Lufs, ReferenceLufs(pcm, rate, 1), 0.02) << rate;
        // One channel carries half the power of two: 3 dB less.
        EXPECT_NEAR(l.Lufs, -23.0, 0.15) << rate;
    }
}

TEST(ReplayGain, AlbumOfTwoLevelsLiesBetweenTheirTrackGains) {
    TLoudnessMeter loud, quiet;
    const TLoudness a = Measure(Sine(44100, 2, 10, -14), 44100, 2, 2352, loud);
    const TLoudness b = Measure(Sine(44100, 2, 10, -20), 44100, 2, 2352, quiet);
    const TLoudness album = TLoudnessMeter::Together({&loud, &quiet});
    ASSERT_TRUE(album.Valid);
    // Equal lengths at -14 and -20 LUFS: the mean power, 10 log10((10^-1.4 + 10^-2) / 2),
    // is -16.04 LUFS.
    EXPECT_NEAR(album.Lufs, -16.04, 0.1);
    EXPECT_LT(ReplayGainDb(a.Lufs) + 0.5, ReplayGainDb(album.Lufs));
    EXPECT_GT(ReplayGainDb(b.Lufs) - 0.5, ReplayGainDb(album.Lufs));
    EXPECT_LT(R128Gain(a.Lufs) + 128, R128Gain(album.Lufs));
    EXPECT_GT(R128Gain(b.Lufs) - 128, R128Gain(album.Lufs));
    EXPECT_DOUBLE_EQ(album.Peak, a.Peak);
    const TVorbisComments tags = ReplayGainComments(album, true);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].Name, "REPLAYGAIN_ALBUM_GAIN");
    EXPECT_EQ(tags[1].Name, "REPLAYGAIN_ALBUM_PEAK");
    ASSERT_EQ(R128Comments(album, true).size(), 1u);
    EXPECT_EQ(R128Comments(album, true)[0].Name, "R128_ALBUM_GAIN");
}

// The relative gate (10 LU below the mean) leaves out the blocks of a track 20 LU below
// the other: the album measures as the loud track alone.
TEST(ReplayGain, AlbumGatesOutAMuchQuieterTrack) {
    TLoudnessMeter x, y;
    const TLoudness a = Measure(Sine(44100, 2, 10, -10), 44100, 2, 2352, x);
    Measure(Sine(44100, 2, 10, -30), 44100, 2, 2352, y);
    EXPECT_NEAR(TLoudnessMeter::Together({&x, &y}).Lufs, a.Lufs, 0.01);
}

TEST(ReplayGain, SilenceHasNoGain) {
    const std::vector<uint8_t> pcm(44100 * 4 * 5, 0);
    TLoudnessMeter meter;
    const TLoudness l = Measure(pcm, 44100, 2, 2352, meter);
    EXPECT_FALSE(l.Valid);
    EXPECT_DOUBLE_EQ(l.Peak, 0.0);
    EXPECT_TRUE(ReplayGainComments(l, false).empty());
    EXPECT_TRUE(R128Comments(l, false).empty());
    // A silent track is left out of the album's loudness, not counted as -inf.
    TLoudnessMeter tone;
    const TLoudness t = Measure(Sine(44100, 2, 5, -20), 44100, 2, 2352, tone);
    EXPECT_NEAR(TLoudnessMeter::Together({&meter, &tone}).Lufs, t.Lufs, 0.01);
    EXPECT_FALSE(TLoudnessMeter::Together({}).Valid);
}

// Cut anywhere, even inside a sample, the PCM measures as when given at once.
TEST(ReplayGain, PiecesMeasureAsTheWhole) {
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 44100 * 5, 500, -12);
    TLoudnessMeter whole, odd;
    const TLoudness a = Measure(pcm, 44100, 2, pcm.size(), whole);
    const TLoudness b = Measure(pcm, 44100, 2, 1001, odd);
    EXPECT_DOUBLE_EQ(a.Lufs, b.Lufs);
    EXPECT_DOUBLE_EQ(a.Peak, b.Peak);
}

struct TextRow {
    const char* name;
    double lufs;
    const char* gain; // against -18 LUFS
    int r128;         // Q7.8 against -23 LUFS
};

class GainValues : public testing::TestWithParam<TextRow> {};

const TextRow TextRows[] = {
    {"quiet", -30.0, "12.00 dB", 1792}, // 7 dB * 256
    {"at_18", -18.0, "0.00 dB", -1280}, // -5 dB * 256
    {"at_23", -23.0, "5.00 dB", 0},
    {"loud", -8.125, "-9.88 dB", -3808}, // -14.875 dB * 256
    {"q78_low_limit", 105.0, "-123.00 dB", -32768},
    {"q78_high_limit", -151.0, "133.00 dB", 32767},
};

TEST_P(GainValues, AsTaggersWriteThem) {
    const TextRow& row = GetParam();
    EXPECT_EQ(GainText(ReplayGainDb(row.lufs)), row.gain);
    EXPECT_EQ(R128Gain(row.lufs), row.r128);
}

INSTANTIATE_TEST_SUITE_P(Rows, GainValues, testing::ValuesIn(TextRows), RowNameOf{});

// The sample peak, taken beside the meter, against libebur128's own sample-peak mode on
// the same PCM: one loud sample in a quiet tone, in either channel, at both ends of the
// 16-bit range and one step inside them, a peak cut between two pieces, and peaks at
// the odd end of a piece.
struct PeakRow {
    const char* name;
    uint32_t channels;
    std::size_t at; // the sample (counted over both channels) set to `value`
    int16_t value;
    std::size_t piece; // bytes per Add
    double peak;       // expected, 1.0 is full scale
};

class SamplePeak : public testing::TestWithParam<PeakRow> {};

const PeakRow PeakRows[] = {
    {"most_negative_left", 2, 2000, -32768, 2352, 1.0},
    {"most_negative_right", 2, 2001, -32768, 2352, 1.0},
    {"one_above_most_negative", 2, 2001, -32767, 2352, 32767 / 32768.0},
    {"most_positive", 2, 30000, 32767, 2352, 32767 / 32768.0},
    {"one_below_most_positive", 2, 30000, 32766, 2352, 32766 / 32768.0},
    {"cut_between_pieces", 2, 500, -20000, 1001, 20000 / 32768.0},
    // 1177 samples a piece: eight at a time, then one alone; the loud one is that one.
    {"last_of_an_odd_piece", 2, 1176, -32768, 2354, 1.0},
    {"first_after_an_odd_piece", 2, 1177, 32767, 2354, 32767 / 32768.0},
    {"mono_first_sample", 1, 0, 12345, 4096, 12345 / 32768.0},
    {"mono_last_sample", 1, 44099, -32768, 4096, 1.0},
};

TEST_P(SamplePeak, SameAsTheLibrarysSamplePeakMode) {
    const PeakRow& row = GetParam();
    std::vector<uint8_t> pcm = Sine(44100, row.channels, 1, -40);
    ASSERT_LT(row.at * 2 + 1, pcm.size());
    pcm[row.at * 2] = static_cast<uint8_t>(static_cast<uint16_t>(row.value) & 0xFF);
    pcm[row.at * 2 + 1] = static_cast<uint8_t>(static_cast<uint16_t>(row.value) >> 8);
    TLoudnessMeter meter;
    const TLoudness l = Measure(pcm, 44100, row.channels, row.piece, meter);
    EXPECT_DOUBLE_EQ(l.Peak, row.peak);
    ebur128_state* st = ebur128_init(row.channels, 44100, EBUR128_MODE_SAMPLE_PEAK);
    ASSERT_NE(st, nullptr);
    std::vector<int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), pcm.size());
    ebur128_add_frames_short(st, samples.data(), samples.size() / row.channels);
    double library = 0;
    for (uint32_t c = 0; c < row.channels; ++c) {
        double p = 0;
        ASSERT_EQ(ebur128_sample_peak(st, c, &p), EBUR128_SUCCESS);
        library = std::max(library, p);
    }
    ebur128_destroy(&st);
    EXPECT_DOUBLE_EQ(l.Peak, library);
    // The tone under it: -40 dBFS, 0.01 of full scale, the loudness as without the sample.
    EXPECT_LT(l.Lufs, -36.0);
    // The album's peak is the largest of its tracks'.
    TLoudnessMeter quiet;
    Measure(Sine(44100, row.channels, 1, -40), 44100, row.channels, row.piece, quiet);
    EXPECT_DOUBLE_EQ(TLoudnessMeter::Together({&quiet, &meter}).Peak, row.peak);
    EXPECT_NEAR(quiet.Result().Peak, 0.01, 1.0 / 32768);
}

INSTANTIATE_TEST_SUITE_P(Rows, SamplePeak, testing::ValuesIn(PeakRows), RowNameOf{});

TEST(ReplayGain, PeakText) {
    EXPECT_EQ(PeakText(1.0), "1.000000");
    EXPECT_EQ(PeakText(0.98855301), "0.988553");
}

TEST(ReplayGain, MeterRefusesWhatItCannotMeasure) {
    TLoudnessMeter meter;
    std::string error;
    EXPECT_FALSE(meter.Add(nullptr, 0, &error));
    EXPECT_EQ(error, "the loudness meter is not started");
    EXPECT_FALSE(meter.Start(44100, 3, &error));
    EXPECT_EQ(error, "cannot measure loudness of 3 channels at 44100 Hz");
    EXPECT_FALSE(meter.Start(0, 2, &error));
    EXPECT_EQ(error, "cannot measure loudness of 2 channels at 0 Hz");
    EXPECT_FALSE(meter.Result().Valid);
}

} // namespace
