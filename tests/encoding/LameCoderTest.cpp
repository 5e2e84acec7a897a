// TLameCoder against a fake encoder library: the record bytes it hands over, the
// values it passes through and its property rules.
#include "encoding/LameCoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Test names of table rows.
template <class Row> std::string CaseName(const testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

// What the fake library saw and what it answers.
struct FakeLame {
    std::array<uint8_t, 332> config{};
    uint32_t initStatus = BE_OK;
    uint32_t samples = 2304;
    uint32_t bufferSize = 10080;
    uint32_t handle = 77;
    std::vector<std::string> calls;
    uint32_t lastHandle = 0;
    uint32_t lastSamples = 0;
    const int16_t* lastInput = nullptr;
    uint8_t* lastOutput = nullptr;
    std::vector<uint8_t> infoTag;
};

FakeLame fake;

uint32_t FakeVersion(BE_VERSION_RECORD* version) {
    fake.calls.push_back("beVersion");
    std::memset(version, 0, sizeof(*version));
    version->dllMajorVersion = 1;
    version->dllMinorVersion = 2;
    version->majorVersion = 3;
    version->minorVersion = 100;
    return BE_OK;
}

uint32_t FakeInit(const BE_CONFIG_RECORD* config, uint32_t* samples, uint32_t* bufferSize,
                  uint32_t* stream) {
    fake.calls.push_back("beInitStream");
    std::memcpy(fake.config.data(), config, sizeof(*config));
    *samples = fake.samples;
    *bufferSize = fake.bufferSize;
    *stream = fake.handle;
    return fake.initStatus;
}

uint32_t FakeEncode(uint32_t stream, uint32_t nSamples, const int16_t* input, uint8_t* output,
                    uint32_t* outputBytes) {
    fake.calls.push_back("beEncodeChunk");
    fake.lastHandle = stream;
    fake.lastSamples = nSamples;
    fake.lastInput = input;
    fake.lastOutput = output;
    *outputBytes = 417;
    return BE_OK;
}

uint32_t FakeDeinit(uint32_t stream, uint8_t* output, uint32_t* outputBytes) {
    fake.calls.push_back("beDeinitStream");
    fake.lastHandle = stream;
    fake.lastOutput = output;
    *outputBytes = 33;
    return BE_ERR_ENCODER;
}

uint32_t FakeInfoTag(uint32_t stream, uint8_t* output, uint32_t outputSize, uint32_t* outputBytes) {
    fake.calls.push_back("beGetInfoTag");
    fake.lastHandle = stream;
    *outputBytes = static_cast<uint32_t>(fake.infoTag.size());
    if (fake.infoTag.size() > outputSize) {
        return BE_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(output, fake.infoTag.data(), fake.infoTag.size());
    return BE_OK;
}

uint32_t FakeClose(uint32_t stream) {
    fake.calls.push_back("beCloseStream");
    fake.lastHandle = stream;
    return BE_OK;
}

const TLameDll fakeTable{&FakeVersion, &FakeInit,    &FakeEncode,
                         &FakeDeinit,  &FakeInfoTag, &FakeClose};

int32_t FieldAt(const std::array<uint8_t, 332>& bytes, size_t offset) {
    // Little-endian, as the library reads it.
    return static_cast<int32_t>(uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8 |
                                uint32_t{bytes[offset + 2]} << 16 |
                                uint32_t{bytes[offset + 3]} << 24);
}

class LameCoderTest : public testing::Test {
protected:
    void SetUp() override { fake = FakeLame{}; }
    TLameDllOverride table{fakeTable};
};

// A new component hands over exactly the record of its defaults.
TEST_F(LameCoderTest, NewComponentFillsTheNineteenDefaultFields) {
    TLameCoder coder;
    EXPECT_EQ(coder.InitStream(), BE_OK);
    // kind, version, size, input rate, MP3 rate, mode, bitrate, max bitrate, quality, MPEG
    // version, psy model, emphasis, private, CRC (-1), copyright, original, VBR header,
    // VBR, VBR quality.
    const std::vector<int32_t> expected{256, 1, 331, 44100, 0, 0, 128, 320, 0, 1,
                                        0,   0, 0,   -1,    0, 0, 0,   0,   4};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(FieldAt(fake.config, i * 4), expected[i]) << "field at offset " << i * 4;
    }
    for (size_t offset = 76; offset < 332; ++offset) {
        EXPECT_EQ(fake.config[offset], 0) << "byte " << offset;
    }
}

struct FieldCase {
    const char* name;
    std::function<void(TLameCoder&)> set;
    size_t offset;
    int32_t value;
};

class LameCoderFieldTest : public LameCoderTest, public testing::WithParamInterface<FieldCase> {};

// Each property reaches its own offset and leaves every other byte as a new component has it.
TEST_P(LameCoderFieldTest, PropertyReachesItsOffset) {
    TLameCoder reference;
    reference.InitStream();
    const auto defaults = fake.config;

    TLameCoder coder;
    GetParam().set(coder);
    coder.InitStream();
    EXPECT_EQ(FieldAt(fake.config, GetParam().offset), GetParam().value);
    // EnableVBR also sets WriteVBRHeader (offset 64).
    const bool vbr = std::string(GetParam().name) == "EnableVBR";
    if (vbr) {
        EXPECT_EQ(FieldAt(fake.config, 64), -1) << "VBR header flag";
    }
    for (size_t offset = 0; offset < 332; offset += 4) {
        if (offset != GetParam().offset && !(vbr && offset == 64)) {
            EXPECT_EQ(FieldAt(fake.config, offset), FieldAt(defaults, offset))
                << "offset " << offset;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LameCoderFieldTest,
    testing::Values(
        FieldCase{"SampleRate", [](TLameCoder& c) { c.SetSampleRate(22050); }, 12, 22050},
        FieldCase{"OutSampleRate", [](TLameCoder& c) { c.SetOutSampleRate(32000); }, 16, 32000},
        FieldCase{"ModeJointStereo", [](TLameCoder& c) { c.SetMode(JSTEREO); }, 20, 1},
        FieldCase{"ModeDualChannel", [](TLameCoder& c) { c.SetMode(DUALCHANNEL); }, 20, 2},
        FieldCase{"ModeMono", [](TLameCoder& c) { c.SetMode(MONO); }, 20, 3},
        FieldCase{"Bitrate", [](TLameCoder& c) { c.SetBitrate(192); }, 24, 192},
        FieldCase{"MaxBitrate", [](TLameCoder& c) { c.SetMaxBitrate(256); }, 28, 256},
        FieldCase{"QualityLow", [](TLameCoder& c) { c.SetQuality(LOW_QUALITY); }, 32, 1},
        FieldCase{"QualityHigh", [](TLameCoder& c) { c.SetQuality(HIGH_QUALITY); }, 32, 2},
        FieldCase{"QualityVoice", [](TLameCoder& c) { c.SetQuality(VOICE_QUALITY); }, 32, 3},
        FieldCase{"Private", [](TLameCoder& c) { c.SetPrivate(LongTrue); }, 48, -1},
        FieldCase{"CRCOff", [](TLameCoder& c) { c.SetCRC(LongFalse); }, 52, 0},
        // A true value other than -1 goes through unchanged.
        FieldCase{"CRCAsOne", [](TLameCoder& c) { c.SetCRC(1); }, 52, 1},
        FieldCase{"Copyright", [](TLameCoder& c) { c.SetCopyright(LongTrue); }, 56, -1},
        FieldCase{"Original", [](TLameCoder& c) { c.SetOriginal(5); }, 60, 5},
        FieldCase{"WriteVBRHeader", [](TLameCoder& c) { c.SetWriteVBRHeader(LongTrue); }, 64, -1},
        FieldCase{"EnableVBR", [](TLameCoder& c) { c.SetEnableVBR(LongTrue); }, 68, -1},
        FieldCase{"VBRQuality", [](TLameCoder& c) { c.SetVBRQuality(9); }, 72, 9},
        FieldCase{"InputChannels", [](TLameCoder& c) { c.SetInputChannels(2); }, 76, 2}),
    CaseName<FieldCase>);

TEST_F(LameCoderTest, EnableVBRSetsTheHeaderFlagButNotTheOtherWayRound) {
    TLameCoder coder;
    coder.SetEnableVBR(LongTrue);
    EXPECT_EQ(coder.WriteVBRHeader(), LongTrue);
    coder.SetWriteVBRHeader(LongFalse);
    EXPECT_EQ(coder.EnableVBR(), LongTrue);
    EXPECT_EQ(coder.WriteVBRHeader(), LongFalse);
    coder.InitStream();
    EXPECT_EQ(FieldAt(fake.config, 64), 0);
    EXPECT_EQ(FieldAt(fake.config, 68), -1);
    coder.SetEnableVBR(LongFalse);
    EXPECT_EQ(coder.WriteVBRHeader(), LongFalse);
}

TEST_F(LameCoderTest, ModeOutsideTheFourPositionsIsIgnored) {
    TLameCoder coder;
    coder.SetMode(MONO);
    for (const int32_t position : {4, 9, 255, -1}) {
        coder.SetMode(static_cast<TLameMode>(position));
        EXPECT_EQ(coder.Mode(), MONO) << position;
    }
    coder.SetMode(DUALCHANNEL);
    EXPECT_EQ(coder.Mode(), DUALCHANNEL);
}

TEST_F(LameCoderTest, VersionIsReadOnceAtConstruction) {
    TLameCoder coder;
    EXPECT_EQ(fake.calls, std::vector<std::string>{"beVersion"});
    EXPECT_EQ(coder.LameVersion().DLLMajorVersion(), 1);
    EXPECT_EQ(coder.LameVersion().DLLMinorVersion(), 2);
    EXPECT_EQ(coder.LameVersion().MajorVersion(), 3);
    EXPECT_EQ(coder.LameVersion().MinorVersion(), 100);
}

// The stream calls pass the handle, Samples and the caller's buffers through, and return the
// library's status unchanged.
TEST_F(LameCoderTest, StreamCallsPassHandleSamplesAndBuffers) {
    fake.initStatus = BE_ERR_BAD_PARAMETER;
    TLameCoder coder;
    EXPECT_EQ(coder.InitStream(), BE_ERR_BAD_PARAMETER);
    EXPECT_EQ(coder.StreamHandle(), 77u);
    EXPECT_EQ(coder.Samples(), 2304u);
    EXPECT_EQ(coder.BufferSize(), 10080u);

    std::vector<int16_t> pcm(2304);
    std::vector<uint8_t> mp3(10080);
    uint32_t count = 0;
    EXPECT_EQ(coder.EncodeChunk(pcm.data(), mp3.data(), &count), BE_OK);
    EXPECT_EQ(fake.lastHandle, 77u);
    EXPECT_EQ(fake.lastSamples, 2304u);
    EXPECT_EQ(fake.lastInput, pcm.data());
    EXPECT_EQ(fake.lastOutput, mp3.data());
    EXPECT_EQ(count, 417u);

    EXPECT_EQ(coder.DeinitStream(mp3.data(), &count), BE_ERR_ENCODER);
    EXPECT_EQ(count, 33u);
    fake.lastHandle = 0;
    EXPECT_EQ(coder.CloseStream(), BE_OK);
    EXPECT_EQ(fake.lastHandle, 77u);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"beVersion", "beInitStream", "beEncodeChunk",
                                                    "beDeinitStream", "beCloseStream"}));
}

TEST_F(LameCoderTest, InfoTagFrameComesBackWhateverItsSize) {
    TLameCoder coder;
    coder.InitStream();
    std::vector<uint8_t> frame;
    // Larger than BufferSize: the component asks again with the size the library names.
    fake.infoTag.assign(12000, 0x5A);
    EXPECT_EQ(coder.GetInfoTag(frame), BE_OK);
    EXPECT_EQ(frame, fake.infoTag);
    fake.infoTag = {0xFF, 0xFB, 0x90, 0x64};
    EXPECT_EQ(coder.GetInfoTag(frame), BE_OK);
    EXPECT_EQ(frame, fake.infoTag);
    fake.infoTag.clear();
    EXPECT_EQ(coder.GetInfoTag(frame), BE_OK);
    EXPECT_TRUE(frame.empty());
}

TEST_F(LameCoderTest, AssignCopiesEncodingSettingsOnly) {
    TLameCoder source;
    source.SetSampleRate(22050);
    source.SetBitrate(96);
    source.SetMaxBitrate(160);
    source.SetQuality(VOICE_QUALITY);
    source.SetPrivate(LongTrue);
    source.SetCRC(LongFalse);
    source.SetMode(JSTEREO);
    source.SetCopyright(LongTrue);
    source.SetOriginal(LongTrue);
    source.SetEnableVBR(LongTrue);
    source.SetWriteVBRHeader(LongFalse);
    source.SetVBRQuality(7);
    source.SetOutSampleRate(32000);
    source.SetInputChannels(1);
    source.SetDefaultExt(".mpa");
    source.SetMp3FileName("x.mp3");
    source.SetInputFiles({"in.wav"});
    source.OnProgress = [](TLameCoder*, uint16_t) {};

    TLameCoder target;
    target.Assign(source);
    target.InitStream();
    const auto copied = fake.config;
    source.InitStream();
    EXPECT_EQ(copied, fake.config);
    EXPECT_EQ(target.DefaultExt(), ".mp3");
    EXPECT_EQ(target.Mp3FileName(), "");
    EXPECT_TRUE(target.InputFiles().empty());
    EXPECT_TRUE(target.OutputFiles().empty());
    EXPECT_FALSE(target.OnProgress);
}

TEST_F(LameCoderTest, AssignRefusesAnotherClassWithItsMessage) {
    TLameCoder coder;
    coder.SetBitrate(256);
    TLameVersion version;
    try {
        coder.Assign(version);
        FAIL() << "no error raised";
    } catch (const EAssignError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a TLameVersion to a TLameCoder");
    }
    EXPECT_EQ(coder.Bitrate(), 256u);
}

struct FileNamesCase {
    const char* name;
    std::string defaultExt;
    std::vector<std::string> input;
    std::vector<std::string> output;
};

class LameCoderFileNamesTest : public LameCoderTest,
                               public testing::WithParamInterface<FileNamesCase> {};

TEST_P(LameCoderFileNamesTest, InputFilesRebuildOutputFiles) {
    TLameCoder coder;
    coder.SetDefaultExt(GetParam().defaultExt);
    coder.SetOutputFiles({"stale.mp3", "old.mp3", "third.mp3"});
    coder.SetInputFiles(GetParam().input);
    EXPECT_EQ(coder.InputFiles(), GetParam().input);
    EXPECT_EQ(coder.OutputFiles(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LameCoderFileNamesTest,
    testing::Values(
        FileNamesCase{"ExtensionReplacedOrAdded", ".mp3", {"a.wav", "b"}, {"a.mp3", "b.mp3"}},
        FileNamesCase{"OnlyTheLastExtension", ".mp3", {"c.tar.wav"}, {"c.tar.mp3"}},
        FileNamesCase{"DotInAFolderName", ".mp3", {"x.d/song"}, {"x.d/song.mp3"}},
        FileNamesCase{"OtherDefaultExt", ".mp2", {"a.wav"}, {"a.mp2"}},
        FileNamesCase{"EmptyList", ".mp3", {}, {}}),
    CaseName<FileNamesCase>);

TEST_F(LameCoderTest, OutputFilesSetterCopiesTheList) {
    TLameCoder coder;
    coder.SetInputFiles({"a.wav"});
    coder.SetOutputFiles({"z.mp3", "y.mp3"});
    EXPECT_EQ(coder.OutputFiles(), (std::vector<std::string>{"z.mp3", "y.mp3"}));
    EXPECT_EQ(coder.InputFiles(), std::vector<std::string>{"a.wav"});
}

} // namespace
