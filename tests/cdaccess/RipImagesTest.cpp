// The ripper component with the real CD ripping library and the real encoder on
// generated disc images. WAV files are compared byte for byte with the image; MP3
// files are decoded with libmpg123 and their tags read back from the file's end.

#include "Mp3Decode.h"
#include "TestDir.h"

#include "cdaccess/CDRIP.h"
#include "discgen.h"
#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

using testing::ElementsAre;

namespace {

constexpr int SectorBytes = 2352;

// A generated disc image that is the only virtual drive while the object lives.
class ImageDisc {
public:
    ImageDisc(const TestDir& dir, const discgen::DiscSpec& plan, const char* faults = nullptr)
        : Plan(plan), Base(dir / "disc") {
        std::string error;
        if (!discgen::writeDisc(Base, plan, &error)) {
            throw std::runtime_error("cannot write the disc image: " + error);
        }
        ::setenv("CDRIP_IMAGES", (Base + ".cue").c_str(), 1);
        ::setenv("CDRIP_AUDIO", "none", 1);
        if (faults != nullptr) {
            ::setenv("CDRIP_FAULTS", faults, 1);
        } else {
            ::unsetenv("CDRIP_FAULTS");
        }
    }
    ~ImageDisc() {
        ::unsetenv("CDRIP_IMAGES");
        ::unsetenv("CDRIP_FAULTS");
    }
    ImageDisc(const ImageDisc&) = delete;
    ImageDisc& operator=(const ImageDisc&) = delete;

    // The image's bytes of track `index` (0-based) as the table of contents places it.
    std::vector<uint8_t> TrackBytes(int index) const {
        const discgen::Layout layout = discgen::layoutOf(Plan);
        const auto all = discgen::imageBytes(Plan);
        const auto i = static_cast<std::size_t>(index);
        int32_t end = i + 1 < layout.starts.size() ? layout.starts[i + 1] : layout.leadout;
        // An audio pregap belongs to the track before; a data track's does not.
        if (i + 1 < Plan.tracks.size() && Plan.tracks[i + 1].data && !Plan.tracks[i].data) {
            end -= Plan.tracks[i + 1].pregap;
        }
        return {all.begin() + int64_t{layout.starts[i]} * SectorBytes,
                all.begin() + int64_t{end} * SectorBytes};
    }

    discgen::DiscSpec Plan;
    std::string Base;
};

// The frequency of the first channel from its rising zero crossings, away from the
// ends (encoder delay and fade).
double Frequency(const Decoded& d) {
    const std::size_t frames = d.Frames();
    const std::size_t from = frames / 10;
    const std::size_t to = frames - frames / 10;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const int16_t a = d.Samples[(i - 1) * static_cast<std::size_t>(d.Channels)];
        const int16_t b = d.Samples[i * static_cast<std::size_t>(d.Channels)];
        crossings += a < 0 && b >= 0;
    }
    return crossings * static_cast<double>(d.Rate) / static_cast<double>(to - from);
}

class RipImages : public testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    TestDir dir;
};

} // namespace

TEST_F(RipImages, WavIsTheHeaderAndTheImagesBytes) {
    // Odd lengths and a pregap before tracks 2 and 3, which belongs to the track before.
    discgen::DiscSpec plan = discgen::simpleDisc(11, 3, 601, 300);
    plan.tracks[1].sectors = 977;
    plan.tracks[1].pregap = 75;
    plan.tracks[2].pregap = 33;
    ImageDisc disc(dir, plan);
    TCDRIP r;
    r.WriteWAV = true;
    ASSERT_EQ(r.Tracks.Count(), 4);
    EXPECT_EQ(r.Tracks.Objects(3).TrackType, "Data");
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("track " + std::to_string(i + 1));
        const std::string name = dir / ("t" + std::to_string(i) + ".wav");
        r.RipTrack(i + 1, name);
        const auto b = ReadBytes(name);
        const auto expected = disc.TrackBytes(i);
        ASSERT_EQ(b.size(), 44 + expected.size());
        EXPECT_EQ(U32At(b, 40), expected.size());
        EXPECT_EQ(U32At(b, 4), expected.size() + 36);
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), expected.begin()));
    }
    EXPECT_TRUE(r.JitterErrors.empty());
    EXPECT_EQ(r.JitterErrorCount, 0);
}

// Playback through the ripper reaches the drive: the track asked for plays (the
// position lies in it), a pause holds it, and the library's statuses come back, a
// failure included (a data track, a pause with nothing playing).
TEST_F(RipImages, PlaybackReachesTheDriveAndItsStatusesComeBack) {
    ImageDisc disc(dir, discgen::simpleDisc(7, 2, 600, 300));
    const discgen::Layout layout = discgen::layoutOf(disc.Plan);
    TCDRIP r;
    ASSERT_EQ(r.Tracks.Count(), 3);
    EXPECT_EQ(r.PlayTrack(2), 0);
    EXPECT_TRUE(r.IsPlaying()); // from position 0 to track 2
    EXPECT_GE(r.LastPlayPosition, layout.starts[1]);
    EXPECT_LT(r.LastPlayPosition, layout.starts[1] + 150);
    EXPECT_EQ(r.PauseCD(true), 0);
    r.IsPlaying();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(r.IsPlaying()); // held while paused
    EXPECT_EQ(r.PauseCD(false), 0);
    EXPECT_EQ(r.StopPlay(), 0);
    EXPECT_EQ(r.PauseCD(true), CRFailure); // nothing plays after the stop
    EXPECT_EQ(r.PlayTrack(3), CRFailure);  // the data track
    EXPECT_EQ(r.PlayTrack(1), 0);
    EXPECT_EQ(r.EjectCD(true), 0);
    EXPECT_EQ(r.PauseCD(true), CRFailure); // the eject stopped playback
    EXPECT_EQ(r.EjectCD(false), 0);
}

TEST_F(RipImages, CancelledWavHeaderMatchesItsSize) {
    ImageDisc disc(dir, discgen::simpleDisc(5, 1, 4500));
    TCDRIP r;
    r.WriteWAV = true;
    int passes = 0;
    r.ProcessMessages = [&] {
        if (++passes == 3) {
            r.Abort();
        }
    };
    r.RipTrack(1, dir / "c.wav");
    const auto b = ReadBytes(dir / "c.wav");
    ASSERT_GT(b.size(), 44u);
    ASSERT_LT(b.size(), 44u + 4500u * SectorBytes);
    EXPECT_EQ(U32At(b, 40), b.size() - 44);
    EXPECT_EQ(U32At(b, 4), b.size() - 8);
    const auto expected = disc.TrackBytes(0);
    EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), expected.begin()));
}

TEST_F(RipImages, DamagedSectorsAreRecordedAndSilent) {
    // Track 1 is sectors 0 to 1499; sectors 700 to 703 cannot be read.
    ImageDisc disc(dir, discgen::simpleDisc(3, 2, 1500), "bad:700-703");
    TCDRIP r;
    r.WriteWAV = false;
    r.RipTrack(1, dir / "d.pcm");
    // One entry per chunk that had unreadable sectors: its first and last one. The
    // entries together name exactly sectors 700 to 703.
    ASSERT_FALSE(r.JitterErrors.empty());
    std::vector<bool> named(1500, false);
    for (const std::string& entry : r.JitterErrors) {
        unsigned first = 0;
        unsigned last = 0;
        ASSERT_EQ(std::sscanf(entry.c_str(), "%u %u", &first, &last), 2) << entry;
        ASSERT_LE(first, last);
        ASSERT_LT(last, 1500u);
        for (unsigned s = first; s <= last; ++s) {
            named[s] = true;
        }
    }
    for (unsigned s = 0; s < 1500; ++s) {
        EXPECT_EQ(named[s], s >= 700 && s <= 703) << "sector " << s;
    }
    EXPECT_EQ(r.JitterErrorCount, 4);
    const auto b = ReadBytes(dir / "d.pcm");
    const auto expected = disc.TrackBytes(0);
    ASSERT_EQ(b.size(), expected.size());
    const auto bad = b.begin() + 700 * SectorBytes;
    EXPECT_TRUE(std::all_of(bad, bad + 4 * SectorBytes, [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(b.begin(), bad, expected.begin()));
    EXPECT_TRUE(std::equal(bad + 4 * SectorBytes, b.end(), expected.begin() + 704 * SectorBytes));
}

struct Mp3Row {
    const char* name;
    LongBool vbr;
    TLameMode mode;
    uint32_t outRate; // 0: the library's choice, which is the input's rate
    long rate;
    int channels;
};

class RipImagesMp3 : public RipImages, public testing::WithParamInterface<Mp3Row> {};

// A 1 kHz tone through the real encoder: the MP3 has the asked-for rate and channels,
// the track's length and the tone's pitch, and ends in a tag with the title. With the
// VBR header the decoder trims delay and padding from it, so the length is exact.
TEST_P(RipImagesMp3, DecodesToTheTracksLengthAndPitch) {
    const Mp3Row row = GetParam();
    discgen::DiscSpec plan = discgen::simpleDisc(1, 2, 1125); // 15 seconds each
    plan.toneHz = 1000;
    ImageDisc disc(dir, plan);
    TLameCoder coder;
    coder.SetEnableVBR(row.vbr);
    coder.SetMode(row.mode);
    coder.SetOutSampleRate(row.outRate);
    TCDRIP r;
    r.SetCoder(&coder);
    r.Encode = true;
    r.RipTrack(2, dir / "tone.wav");
    const std::string name = dir / "tone.mp3";
    TMP3Info info;
    info.SetFilename(name);
    info.SetTitle("Tone Two");
    info.Save();
    ASSERT_TRUE(info.Saved()) << info.Error();

    const Decoded d = DecodeMp3(name);
    EXPECT_EQ(d.Rate, row.rate);
    EXPECT_EQ(d.Channels, row.channels);
    // The whole track, the piece after the last whole encoder chunk included.
    const double expectedFrames =
        static_cast<double>(1125 * 588) * static_cast<double>(row.rate) / 44100;
    if (row.vbr != LongFalse) {
        EXPECT_NEAR(static_cast<double>(d.Frames()), expectedFrames, 2.0);
    } else {
        // Without the header: the encoder's delay and up to one frame of padding more.
        EXPECT_GE(static_cast<double>(d.Frames()), expectedFrames);
        EXPECT_LE(static_cast<double>(d.Frames()), expectedFrames + 1152 + 1105);
    }
    EXPECT_NEAR(Frequency(d), 1000.0, 5.0);

    const auto b = ReadBytes(name);
    ASSERT_GT(b.size(), 128u);
    const std::string tag(b.end() - 128, b.end() - 128 + 11);
    EXPECT_EQ(tag, std::string("TAGTone Two"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RipImagesMp3,
    testing::Values(Mp3Row{"cbr_stereo", LongFalse, STEREO, 0, 44100, 2},
                    Mp3Row{"vbr_header_joint_stereo", LongTrue, JSTEREO, 0, 44100, 2},
                    Mp3Row{"vbr_header_mono_from_stereo", LongTrue, MONO, 0, 44100, 1},
                    Mp3Row{"vbr_header_32000", LongTrue, STEREO, 32000, 32000, 2},
                    Mp3Row{"cbr_22050_mono", LongFalse, MONO, 22050, 22050, 1}),
    RowName);

TEST_F(RipImages, Mp3FromMonoPcm) {
    discgen::DiscSpec plan = discgen::simpleDisc(1, 1, 750);
    plan.toneHz = 1000;
    ImageDisc disc(dir, plan);
    TLameCoder coder;
    coder.SetEnableVBR(LongTrue);
    TCDRIP r;
    r.SetCoder(&coder);
    r.SetOutputFormat(TOutputFormat::MONO22050);
    r.Encode = true;
    r.RipTrack(1, dir / "m.mp3");
    const Decoded d = DecodeMp3(dir / "m.mp3");
    // Mono 22050 Hz PCM: the same rate, the whole track's length, the same pitch.
    EXPECT_EQ(d.Rate, 22050);
    EXPECT_EQ(coder.InputChannels(), 1u);
    EXPECT_NEAR(static_cast<double>(d.Frames()), 750 * 294, 2.0);
    EXPECT_NEAR(Frequency(d), 1000.0, 5.0);
}
