// liblame_enc with the real LAME encoder: files are decoded with libmpg123 and their
// frames parsed on their own, to check rate, channels, length, pitch, header bits and
// the info tag.
#include "encoding/LameCoder.h"
#include "lame_enc/Mp3Check.h"
#include "libs/lame_enc/lame_enc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Test names of table rows.
template <class Row> std::string CaseName(const testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

using mp3check::Decode;
using mp3check::Frames;
using mp3check::ReadInfoTag;

// LAME's encoder delay (576) plus the decoder's (529), in samples.
constexpr long kCodecDelay = 1105;

// `seconds` of a sine tone, the same on every channel.
std::vector<int16_t> Tone(uint32_t rate, uint32_t channels, double seconds, double hz = 1000) {
    const auto frames = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const double v = 12000 * std::sin(2 * std::numbers::pi * hz * i / rate);
        for (uint32_t c = 0; c < channels; ++c) {
            pcm[i * channels + c] = static_cast<int16_t>(std::lround(v));
        }
    }
    return pcm;
}

struct EncodeResult {
    uint32_t status = BE_OK;
    std::vector<uint8_t> mp3;
    size_t placeholderFrame = 0; // size of the first frame before the info tag replaced it
};

// Feeds the PCM as the ripper does, a last short chunk through the library call itself,
// then flushes and writes the info tag over the first frame.
EncodeResult Encode(TLameCoder& coder, const std::vector<int16_t>& pcm) {
    EncodeResult result;
    result.status = coder.InitStream();
    if (result.status != BE_OK) {
        return result;
    }
    std::vector<uint8_t> out(coder.BufferSize());
    uint32_t count = 0;
    size_t at = 0;
    for (; at + coder.Samples() <= pcm.size(); at += coder.Samples()) {
        EXPECT_EQ(coder.EncodeChunk(pcm.data() + at, out.data(), &count), BE_OK);
        result.mp3.insert(result.mp3.end(), out.begin(), out.begin() + count);
    }
    const auto rest = static_cast<uint32_t>(pcm.size() - at);
    EXPECT_EQ(
        LameDll().beEncodeChunk(coder.StreamHandle(), rest, pcm.data() + at, out.data(), &count),
        BE_OK);
    result.mp3.insert(result.mp3.end(), out.begin(), out.begin() + count);
    EXPECT_EQ(coder.DeinitStream(out.data(), &count), BE_OK);
    result.mp3.insert(result.mp3.end(), out.begin(), out.begin() + count);
    std::vector<uint8_t> tag;
    EXPECT_EQ(coder.GetInfoTag(tag), BE_OK);
    mp3check::FrameHeader first;
    if (!tag.empty() && mp3check::ParseHeader(result.mp3.data(), result.mp3.size(), first)) {
        result.placeholderFrame = first.length;
        std::copy(tag.begin(), tag.end(), result.mp3.begin());
    }
    EXPECT_EQ(coder.CloseStream(), BE_OK);
    return result;
}

struct StreamCase {
    const char* name;
    uint32_t inRate;
    uint32_t inChannels;
    uint32_t outRate;
    TLameMode mode;
    bool vbr;
    int expectedChannels;
};

class LameEncStreamTest : public testing::TestWithParam<StreamCase> {};

TEST_P(LameEncStreamTest, DecodesAtTheRequestedRateChannelsLengthAndPitch) {
    const StreamCase& c = GetParam();
    TLameCoder coder;
    coder.SetSampleRate(c.inRate);
    coder.SetInputChannels(c.inChannels);
    coder.SetOutSampleRate(c.outRate);
    coder.SetMode(c.mode);
    coder.SetEnableVBR(c.vbr ? LongTrue : LongFalse);
    coder.SetVBRQuality(5);
    const double seconds = 2.0;
    const auto pcm = Tone(c.inRate, c.inChannels, seconds);
    const EncodeResult encoded = Encode(coder, pcm);
    ASSERT_EQ(encoded.status, BE_OK);

    const auto frames = Frames(encoded.mp3);
    ASSERT_FALSE(frames.empty()) << "not a clean frame sequence";
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.rate, static_cast<int>(c.outRate));
        EXPECT_EQ(frame.mode, c.mode);
    }
    const auto decoded = Decode(encoded.mp3);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.rate, static_cast<long>(c.outRate));
    EXPECT_EQ(decoded.channels, c.expectedChannels);
    const long expected = std::lround(seconds * c.outRate);
    const long frameSamples = c.outRate >= 32000 ? 1152 : 576;
    const long decodedFrames = static_cast<long>(decoded.Frames());
    EXPECT_LE(std::labs(decodedFrames - expected), frameSamples + kCodecDelay)
        << "decoded " << decodedFrames << " samples, expected about " << expected;
    // A tone read at the wrong rate would come out at 1000 * out / in Hz.
    EXPECT_NEAR(mp3check::ToneFrequency(decoded), 1000.0, 10.0);
    if (decoded.channels == 2) {
        EXPECT_NEAR(mp3check::ToneFrequency(decoded, 1), 1000.0, 10.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LameEncStreamTest,
    testing::Values(StreamCase{"Cbr44100Stereo", 44100, 2, 44100, STEREO, false, 2},
                    StreamCase{"Cbr44100Joint", 44100, 2, 44100, JSTEREO, false, 2},
                    StreamCase{"Cbr44100Mono", 44100, 2, 44100, MONO, false, 1},
                    StreamCase{"Cbr32000Stereo", 44100, 2, 32000, STEREO, false, 2},
                    StreamCase{"Cbr32000Joint", 44100, 2, 32000, JSTEREO, false, 2},
                    StreamCase{"Cbr32000Mono", 44100, 2, 32000, MONO, false, 1},
                    StreamCase{"Cbr22050Stereo", 44100, 2, 22050, STEREO, false, 2},
                    StreamCase{"Cbr22050Joint", 44100, 2, 22050, JSTEREO, false, 2},
                    StreamCase{"Cbr22050Mono", 44100, 2, 22050, MONO, false, 1},
                    StreamCase{"Vbr44100Stereo", 44100, 2, 44100, STEREO, true, 2},
                    StreamCase{"Vbr44100Joint", 44100, 2, 44100, JSTEREO, true, 2},
                    StreamCase{"Vbr44100Mono", 44100, 2, 44100, MONO, true, 1},
                    StreamCase{"Vbr32000Stereo", 44100, 2, 32000, STEREO, true, 2},
                    StreamCase{"Vbr32000Joint", 44100, 2, 32000, JSTEREO, true, 2},
                    StreamCase{"Vbr32000Mono", 44100, 2, 32000, MONO, true, 1},
                    StreamCase{"Vbr22050Stereo", 44100, 2, 22050, STEREO, true, 2},
                    StreamCase{"Vbr22050Joint", 44100, 2, 22050, JSTEREO, true, 2},
                    StreamCase{"Vbr22050Mono", 44100, 2, 22050, MONO, true, 1},
                    // The ripper's other PCM formats.
                    StreamCase{"MonoPcm22050", 22050, 1, 22050, MONO, false, 1},
                    StreamCase{"StereoPcm22050To44100", 22050, 2, 44100, JSTEREO, true, 2},
                    StreamCase{"MonoPcm11025To22050", 11025, 1, 22050, MONO, true, 1}),
    CaseName<StreamCase>);

struct TagCase {
    const char* name;
    bool vbr;
    bool header;
    uint32_t outRate;
    TLameMode mode;
    const char* id; // expected tag identifier, "" for none
};

class LameEncInfoTagTest : public testing::TestWithParam<TagCase> {};

// The info tag replaces the placeholder frame and counts the audio frames after it.
TEST_P(LameEncInfoTagTest, FirstFrameCarriesTheFinalTag) {
    const TagCase& c = GetParam();
    TLameCoder coder;
    coder.SetInputChannels(2);
    coder.SetOutSampleRate(c.outRate);
    coder.SetMode(c.mode);
    coder.SetEnableVBR(c.vbr ? LongTrue : LongFalse);
    coder.SetWriteVBRHeader(c.header ? LongTrue : LongFalse);
    const EncodeResult encoded = Encode(coder, Tone(44100, 2, 3.0));
    ASSERT_EQ(encoded.status, BE_OK);
    const auto frames = Frames(encoded.mp3);
    ASSERT_FALSE(frames.empty());
    const auto tag = ReadInfoTag(encoded.mp3);
    EXPECT_EQ(tag.id, c.id);
    if (std::string(c.id).empty()) {
        EXPECT_EQ(encoded.placeholderFrame, 0u);
        return;
    }
    EXPECT_EQ(encoded.placeholderFrame, frames.front().length);
    ASSERT_TRUE(tag.hasFrames);
    EXPECT_EQ(tag.frames, frames.size() - 1);
    if (tag.hasBytes) {
        EXPECT_EQ(tag.bytes, encoded.mp3.size());
    }
    // The tag lets the decoder cut the codec delay and padding: the length is exact.
    const auto decoded = Decode(encoded.mp3);
    EXPECT_NEAR(static_cast<double>(decoded.Frames()), 3.0 * c.outRate, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LameEncInfoTagTest,
    testing::Values(TagCase{"Vbr44100", true, true, 44100, JSTEREO, "Xing"},
                    TagCase{"Vbr22050Mono", true, true, 22050, MONO, "Xing"},
                    TagCase{"Vbr32000Stereo", true, true, 32000, STEREO, "Xing"},
                    TagCase{"CbrWithHeader", false, true, 44100, STEREO, "Info"},
                    TagCase{"VbrWithoutHeader", true, false, 44100, STEREO, ""},
                    TagCase{"CbrWithoutHeader", false, false, 44100, STEREO, ""}),
    CaseName<TagCase>);

struct BitsCase {
    const char* name;
    std::function<void(TLameCoder&)> set;
    std::function<void(const mp3check::FrameHeader&)> check;
};

class LameEncHeaderBitsTest : public testing::TestWithParam<BitsCase> {};

// The record's flags, mode and bitrates show in every audio frame header.
TEST_P(LameEncHeaderBitsTest, FramesCarryTheSettings) {
    TLameCoder coder;
    GetParam().set(coder);
    const EncodeResult encoded = Encode(coder, Tone(44100, 2, 1.0));
    ASSERT_EQ(encoded.status, BE_OK);
    const auto frames = Frames(encoded.mp3);
    ASSERT_GT(frames.size(), 2u);
    // The first frame may be the info tag frame, which LAME writes without CRC.
    for (size_t i = 1; i < frames.size(); ++i) {
        GetParam().check(frames[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LameEncHeaderBitsTest,
    testing::Values(BitsCase{"Defaults", [](TLameCoder&) {},
                             [](const mp3check::FrameHeader& h) {
                                 EXPECT_TRUE(h.crc);
                                 EXPECT_FALSE(h.privateBit);
                                 EXPECT_FALSE(h.copyright);
                                 EXPECT_FALSE(h.original);
                                 EXPECT_EQ(h.mode, 0);
                                 EXPECT_EQ(h.kbps, 128);
                                 EXPECT_EQ(h.rate, 44100);
                                 EXPECT_EQ(h.emphasis, 0);
                             }},
                    BitsCase{"FlagsOn",
                             [](TLameCoder& c) {
                                 c.SetCRC(LongFalse);
                                 c.SetPrivate(LongTrue);
                                 c.SetCopyright(LongTrue);
                                 c.SetOriginal(1);
                             },
                             [](const mp3check::FrameHeader& h) {
                                 EXPECT_FALSE(h.crc);
                                 EXPECT_TRUE(h.privateBit);
                                 EXPECT_TRUE(h.copyright);
                                 EXPECT_TRUE(h.original);
                             }},
                    BitsCase{"DualChannel", [](TLameCoder& c) { c.SetMode(DUALCHANNEL); },
                             [](const mp3check::FrameHeader& h) { EXPECT_EQ(h.mode, 2); }},
                    BitsCase{"Cbr320", [](TLameCoder& c) { c.SetBitrate(320); },
                             [](const mp3check::FrameHeader& h) { EXPECT_EQ(h.kbps, 320); }},
                    BitsCase{"Cbr96At22050",
                             [](TLameCoder& c) {
                                 c.SetBitrate(96);
                                 c.SetOutSampleRate(22050);
                             },
                             [](const mp3check::FrameHeader& h) {
                                 EXPECT_EQ(h.kbps, 96);
                                 EXPECT_EQ(h.version, 2);
                             }},
                    BitsCase{"VbrBounds",
                             [](TLameCoder& c) {
                                 c.SetEnableVBR(LongTrue);
                                 c.SetBitrate(96);
                                 c.SetMaxBitrate(160);
                                 c.SetVBRQuality(0);
                             },
                             [](const mp3check::FrameHeader& h) {
                                 EXPECT_GE(h.kbps, 96);
                                 EXPECT_LE(h.kbps, 160);
                             }}),
    CaseName<BitsCase>);

TEST(LameEncTest, VbrBitrateFollowsTheQuality) {
    // Quality 0 spends more bits on the same tone than quality 9.
    std::vector<size_t> sizes;
    for (const int quality : {0, 9}) {
        TLameCoder coder;
        coder.SetEnableVBR(LongTrue);
        coder.SetBitrate(32);
        coder.SetVBRQuality(quality);
        sizes.push_back(Encode(coder, Tone(44100, 2, 2.0, 3000)).mp3.size());
    }
    EXPECT_GT(sizes[0], sizes[1]);
}

struct PresetCase {
    const char* name;
    MPEG_QUALITY preset;
    uint32_t lameQuality; // LAME's algorithm quality, 0 (best) to 9
    bool voiceLowpass;    // the voice preset cuts at 12 kHz
};

void PrintTo(const PresetCase& row, std::ostream* os) {
    *os << row.name;
}

class QualityPresets : public testing::TestWithParam<PresetCase> {};

// Each preset reaches LAME as its own algorithm quality, which LAME reports back in the
// info tag as 100 - 10 * VBR quality - quality; only the voice preset lowers the
// low-pass, which the tag's LAME extension records. The tone survives every preset.
TEST_P(QualityPresets, ReachLameAsTheirQualityAndLowpass) {
    const PresetCase& row = GetParam();
    TLameCoder coder;
    coder.SetQuality(row.preset);
    coder.SetWriteVBRHeader(LongTrue);
    const auto result = Encode(coder, Tone(44100, 2, 1.0));
    ASSERT_EQ(result.status, BE_OK);
    const auto tag = ReadInfoTag(result.mp3);
    ASSERT_TRUE(tag.hasQuality);
    // CBR leaves LAME's VBR quality at its default, 4.
    EXPECT_EQ(tag.quality, 100 - 10 * 4 - row.lameQuality);
    ASSERT_EQ(tag.encoder.rfind("LAME", 0), 0u) << tag.encoder;
    if (row.voiceLowpass) {
        EXPECT_EQ(tag.lowpassHz, 12000u);
    } else {
        // LAME's own choice for 128 kbit/s stereo lies well above the voice cut.
        EXPECT_GT(tag.lowpassHz, 15000u);
    }
    EXPECT_NEAR(mp3check::ToneFrequency(Decode(result.mp3)), 1000.0, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, QualityPresets,
                         testing::Values(PresetCase{"Normal", NORMAL_QUALITY, 3, false},
                                         PresetCase{"Low", LOW_QUALITY, 7, false},
                                         PresetCase{"High", HIGH_QUALITY, 2, false},
                                         PresetCase{"Voice", VOICE_QUALITY, 5, true}),
                         CaseName<PresetCase>);

TEST(LameEncTest, VersionRecordNamesThisLibraryAndLame) {
    BE_VERSION_RECORD version{};
    ASSERT_EQ(beVersion(&version), BE_OK);
    EXPECT_EQ(version.dllMajorVersion, 1);
    EXPECT_EQ(version.majorVersion, 3);
    EXPECT_GE(version.minorVersion, 99);
    EXPECT_NE(std::string(version.engineVersion), "");
    EXPECT_EQ(std::string(version.homePage).rfind("http", 0), 0u);
    EXPECT_EQ(beVersion(nullptr), BE_ERR_NULL_POINTER);
    TLameCoder coder;
    EXPECT_EQ(coder.LameVersion().MajorVersion(), 3);
}

BE_CONFIG_RECORD DefaultRecord() {
    BE_CONFIG_RECORD record{};
    record.kind = BE_CONFIG_KIND;
    record.version = BE_CONFIG_VERSION;
    record.size = BE_CONFIG_SIZE_WRITTEN;
    record.inSampleRate = 44100;
    record.bitrate = 128;
    record.maxBitrate = 320;
    record.mpegVersion = 1;
    record.crc = -1;
    record.vbrQuality = 4;
    return record;
}

struct SizesCase {
    const char* name;
    uint32_t outRate;
    int32_t mode;
    uint32_t inputChannels;
    uint32_t samples;
};

class LameEncSizesTest : public testing::TestWithParam<SizesCase> {};

// Samples is one MPEG frame of input, all channels counted; BufferSize LAME's worst case.
TEST_P(LameEncSizesTest, SamplesAndBufferSize) {
    BE_CONFIG_RECORD record = DefaultRecord();
    record.outSampleRate = GetParam().outRate;
    record.mode = GetParam().mode;
    record.inputChannels = GetParam().inputChannels;
    record.bitrate = 64;
    uint32_t samples = 0, bufferSize = 0, stream = 0;
    ASSERT_EQ(beInitStream(&record, &samples, &bufferSize, &stream), BE_OK);
    EXPECT_EQ(samples, GetParam().samples);
    const uint32_t channels = GetParam().inputChannels == 0
                                  ? (GetParam().mode == BE_MODE_MONO ? 1 : 2)
                                  : GetParam().inputChannels;
    EXPECT_GE(bufferSize, samples / channels * 5 / 4 + 7200);
    EXPECT_EQ(beCloseStream(stream), BE_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LameEncSizesTest,
    testing::Values(SizesCase{"Stereo44100", 44100, BE_MODE_STEREO, 0, 2304},
                    SizesCase{"Mono44100", 44100, BE_MODE_MONO, 0, 1152},
                    SizesCase{"StereoPcmToMono", 44100, BE_MODE_MONO, 2, 2304},
                    // MPEG-2 frames hold 576 samples: 1152 input samples at twice the rate.
                    SizesCase{"Stereo22050", 22050, BE_MODE_STEREO, 0, 2304},
                    SizesCase{"Stereo32000", 32000, BE_MODE_JOINT_STEREO, 0, 2 * 1588}),
    CaseName<SizesCase>);

struct RecordCase {
    const char* name;
    std::function<void(BE_CONFIG_RECORD&)> change;
    uint32_t status;
};

class LameEncRecordTest : public testing::TestWithParam<RecordCase> {};

TEST_P(LameEncRecordTest, InitStreamAnswers) {
    BE_CONFIG_RECORD record = DefaultRecord();
    GetParam().change(record);
    uint32_t samples = 0, bufferSize = 0, stream = 0;
    const uint32_t status = beInitStream(&record, &samples, &bufferSize, &stream);
    EXPECT_EQ(status, GetParam().status);
    if (status == BE_OK) {
        EXPECT_NE(stream, 0u);
        EXPECT_EQ(beCloseStream(stream), BE_OK);
    } else {
        EXPECT_EQ(stream, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, LameEncRecordTest,
    testing::Values(
        RecordCase{"Defaults", [](BE_CONFIG_RECORD&) {}, BE_OK},
        RecordCase{"WholeRecordSize", [](BE_CONFIG_RECORD& r) { r.size = 332; }, BE_OK},
        RecordCase{"UnknownKind", [](BE_CONFIG_RECORD& r) { r.kind = 0; }, BE_ERR_BAD_RECORD},
        RecordCase{"OtherKind", [](BE_CONFIG_RECORD& r) { r.kind = 257; }, BE_ERR_BAD_RECORD},
        RecordCase{"UnknownVersion", [](BE_CONFIG_RECORD& r) { r.version = 2; }, BE_ERR_BAD_RECORD},
        RecordCase{"SizeTooSmall", [](BE_CONFIG_RECORD& r) { r.size = 76; }, BE_ERR_BAD_RECORD},
        RecordCase{"SizeTooLarge", [](BE_CONFIG_RECORD& r) { r.size = 4096; }, BE_ERR_BAD_RECORD},
        RecordCase{"BitrateNotStandard", [](BE_CONFIG_RECORD& r) { r.bitrate = 130; },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"BitrateZero", [](BE_CONFIG_RECORD& r) { r.bitrate = 0; }, BE_ERR_BAD_PARAMETER},
        RecordCase{"Bitrate320At22050",
                   [](BE_CONFIG_RECORD& r) {
                       r.bitrate = 320;
                       r.outSampleRate = 22050;
                   },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"Bitrate8At44100",
                   [](BE_CONFIG_RECORD& r) {
                       r.bitrate = 8;
                       r.outSampleRate = 44100;
                   },
                   BE_ERR_BAD_PARAMETER},
        // VBR bounds are limits: LAME keeps them inside the MPEG version's range.
        RecordCase{"VbrMax320At22050",
                   [](BE_CONFIG_RECORD& r) {
                       r.enableVBR = -1;
                       r.outSampleRate = 22050;
                   },
                   BE_OK},
        RecordCase{"VbrMaxNotStandard",
                   [](BE_CONFIG_RECORD& r) {
                       r.enableVBR = -1;
                       r.maxBitrate = 300;
                   },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"VbrQualityTen",
                   [](BE_CONFIG_RECORD& r) {
                       r.enableVBR = -1;
                       r.vbrQuality = 10;
                   },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"VbrQualityIgnoredForCbr", [](BE_CONFIG_RECORD& r) { r.vbrQuality = 10; },
                   BE_OK},
        RecordCase{"OutRateNotMpeg", [](BE_CONFIG_RECORD& r) { r.outSampleRate = 44000; },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"InRateZero", [](BE_CONFIG_RECORD& r) { r.inSampleRate = 0; },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"InRateHuge", [](BE_CONFIG_RECORD& r) { r.inSampleRate = 1000000; },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"ModeFour", [](BE_CONFIG_RECORD& r) { r.mode = 4; }, BE_ERR_BAD_PARAMETER},
        RecordCase{"ModeNegative", [](BE_CONFIG_RECORD& r) { r.mode = -1; }, BE_ERR_BAD_PARAMETER},
        RecordCase{"QualityFour", [](BE_CONFIG_RECORD& r) { r.quality = 4; }, BE_ERR_BAD_PARAMETER},
        RecordCase{"ThreeChannels", [](BE_CONFIG_RECORD& r) { r.inputChannels = 3; },
                   BE_ERR_BAD_PARAMETER},
        RecordCase{"EmphasisReserved", [](BE_CONFIG_RECORD& r) { r.emphasis = 2; },
                   BE_ERR_BAD_PARAMETER}),
    CaseName<RecordCase>);

TEST(LameEncTest, NullPointersAreRefused) {
    BE_CONFIG_RECORD record = DefaultRecord();
    uint32_t samples = 0, bufferSize = 0, stream = 0;
    EXPECT_EQ(beInitStream(nullptr, &samples, &bufferSize, &stream), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beInitStream(&record, nullptr, &bufferSize, &stream), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beInitStream(&record, &samples, nullptr, &stream), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beInitStream(&record, &samples, &bufferSize, nullptr), BE_ERR_NULL_POINTER);
    ASSERT_EQ(beInitStream(&record, &samples, &bufferSize, &stream), BE_OK);
    std::vector<int16_t> pcm(samples);
    std::vector<uint8_t> out(bufferSize);
    uint32_t count = 0;
    EXPECT_EQ(beEncodeChunk(stream, samples, nullptr, out.data(), &count), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beEncodeChunk(stream, samples, pcm.data(), nullptr, &count), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beEncodeChunk(stream, samples, pcm.data(), out.data(), nullptr), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beDeinitStream(stream, nullptr, &count), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beDeinitStream(stream, out.data(), nullptr), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beDeinitStream(stream, out.data(), &count), BE_OK);
    EXPECT_EQ(beGetInfoTag(stream, nullptr, 100, &count), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beGetInfoTag(stream, out.data(), 100, nullptr), BE_ERR_NULL_POINTER);
    EXPECT_EQ(beCloseStream(stream), BE_OK);
}

TEST(LameEncTest, UnknownAndClosedHandlesAreRefused) {
    BE_CONFIG_RECORD record = DefaultRecord();
    uint32_t samples = 0, bufferSize = 0, stream = 0;
    ASSERT_EQ(beInitStream(&record, &samples, &bufferSize, &stream), BE_OK);
    ASSERT_EQ(beCloseStream(stream), BE_OK);
    std::vector<int16_t> pcm(samples);
    std::vector<uint8_t> out(bufferSize);
    uint32_t count = 0;
    for (const uint32_t handle : {stream, 0u, 0xFFFFFFFFu}) {
        EXPECT_EQ(beEncodeChunk(handle, samples, pcm.data(), out.data(), &count),
                  BE_ERR_BAD_HANDLE);
        EXPECT_EQ(beDeinitStream(handle, out.data(), &count), BE_ERR_BAD_HANDLE);
        EXPECT_EQ(beGetInfoTag(handle, out.data(), bufferSize, &count), BE_ERR_BAD_HANDLE);
        EXPECT_EQ(beCloseStream(handle), BE_ERR_BAD_HANDLE);
    }
    // A new stream never takes the closed one's handle.
    uint32_t next = 0;
    ASSERT_EQ(beInitStream(&record, &samples, &bufferSize, &next), BE_OK);
    EXPECT_NE(next, stream);
    EXPECT_EQ(beCloseStream(next), BE_OK);
}

TEST(LameEncTest, CallsOutOfOrderAndBadCountsAreRefused) {
    BE_CONFIG_RECORD record = DefaultRecord();
    record.enableVBR = -1;
    record.writeVBRHeader = -1;
    uint32_t samples = 0, bufferSize = 0, stream = 0;
    ASSERT_EQ(beInitStream(&record, &samples, &bufferSize, &stream), BE_OK);
    const auto pcm = Tone(44100, 2, 0.5);
    std::vector<uint8_t> out(bufferSize);
    uint32_t count = 0;
    EXPECT_EQ(beGetInfoTag(stream, out.data(), bufferSize, &count), BE_ERR_OUT_OF_ORDER);
    EXPECT_EQ(beEncodeChunk(stream, samples + 2, pcm.data(), out.data(), &count),
              BE_ERR_BAD_PARAMETER);
    // Half a stereo sample pair.
    EXPECT_EQ(beEncodeChunk(stream, 3, pcm.data(), out.data(), &count), BE_ERR_BAD_PARAMETER);
    EXPECT_EQ(beEncodeChunk(stream, 0, nullptr, out.data(), &count), BE_OK);
    EXPECT_EQ(count, 0u);
    for (size_t at = 0; at + samples <= pcm.size(); at += samples) {
        ASSERT_EQ(beEncodeChunk(stream, samples, pcm.data() + at, out.data(), &count), BE_OK);
    }
    EXPECT_EQ(beDeinitStream(stream, out.data(), &count), BE_OK);
    EXPECT_EQ(beDeinitStream(stream, out.data(), &count), BE_ERR_OUT_OF_ORDER);
    EXPECT_EQ(beEncodeChunk(stream, samples, pcm.data(), out.data(), &count), BE_ERR_OUT_OF_ORDER);
    // Too small a buffer names the size it needs.
    EXPECT_EQ(beGetInfoTag(stream, out.data(), 10, &count), BE_ERR_BUFFER_TOO_SMALL);
    const uint32_t needed = count;
    EXPECT_GT(needed, 10u);
    EXPECT_EQ(beGetInfoTag(stream, out.data(), bufferSize, &count), BE_OK);
    EXPECT_EQ(count, needed);
    EXPECT_EQ(beCloseStream(stream), BE_OK);
}

} // namespace

namespace {

// The settings of one of several streams that run at once.
void ConfigureStream(TLameCoder& coder, int which) {
    coder.SetSampleRate(44100);
    coder.SetInputChannels(2);
    switch (which % 3) {
    case 0:
        coder.SetEnableVBR(LongTrue);
        coder.SetVBRQuality(which % 10);
        break;
    case 1:
        coder.SetMode(JSTEREO);
        coder.SetBitrate(192);
        break;
    default:
        coder.SetOutSampleRate(22050);
        coder.SetMode(MONO);
        coder.SetBitrate(64);
        break;
    }
}

} // namespace

// Streams in several threads at once (the parallel rip's encoders) give the bytes each
// gives alone: setting up a stream and its first frames, which fill tables the library
// shares between streams, happen one stream at a time.
TEST(LameEncTest, StreamsInSeveralThreadsGiveTheBytesOfOneAtATime) {
    constexpr int kStreams = 6;
    const std::vector<int16_t> pcm = Tone(44100, 2, 3.0, 440);
    std::vector<std::vector<uint8_t>> alone(kStreams);
    for (int i = 0; i < kStreams; ++i) {
        TLameCoder coder;
        ConfigureStream(coder, i);
        alone[i] = Encode(coder, pcm).mp3;
        ASSERT_GT(alone[i].size(), 1000U);
    }
    for (int round = 0; round < 3; ++round) {
        std::vector<std::vector<uint8_t>> together(kStreams);
        std::vector<TLameCoder> coders(kStreams);
        for (int i = 0; i < kStreams; ++i) {
            ConfigureStream(coders[static_cast<size_t>(i)], i);
        }
        std::vector<std::thread> threads;
        for (int i = 0; i < kStreams; ++i) {
            threads.emplace_back([&, i] {
                const auto at = static_cast<size_t>(i);
                together[at] = Encode(coders[at], pcm).mp3;
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        for (int i = 0; i < kStreams; ++i) {
            EXPECT_EQ(together[static_cast<size_t>(i)], alone[static_cast<size_t>(i)])
                << "stream " << i << ", round " << round;
        }
    }
}
