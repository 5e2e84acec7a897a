// The ripper component through fake library tables: drives, table of contents, disc
// key, parameters, extraction paths and playback.

#include "FakeLibs.h"
#include "FileSizeLimit.h"
#include "TestDir.h"

#include "cdaccess/CDRIP.h"
#include "encoding/LameCoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

// A fake library with one drive whose disc has tracks starting at `starts` (the last
// value is the lead-out).
struct Fixture {
    explicit Fixture(const std::vector<int32_t>& starts = {0, 1000, 2500},
                     const std::vector<uint8_t>& flags = {}) {
        cd.AddDrive(starts, flags);
    }
    TCDRIP Make() { return TCDRIP(FakeCdRip::Table); }
    FakeCdRip cd;
};

uint32_t BlockU32(const std::vector<uint8_t>& block, std::size_t at) {
    return U32At(block, at);
}

template <typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and the drive

TEST(TCDRIPConstruction, ReadsTheActiveDrive) {
    Fixture f;
    FakeDrive& d = f.cd.Drives[0];
    d.Id = "VIRTUAL IMAGE /tmp/a.cue";
    d.Speed = 48;
    d.DriveTable = {9, 2, 1, 1, 1, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
    d.OutputFormat = 3;
    f.cd.Version = -7;
    TCDRIP r = f.Make();
    EXPECT_EQ(r.Version, "-7");
    EXPECT_EQ(r.CDRomIDText(), "VIRTUAL IMAGE /tmp/a.cue");
    EXPECT_EQ(r.Speed, 48);
    EXPECT_EQ(r.DriveTable.DriveType, TDriveType::HP);
    EXPECT_EQ(r.DriveTable.ReadMethod, TReadMethod::READNEC);
    EXPECT_EQ(r.DriveTable.SetSpeed, TSetSpeed::SPEEDMMC);
    EXPECT_EQ(r.DriveTable.Endian, TEndian::LITTLEENDIAN);
    EXPECT_EQ(r.DriveTable.EnableMode, TEnableMode::ENABLESTD);
    EXPECT_EQ(r.DriveTable.Density, 16777216); // 00 00 00 01 little-endian
    EXPECT_EQ(r.DriveTable.Atapi, -1);
    EXPECT_EQ(r.OutputFormat(), TOutputFormat::MONO22050);
    EXPECT_EQ(r.CDRomNum(), 0);
    EXPECT_TRUE(r.JitterCorrect());
    EXPECT_EQ(r.Tracks.Count(), 2);
    EXPECT_EQ(r.JitterErrorCount, 0);
    // The block's jitter flag was set TRUE (all bits) for the library.
    d.Jitter = 0;
    ASSERT_TRUE(r.ApplyParameters());
    EXPECT_EQ(BlockU32(f.cd.BlockSet, 284), 0xFFFFFFFFu);
}

TEST(TCDRIPConstruction, InitFailureStillConstructs) {
    Fixture f;
    f.cd.InitStatus = 1;
    TCDRIP r = f.Make();
    EXPECT_EQ(r.Version, "120");
    EXPECT_EQ(r.Tracks.Count(), 0);
    EXPECT_FALSE(r.JitterCorrect());
    EXPECT_EQ(f.cd.Count("CR_GetCDROMParameters"), 0);
    EXPECT_EQ(f.cd.Count("CR_ReadToc"), 0);
    EXPECT_EQ(r.GetDiscID(), "000000");
    // Later selections work as far as the library allows.
    r.SetCDRomNum(0);
    EXPECT_EQ(r.Tracks.Count(), 2);
}

TEST(TCDRIPConstruction, ParametersUnreadableLeavesJitterOff) {
    Fixture f;
    f.cd.GetParamsFails = true;
    TCDRIP r = f.Make();
    EXPECT_FALSE(r.JitterCorrect());
    EXPECT_EQ(r.CDRomIDText(), "");
    EXPECT_EQ(r.Tracks.Count(), 2); // the table of contents is read all the same
}

class TCDRIPRaising : public testing::TestWithParam<const char*> {};

TEST_P(TCDRIPRaising, ConstructionBecomesInitializationFailure) {
    Fixture f;
    f.cd.ThrowIn = GetParam();
    EXPECT_EQ(MessageOf([&] { f.Make(); }), "Initialization failure");
}

INSTANTIATE_TEST_SUITE_P(Calls, TCDRIPRaising,
                         testing::Values("CR_GetCDRipVersion", "CR_Init", "CR_GetCDROMParameters",
                                         "CR_ReadToc", "CR_GetTocEntry"));

TEST(TCDRIPDrives, RejectedSelectionKeepsTheDriveAndRereadsItsDisc) {
    Fixture f;
    f.cd.AddDrive({0, 4500});
    TCDRIP r = f.Make();
    r.SetCDRomNum(1);
    ASSERT_EQ(r.CDRomNum(), 1);
    ASSERT_EQ(r.CDRomIDText(), "FAKE DRIVE 1");
    r.DriveTable.Density = 1234;
    r.SetCDRomNum(5); // the library refuses drive 5
    EXPECT_EQ(r.CDRomNum(), 1);
    EXPECT_EQ(r.CDRomIDText(), "FAKE DRIVE 1");
    EXPECT_EQ(r.DriveTable.Density, 1234);
    ASSERT_EQ(r.Tracks.Count(), 1); // drive 1's disc, read again
    EXPECT_EQ(r.Tracks.Objects(0).EndSector, 4499);
}

TEST(TCDRIPDrives, SelectionOfADriveWithoutDiscEmptiesTheTable) {
    Fixture f;
    f.cd.AddDrive({});
    TCDRIP r = f.Make();
    r.SetCDRomNum(1);
    EXPECT_EQ(r.CDRomNum(), 1);
    EXPECT_EQ(r.Tracks.Count(), 0);
    EXPECT_EQ(r.GetDiscID(), "000000");
    EXPECT_EQ(r.GetTrackTime(0), "00:00");
}

TEST(TCDRIPDrives, SelectionThatRaisesIsInitializationFailureWithAnEmptyTable) {
    Fixture f;
    TCDRIP r = f.Make();
    f.cd.ThrowIn = "CR_GetTocEntry";
    EXPECT_EQ(MessageOf([&] { r.SetCDRomNum(0); }), "Initialization failure");
    EXPECT_EQ(r.Tracks.Count(), 0);
}

TEST(TCDRIPDrives, DriveTableAndSpeedNeverReachTheLibrary) {
    Fixture f;
    f.cd.Drives[0].DriveTable[0] = 3;
    TCDRIP r = f.Make();
    r.DriveTable.DriveType = TDriveType::SONY;
    r.DriveTable.Density = 99;
    r.Speed = 1;
    ASSERT_TRUE(r.ApplyParameters());
    EXPECT_EQ(f.cd.BlockSet[292], 3);
    EXPECT_EQ(BlockU32(f.cd.BlockSet, 276), 24u);
    r.SetCDRomNum(0); // the next selection overwrites the copies
    EXPECT_EQ(r.DriveTable.DriveType, TDriveType::IBM);
    EXPECT_EQ(r.Speed, 24);
}

TEST(TCDRIPDrives, JitterCorrectWritesTheBlockOnlyOnAChange) {
    Fixture f;
    f.cd.Drives[0].Jitter = 0; // what the library reports at the next selection
    TCDRIP r = f.Make();
    r.SetCDRomNum(0);
    r.SetJitterCorrect(true); // already true: the block keeps the library's 0
    r.ApplyParameters();
    EXPECT_EQ(BlockU32(f.cd.BlockSet, 284), 0u);
    r.SetJitterCorrect(false);
    r.SetJitterCorrect(true);
    r.ApplyParameters();
    EXPECT_EQ(BlockU32(f.cd.BlockSet, 284), 0xFFFFFFFFu);
    r.SetJitterCorrect(false);
    r.ApplyParameters();
    EXPECT_EQ(BlockU32(f.cd.BlockSet, 284), 0u);
}

TEST(TCDRIPDrives, ApplyParametersStatusAndRaise) {
    Fixture f;
    TCDRIP r = f.Make();
    f.cd.SetParamsStatus = 1;
    EXPECT_FALSE(r.ApplyParameters());
    f.cd.SetParamsStatus = 3;
    EXPECT_TRUE(r.ApplyParameters()); // only 1 is a failure
    f.cd.ThrowIn = "CR_SetCDROMParameters";
    EXPECT_EQ(MessageOf([&] { r.ApplyParameters(); }), "Error setting parameters");
}

// ---------------------------------------------------------------------------
// Table of contents, times and the disc key

struct FlagRow {
    const char* name;
    uint8_t flag;
    const char* kind;
};

class TCDRIPFlags : public testing::TestWithParam<FlagRow> {};

TEST_P(TCDRIPFlags, OnlyExactly0x10IsAudio) {
    Fixture f({0, 100, 200}, {0x10, GetParam().flag, 0x10});
    TCDRIP r = f.Make();
    EXPECT_EQ(r.Tracks.Objects(1).TrackType, GetParam().kind);
    EXPECT_EQ(r.IsAudioTrack(1), std::string(GetParam().kind) == "Audio");
}

INSTANTIATE_TEST_SUITE_P(Rows, TCDRIPFlags,
                         testing::Values(FlagRow{"audio", 0x10, "Audio"},
                                         FlagRow{"data", 0x14, "Data"},
                                         FlagRow{"audio_with_pre_emphasis", 0x11, "Data"},
                                         FlagRow{"zero", 0x00, "Data"},
                                         FlagRow{"high_bit", 0x90, "Data"}),
                         RowName);

TEST(TCDRIPToc, NamesSectorsAndNumbers) {
    std::vector<int32_t> starts;
    for (int i = 0; i <= 10; ++i) {
        starts.push_back(i * 300 + (i > 0 ? 7 : 0));
    }
    Fixture f(starts);
    TCDRIP r = f.Make();
    ASSERT_EQ(r.Tracks.Count(), 10);
    EXPECT_EQ(r.Tracks.Strings(0), "Track01");
    EXPECT_EQ(r.Tracks.Strings(8), "Track09");
    EXPECT_EQ(r.Tracks.Strings(9), "Track10");
    EXPECT_EQ(r.Tracks.Objects(0).TrackNum, 1);
    EXPECT_EQ(r.Tracks.Objects(0).StartSector, 0);
    EXPECT_EQ(r.Tracks.Objects(0).EndSector, 306); // next start 307, minus 1
    EXPECT_EQ(r.Tracks.Objects(9).TrackNum, 10);
    EXPECT_EQ(r.Tracks.Objects(9).EndSector, 3006);
}

// An audio track followed by a data track ends where the data track's gap begins:
// its length and its rip leave the gap out, and the disc key stays the TOC's.
TEST(TCDRIPToc, AudioTrackEndsBeforeTheDataTracksGap) {
    Fixture f({0, 2175, 2400}, {0x10, 0x14});
    TCDRIP plain = f.Make();
    const std::string key = plain.GetDiscID();
    f.cd.Drives[0].Toc[1].Gap = 150;
    TCDRIP r = f.Make();
    EXPECT_EQ(r.Tracks.Objects(0).EndSector, 2024); // 2175 - 150 - 1
    EXPECT_EQ(r.GetTrackTime(0), "0:27");           // 2025 sectors, not 2175 (0:29)
    EXPECT_EQ(r.Tracks.Objects(1).EndSector, 2399);
    EXPECT_EQ(r.GetDiscID(), key);
}

TEST(TCDRIPDrives, DriveStatusTextIsTheLibrarysReason) {
    Fixture f;
    f.cd.Drives[0].StatusText = "disc.cue: not a regular file";
    TCDRIP r = f.Make();
    EXPECT_EQ(r.DriveStatusText(), "disc.cue: not a regular file");
    EXPECT_EQ(f.cd.Count("CR_GetDriveStatusText"), 1);
    f.cd.Drives[0].StatusText = std::string(3000, 'x'); // cut, never overrun
    EXPECT_EQ(r.DriveStatusText(), std::string(1023, 'x'));
}

TEST(TCDRIPToc, IndexOutsideTheTable) {
    Fixture f;
    TCDRIP r = f.Make();
    EXPECT_EQ(MessageOf([&] { r.IsAudioTrack(5); }), "List index out of bounds (5)");
    EXPECT_THROW(r.IsAudioTrack(-1), EListError);
    EXPECT_EQ(r.GetTrackTime(2), "00:00");
    EXPECT_EQ(r.GetTrackTime(-1), "00:00");
}

struct TimeRow {
    const char* name;
    int32_t sectors;
    const char* text;
};

class TCDRIPTrackTime : public testing::TestWithParam<TimeRow> {};

TEST_P(TCDRIPTrackTime, MinutesAndTwoDigitSeconds) {
    Fixture f({150, 150 + GetParam().sectors});
    TCDRIP r = f.Make();
    EXPECT_EQ(r.GetTrackTime(0), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Rows, TCDRIPTrackTime,
                         testing::Values(TimeRow{"one_sector", 1, "0:00"},
                                         TimeRow{"one_minute", 4500, "1:00"},
                                         TimeRow{"just_under_a_second_more", 4574, "1:00"},
                                         TimeRow{"one_second_more", 4575, "1:01"},
                                         TimeRow{"four_oh_five", 4 * 4500 + 5 * 75, "4:05"},
                                         TimeRow{"twelve_41", 12 * 4500 + 41 * 75 + 74, "12:41"},
                                         TimeRow{"eighty_minutes", 80 * 4500, "80:00"}),
                         RowName);

struct KeyRow {
    const char* name;
    std::vector<int32_t> starts; // with the lead-out
    const char* key;
};

class TCDRIPDiscID : public testing::TestWithParam<KeyRow> {};

TEST_P(TCDRIPDiscID, Key) {
    Fixture f(GetParam().starts);
    TCDRIP r = f.Make();
    EXPECT_EQ(r.GetDiscID(), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TCDRIPDiscID,
    testing::Values(KeyRow{"three_tracks", {0, 20000, 40000, 60000}, "0C554B"},
                    KeyRow{"one_track_at_zero", {0, 30000}, "000200"},
                    KeyRow{"empty", {}, "000000"},
                    // 1150 = 0:15.25 -> 15 * 256 + 25 = 3865, plus the start 1000 once more
                    KeyRow{"one_track_adds_its_start", {1000, 5000}, "001301"},
                    // 150 -> 0x200; 1150 -> 3865; no start added for two tracks
                    KeyRow{"two_tracks_add_no_start", {0, 1000, 5000}, "001119"},
                    // starts beyond 256 minutes: a sum of more than six digits keeps them all
                    KeyRow{"long_sum_keeps_digits", {1200000, 1300000, 1400000}, "22A6119"}),
    RowName);

// ---------------------------------------------------------------------------
// Output format and the encoder

TEST(TCDRIPCoder, OutputFormatWritesTheBlockAndTellsTheCoderItsInput) {
    Fixture f;
    FakeLame lame;
    TLameCoder coder;
    coder.SetMode(JSTEREO);
    coder.SetOutSampleRate(32000);
    TCDRIP r = f.Make();
    r.SetCoder(&coder);
    EXPECT_EQ(coder.SampleRate(), 44100u);
    EXPECT_EQ(coder.InputChannels(), 2u);
    r.SetOutputFormat(TOutputFormat::MONO22050);
    EXPECT_EQ(coder.SampleRate(), 22050u);
    EXPECT_EQ(coder.InputChannels(), 1u);
    EXPECT_EQ(coder.Mode(), JSTEREO); // the MP3's mode stays the user's
    EXPECT_EQ(coder.OutSampleRate(), 32000u);
    r.ApplyParameters();
    EXPECT_EQ(f.cd.BlockSet[312], 3);
    // A drive selection that changes the format does not tell the coder.
    f.cd.Drives[0].OutputFormat = 4;
    r.SetCDRomNum(0);
    EXPECT_EQ(r.OutputFormat(), TOutputFormat::STEREO11025);
    EXPECT_EQ(coder.SampleRate(), 22050u);
}

// ---------------------------------------------------------------------------
// Extraction

class TCDRIPRip : public testing::Test {
protected:
    TCDRIPRip() : f({0, 1000, 2000, 3000}), r(f.Make()) {
        r.WriteWAV = true;
        r.OnProgress = [this](TCDRIP* sender, uint16_t p) {
            EXPECT_EQ(sender, &r);
            progress.push_back(p);
            encodeCallsAfterPass.push_back(lame.Count("beEncodeChunk"));
        };
    }
    void UseCoder() {
        r.SetCoder(&coder);
        r.Encode = true;
    }
    Fixture f;
    FakeLame lame;
    TLameCoder coder;
    TCDRIP r;
    TestDir dir;
    std::vector<uint16_t> progress;
    std::vector<int> encodeCallsAfterPass;
};

TEST_F(TCDRIPRip, WavIsHeaderAndEveryByteDelivered) {
    // Track 2: sectors 1000 to 1999, 2352000 bytes.
    f.cd.Chunks = Script(2352000, f.cd.BufferSize);
    std::vector<std::string> events;
    r.OnBeginTrack = [&](TCDRIP*, uint16_t n) { events.push_back("begin " + std::to_string(n)); };
    r.OnEndTrack = [&](TCDRIP*, uint16_t n) { events.push_back("end " + std::to_string(n)); };
    r.RipTrack(2, dir / "t.wav");
    const auto bytes = ReadBytes(dir / "t.wav");
    ASSERT_EQ(bytes.size(), 44u + 2352000u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(U32At(bytes, 4), 2352036u);
    EXPECT_EQ(U32At(bytes, 40), 2352000u);
    EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), Pattern(2352000).begin()));
    EXPECT_THAT(events, ElementsAre("begin 2", "end 2"));
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
    EXPECT_EQ(progress.back(), 100);
}

struct FormatRow {
    const char* name;
    TOutputFormat format;
    uint16_t channels;
    uint32_t rate;
    uint32_t perSector;
};

class TCDRIPWavHeader : public TCDRIPRip, public testing::WithParamInterface<FormatRow> {};

TEST_P(TCDRIPWavHeader, FiguresOfTheFormat) {
    const FormatRow row = GetParam();
    r.SetOutputFormat(row.format);
    const int32_t data = 1000 * static_cast<int32_t>(row.perSector);
    f.cd.Chunks = Script(data, 26 * static_cast<int32_t>(row.perSector));
    r.RipTrack(1, dir / "f.wav");
    const auto b = ReadBytes(dir / "f.wav");
    ASSERT_EQ(b.size(), 44u + static_cast<std::size_t>(data));
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32At(b, 16), 16u);
    EXPECT_EQ(U16At(b, 20), 1);
    EXPECT_EQ(U16At(b, 22), row.channels);
    EXPECT_EQ(U32At(b, 24), row.rate);
    EXPECT_EQ(U32At(b, 28), row.rate * row.channels * 2);
    EXPECT_EQ(U16At(b, 32), row.channels * 2);
    EXPECT_EQ(U16At(b, 34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(U32At(b, 40), static_cast<uint32_t>(data));
    EXPECT_EQ(f.cd.BlockSet[312], static_cast<uint8_t>(row.format));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TCDRIPWavHeader,
    testing::Values(FormatRow{"stereo44100", TOutputFormat::STEREO44100, 2, 44100, 2352},
                    FormatRow{"mono44100", TOutputFormat::MONO44100, 1, 44100, 1176},
                    FormatRow{"stereo22050", TOutputFormat::STEREO22050, 2, 22050, 1176},
                    FormatRow{"mono22050", TOutputFormat::MONO22050, 1, 22050, 588},
                    FormatRow{"stereo11025", TOutputFormat::STEREO11025, 2, 11025, 588},
                    FormatRow{"mono11025", TOutputFormat::MONO11025, 1, 11025, 294}),
    RowName);

TEST_F(TCDRIPRip, BarePcmWithoutWriteWav) {
    r.WriteWAV = false;
    f.cd.Chunks = Script(5000, 1500);
    r.RipTrack(1, dir / "raw.pcm");
    EXPECT_EQ(ReadBytes(dir / "raw.pcm"), Pattern(5000));
}

TEST_F(TCDRIPRip, CancelledWavGetsTheSizesItHas) {
    f.cd.Chunks = Script(2352000, 10000);
    r.ProcessMessages = [this] {
        if (f.cd.ChunkIndex == 3) {
            r.Abort();
        }
    };
    r.RipTrack(2, dir / "c.wav");
    const auto b = ReadBytes(dir / "c.wav");
    ASSERT_EQ(b.size(), 44u + 30000u);
    EXPECT_EQ(U32At(b, 4), 30036u);
    EXPECT_EQ(U32At(b, 40), 30000u);
    EXPECT_TRUE(r.Aborted());
}

// A track that ends early never costs the file that was there before: a cancelled
// track, an encoder that cannot start, a write that fails. Where there was none, the
// partial file gets the name, with its WAV header telling its true length.
enum class EndEarly { Cancel, WriteFails, EncoderRefuses };

struct EarlyRow {
    const char* name;
    EndEarly how;
    bool previous;
};

class TCDRIPEarlyEnd : public TCDRIPRip, public testing::WithParamInterface<EarlyRow> {};

TEST_P(TCDRIPEarlyEnd, PreviousFileKeptOrPartialFileNamed) {
    const EarlyRow row = GetParam();
    const bool mp3 = row.how == EndEarly::EncoderRefuses;
    const std::string name = dir / (mp3 ? "t.mp3" : "t.wav");
    if (row.previous) {
        std::ofstream(name) << "previous good file";
    }
    if (mp3) {
        UseCoder();
        lame.InitStatus = BE_ERR_BAD_PARAMETER;
    }
    f.cd.Chunks = Script(2352000, 10000);
    r.ProcessMessages = [this, row] {
        if (row.how == EndEarly::Cancel && f.cd.ChunkIndex == 3) {
            r.Abort();
        }
    };
    std::string error;
    {
        FileSizeLimit limit(row.how == EndEarly::WriteFails ? 44 + 20000 : RLIM_INFINITY);
        error = MessageOf([&] { r.RipTrack(2, name); });
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos) << e.path();
    }
    EXPECT_FALSE(r.FileWritten && row.previous);
    if (row.previous) {
        const auto b = ReadBytes(name);
        EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
        return;
    }
    if (mp3) {
        EXPECT_FALSE(std::filesystem::exists(name));
        return;
    }
    EXPECT_TRUE(r.FileWritten);
    const auto b = ReadBytes(name);
    // Cancelled after three blocks: 30000 bytes. The limit lets two blocks through.
    const uint32_t data = row.how == EndEarly::Cancel ? 30000u : 20000u;
    ASSERT_EQ(b.size(), 44u + data) << error;
    EXPECT_EQ(U32At(b, 4), data + 36);
    EXPECT_EQ(U32At(b, 40), data);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TCDRIPEarlyEnd,
    testing::Values(EarlyRow{"cancel_keeps_previous", EndEarly::Cancel, true},
                    EarlyRow{"cancel_names_partial", EndEarly::Cancel, false},
                    EarlyRow{"write_error_keeps_previous", EndEarly::WriteFails, true},
                    EarlyRow{"write_error_names_partial", EndEarly::WriteFails, false},
                    EarlyRow{"encoder_refuses_keeps_previous", EndEarly::EncoderRefuses, true},
                    EarlyRow{"encoder_refuses_leaves_nothing", EndEarly::EncoderRefuses, false}),
    RowName);

// A symbolic link at the output name is replaced by the track, never written through.
TEST_F(TCDRIPRip, LinkAtTheNameIsReplacedNotFollowed) {
    std::ofstream(dir / "victim.txt") << "victim";
    ASSERT_EQ(::symlink((dir / "victim.txt").c_str(), (dir / "l.wav").c_str()), 0);
    f.cd.Chunks = Script(3000, 1000);
    r.RipTrack(1, dir / "l.wav");
    EXPECT_TRUE(r.FileWritten);
    const auto victim = ReadBytes(dir / "victim.txt");
    EXPECT_EQ(std::string(victim.begin(), victim.end()), "victim");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "l.wav"));
    EXPECT_EQ(ReadBytes(dir / "l.wav").size(), 44u + 3000u);
}

// The file appears under its name only when the track has ended.
TEST_F(TCDRIPRip, NothingUnderTheNameWhileTheTrackRuns) {
    f.cd.Chunks = Script(3000, 1000);
    std::vector<bool> seen;
    r.ProcessMessages = [&] { seen.push_back(std::filesystem::exists(dir / "w.wav")); };
    r.RipTrack(1, dir / "w.wav");
    EXPECT_THAT(seen, ElementsAre(false, false, false));
    EXPECT_TRUE(std::filesystem::exists(dir / "w.wav"));
}

// The encoder's refusal names the setting, as far as the values tell.
TEST_F(TCDRIPRip, EncoderRefusalNamesTheSetting) {
    UseCoder();
    coder.SetEnableVBR(LongFalse);
    coder.SetOutSampleRate(22050);
    coder.SetBitrate(320);
    lame.InitStatus = BE_ERR_BAD_PARAMETER;
    f.cd.Chunks = Script(100, 100);
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "b.mp3"); }),
              "Unable to start the MP3 encoder: bit rate 320 kbit/s is not allowed at 22050 Hz");
}

TEST_F(TCDRIPRip, EncodeChangedByAHandlerMidTrackKeepsTheTracksFormat) {
    f.cd.Chunks = Script(3000, 1000);
    r.ProcessMessages = [this] { r.Encode = true; };
    r.RipTrack(1, dir / "k.wav");
    const auto b = ReadBytes(dir / "k.wav");
    ASSERT_EQ(b.size(), 44u + 3000u);
    EXPECT_EQ(lame.Count("beEncodeChunk"), 0);
}

TEST_F(TCDRIPRip, StatusOneDeliversNothingButReportsProgress) {
    f.cd.Chunks = {{0, 100}, {1, 500}, {1, 0}, {0, 200}, {4, 50}};
    r.WriteWAV = false;
    r.RipTrack(1, dir / "s.pcm");
    EXPECT_EQ(progress.size(), 5u);
    EXPECT_EQ(ReadBytes(dir / "s.pcm"), Pattern(350));
}

TEST_F(TCDRIPRip, JitterEntryPerPassAndCountAtTheEnd) {
    f.cd.Chunks = {{3, 100}, {0, 100}, {3, 100}, {4, 100}};
    f.cd.JitterA = 4294967295u; // unsigned decimal, never negative
    f.cd.JitterB = 17;
    f.cd.JitterCount = 6;
    r.JitterErrors.push_back("earlier");
    r.RipTrack(1, dir / "j.wav");
    EXPECT_THAT(r.JitterErrors, ElementsAre("earlier", "4294967295 17", "4294967295 17"));
    EXPECT_EQ(r.JitterErrorCount, 6);
    EXPECT_EQ(ReadBytes(dir / "j.wav").size(), 44u + 400u);
}

TEST_F(TCDRIPRip, OpenRipperFailureIsAnErrorAndCreatesNoFile) {
    f.cd.OpenStatus = 1;
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "n.wav"); }), "Unable to read the track");
    EXPECT_FALSE(std::filesystem::exists(dir / "n.wav"));
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 0);
}

TEST_F(TCDRIPRip, RefusedParametersTouchNothing) {
    f.cd.SetParamsStatus = 1;
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "p.wav"); }), "Invalid CD-ROM parameters");
    EXPECT_FALSE(std::filesystem::exists(dir / "p.wav"));
    EXPECT_EQ(f.cd.Count("CR_OpenRipper"), 0);
}

TEST_F(TCDRIPRip, UncreatableFileClosesTheRipper) {
    f.cd.Chunks = Script(100, 100);
    const std::string name = dir / "missing/x.wav";
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, name); }),
              "Cannot create file " + name + ": No such file or directory");
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
    EXPECT_EQ(f.cd.Count("CR_GetNumberOfJitterErrors"), 1);
}

TEST_F(TCDRIPRip, TrackOutsideTheTableFiresBeginThenFails) {
    int begun = 0;
    r.OnBeginTrack = [&](TCDRIP*, uint16_t) { ++begun; };
    r.OnEndTrack = [&](TCDRIP*, uint16_t) { ADD_FAILURE() << "no end event on an error"; };
    const std::size_t before = f.cd.Calls.size();
    EXPECT_EQ(MessageOf([&] { r.RipTrack(4, dir / "x.wav"); }), "List index out of bounds (3)");
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(f.cd.Calls.size(), before); // the library was not called
}

TEST_F(TCDRIPRip, ShortWriteIsWriteErrorAfterTheEndSteps) {
    f.cd.Chunks = Script(50000, 10000);
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, "/dev/full"); }),
              "Write error: /dev/full: No space left on device");
    EXPECT_EQ(f.cd.Count("CR_RipChunk"), 1); // the first failed write ends the loop
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
}

TEST_F(TCDRIPRip, ShortWriteOfMp3ClosesTheEncoder) {
    UseCoder();
    f.cd.Chunks = Script(50000, 10000);
    {
        FileSizeLimit limit(0);
        EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "full.wav"); }),
                  "Write error: " + (dir / "full.mp3") + ": File too large");
    }
    EXPECT_EQ(lame.Count("beDeinitStream"), 1);
    EXPECT_EQ(lame.Count("beCloseStream"), 1);
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
}

// A track shorter than one encoder chunk writes nothing before the flush bytes, so
// on a full disk the flush is the first write that fails.
TEST_F(TCDRIPRip, FlushWriteFailureIsWriteError) {
    UseCoder();
    // Less than one chunk: nothing is written during the track, only the short last
    // piece and the flush at its end.
    f.cd.Chunks = Script(100, 100);
    {
        FileSizeLimit limit(0);
        EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "flush"); }),
                  "Write error: " + (dir / "flush.mp3") + ": File too large");
    }
    EXPECT_EQ(lame.ChunkSizes, std::vector<uint32_t>{50});
    EXPECT_EQ(lame.Count("beCloseStream"), 1);
}

// An encoder that fails part-way fails the track with its reason: the MP3 it left is
// short, so it never replaces an older file and is never reported whole. The steps
// after the failure still close the stream and the ripper. 50000 bytes are ten whole
// chunks of 4608 bytes and a last piece of 3920 bytes (call 10).
struct EncoderFaultRow {
    const char* name;
    int failChunkAt = -1;
    uint32_t deinit = BE_OK;
    uint32_t infoTag = BE_OK;
    uint32_t close = BE_OK;
    bool vbr = false;
    bool previous = false;
    const char* message = "";
    int encodeCalls = 0;
    int deinitCalls = 0;
};

class TCDRIPEncoderFault : public TCDRIPRip, public testing::WithParamInterface<EncoderFaultRow> {};

TEST_P(TCDRIPEncoderFault, FailsTheTrackAndKeepsThePreviousFile) {
    const EncoderFaultRow& row = GetParam();
    UseCoder();
    coder.SetEnableVBR(row.vbr ? LongTrue : LongFalse);
    lame.FailChunkAt = row.failChunkAt;
    lame.DeinitStatus = row.deinit;
    lame.InfoTagStatus = row.infoTag;
    lame.CloseStatus = row.close;
    const std::string name = dir / "e.mp3";
    if (row.previous) {
        std::ofstream(name) << "previous good file";
    }
    f.cd.Chunks = Script(50000, 10000);
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, name); }), row.message);
    EXPECT_EQ(lame.Count("beEncodeChunk"), row.encodeCalls);
    EXPECT_EQ(lame.Count("beDeinitStream"), row.deinitCalls);
    EXPECT_EQ(lame.Count("beCloseStream"), 1);
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos) << e.path();
    }
    if (row.previous) {
        EXPECT_FALSE(r.FileWritten);
        const auto b = ReadBytes(name);
        EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TCDRIPEncoderFault,
    testing::Values(EncoderFaultRow{.name = "chunk_fails_part_way",
                                    .failChunkAt = 3,
                                    .previous = true,
                                    .message = "MP3 encoder error: the encoder failed",
                                    .encodeCalls = 4},
                    EncoderFaultRow{.name = "chunk_fails_without_previous_file",
                                    .failChunkAt = 3,
                                    .message = "MP3 encoder error: the encoder failed",
                                    .encodeCalls = 4},
                    EncoderFaultRow{.name = "last_piece_fails",
                                    .failChunkAt = 10,
                                    .previous = true,
                                    .message = "MP3 encoder error: the encoder failed",
                                    .encodeCalls = 11},
                    EncoderFaultRow{.name = "flush_fails",
                                    .deinit = BE_ERR_ENCODER,
                                    .previous = true,
                                    .message = "MP3 encoder error: the encoder failed",
                                    .encodeCalls = 11,
                                    .deinitCalls = 1},
                    EncoderFaultRow{.name = "vbr_header_frame_fails",
                                    .infoTag = BE_ERR_OUT_OF_ORDER,
                                    .vbr = true,
                                    .previous = true,
                                    .message = "MP3 encoder error: a call out of order",
                                    .encodeCalls = 11,
                                    .deinitCalls = 1},
                    EncoderFaultRow{.name = "close_fails",
                                    .close = BE_ERR_BAD_HANDLE,
                                    .previous = true,
                                    .message = "MP3 encoder error: the stream is not open",
                                    .encodeCalls = 11,
                                    .deinitCalls = 1}),
    RowName);

TEST_F(TCDRIPRip, Mp3NameReplacesTheExtension) {
    UseCoder();
    std::filesystem::create_directory(dir / "a.b");
    for (const std::string name : {"x.wav", "a.b/y", "z"}) {
        f.cd.Chunks = Script(100, 100);
        r.RipTrack(1, dir / name);
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "x.mp3"));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a.b/y.mp3"));
    EXPECT_TRUE(std::filesystem::exists(dir / "z.mp3"));
}

TEST_F(TCDRIPRip, EncoderGetsThePcmFormatAndKeepsTheUsersMp3Settings) {
    UseCoder();
    coder.SetMode(MONO);
    coder.SetOutSampleRate(22050);
    coder.SetSampleRate(32000); // as an older settings copy would have done
    r.SetOutputFormat(TOutputFormat::STEREO44100);
    coder.SetSampleRate(32000);
    f.cd.Chunks = Script(100, 100);
    r.RipTrack(1, dir / "e");
    EXPECT_EQ(lame.Config.inSampleRate, 44100u);
    EXPECT_EQ(lame.Config.inputChannels, 2u);
    EXPECT_EQ(lame.Config.outSampleRate, 22050u);
    EXPECT_EQ(lame.Config.mode, BE_MODE_MONO);
}

TEST_F(TCDRIPRip, InitStreamFailureRemovesTheFile) {
    UseCoder();
    lame.InitStatus = BE_ERR_BAD_PARAMETER;
    f.cd.Chunks = Script(100, 100);
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "i.wav"); }), "Unable to start the MP3 encoder");
    EXPECT_FALSE(std::filesystem::exists(dir / "i.mp3"));
    EXPECT_EQ(f.cd.Count("CR_RipChunk"), 0);
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
    EXPECT_EQ(lame.Count("beCloseStream"), 0);
}

TEST_F(TCDRIPRip, EncodeWithoutCoderIsAnErrorNotACrash) {
    r.Encode = true;
    f.cd.Chunks = Script(100, 100);
    EXPECT_EQ(MessageOf([&] { r.RipTrack(1, dir / "nc"); }), "Unable to start the MP3 encoder");
    EXPECT_FALSE(std::filesystem::exists(dir / "nc.mp3"));
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
}

TEST_F(TCDRIPRip, AbortInTheFirstPassStillFlushesAndCloses) {
    UseCoder();
    f.cd.Chunks = Script(100000, 20000);
    int pumped = 0;
    r.ProcessMessages = [&] {
        ++pumped;
        r.Abort();
    };
    r.RipTrack(1, dir / "a.mp3");
    EXPECT_EQ(pumped, 1);
    EXPECT_EQ(f.cd.Count("CR_RipChunk"), 1);
    EXPECT_EQ(f.cd.Count("CR_CloseRipper"), 1);
    // The first block: four whole chunks, then its last 1568 bytes as a short piece.
    EXPECT_THAT(lame.Calls,
                ElementsAre("beInitStream", "beEncodeChunk", "beEncodeChunk", "beEncodeChunk",
                            "beEncodeChunk", "beEncodeChunk", "beDeinitStream", "beCloseStream"));
    EXPECT_EQ(lame.ChunkSizes.back(), 784u);
    const auto b = ReadBytes(dir / "a.mp3");
    EXPECT_EQ(std::string(b.begin(), b.end()), std::string(50, 'M') + "FLUSH");
}

TEST_F(TCDRIPRip, AbortBetweenTracksDoesNotStopTheNext) {
    r.Abort();
    f.cd.Chunks = Script(3000, 1000);
    r.RipTrack(1, dir / "n.wav");
    EXPECT_EQ(f.cd.Count("CR_RipChunk"), 3);
}

TEST_F(TCDRIPRip, VbrHeaderFrameReplacesThePlaceholder) {
    UseCoder();
    coder.SetEnableVBR(LongTrue);
    f.cd.Chunks = Script(9216 * 2, 9216);
    r.RipTrack(1, dir / "v.mp3");
    auto b = ReadBytes(dir / "v.mp3");
    EXPECT_EQ(std::string(b.begin(), b.end()), "INFO" + std::string(36, 'M') + "FLUSH");

    coder.SetWriteVBRHeader(LongFalse);
    f.cd.Chunks = Script(9216 * 2, 9216);
    r.RipTrack(1, dir / "c.mp3");
    b = ReadBytes(dir / "c.mp3");
    EXPECT_EQ(std::string(b.begin(), b.end()), std::string(40, 'M') + "FLUSH");
}

struct CarryRow {
    const char* name;
    int32_t block; // bytes a library block delivers
    int32_t total; // bytes of the range
};

class TCDRIPCarry : public TCDRIPRip, public testing::WithParamInterface<CarryRow> {};

// With Samples = 2304 a chunk is 4608 bytes. Every encoder call during the track takes
// exactly one chunk, each pass encodes exactly the whole chunks held so far, and the
// remainder (less than one chunk, whole stereo frames) is encoded once, as a shorter
// last piece, before the flush: the PCM reaches the encoder in order without a byte
// lost or doubled.
TEST_P(TCDRIPCarry, WholeChunksInOrderThenTheTail) {
    UseCoder();
    const CarryRow row = GetParam();
    f.cd.BufferSize = row.block;
    f.cd.Chunks = Script(row.total, row.block);
    r.RipTrack(1, dir / "carry.mp3");
    const int chunk = 4608;
    const int whole = row.total / chunk;
    const int tail = row.total % chunk / 4 * 4; // whole stereo frames
    const int calls = whole + (tail > 0 ? 1 : 0);
    ASSERT_EQ(lame.Count("beEncodeChunk"), calls);
    for (int i = 0; i < whole; ++i) {
        EXPECT_EQ(lame.ChunkSizes[static_cast<std::size_t>(i)], 2304u);
    }
    if (tail > 0) {
        EXPECT_EQ(lame.ChunkSizes.back(), static_cast<uint32_t>(tail / 2));
    }
    EXPECT_EQ(lame.Pcm, Pattern(static_cast<std::size_t>(whole) * chunk + tail));
    for (std::size_t pass = 0; pass < encodeCallsAfterPass.size(); ++pass) {
        const int64_t delivered =
            std::min<int64_t>(int64_t{row.total}, int64_t{row.block} * int64_t(pass + 1));
        EXPECT_EQ(encodeCallsAfterPass[pass], delivered / chunk) << "after pass " << pass;
    }
    EXPECT_EQ(lame.Calls.back(), "beCloseStream");
    const auto b = ReadBytes(dir / "carry.mp3");
    EXPECT_EQ(b.size(), static_cast<std::size_t>(calls) * 10 + 5);
}

INSTANTIATE_TEST_SUITE_P(Rows, TCDRIPCarry,
                         testing::Values(CarryRow{"smaller_than_a_chunk", 1000, 20000},
                                         CarryRow{"odd_small_blocks", 2351, 30000},
                                         CarryRow{"equal_to_a_chunk", 4608, 4608 * 7},
                                         CarryRow{"exact_multiple", 4608 * 3, 4608 * 9},
                                         CarryRow{"not_a_multiple", 26 * 2352, 26 * 2352 * 5 + 777},
                                         CarryRow{"one_short_of_a_chunk", 4607, 4607 * 4}),
                         RowName);

TEST_F(TCDRIPRip, CarryCountIsZeroAfterAnExactMultiple) {
    UseCoder();
    f.cd.BufferSize = 4608 * 2;
    f.cd.Chunks = {{0, 4608 * 2}, {4, 4608}};
    r.RipTrack(1, dir / "m.mp3");
    // Had any byte stayed behind, the second block would not make one whole chunk.
    EXPECT_EQ(lame.Count("beEncodeChunk"), 3);
    EXPECT_EQ(lame.Pcm, Pattern(4608 * 3));
}

// ---------------------------------------------------------------------------
// Playback

struct PlayRow {
    const char* name;
    std::vector<int32_t> positions;
    std::vector<bool> playing;
};

class TCDRIPIsPlaying : public testing::TestWithParam<PlayRow> {};

TEST_P(TCDRIPIsPlaying, MovedByTenOrMore) {
    Fixture f;
    TCDRIP r = f.Make();
    std::vector<bool> answers;
    for (int32_t p : GetParam().positions) {
        f.cd.PlayPosition = p;
        answers.push_back(r.IsPlaying());
    }
    EXPECT_EQ(answers, GetParam().playing);
    EXPECT_EQ(r.LastPlayPosition, GetParam().positions.back());
}

INSTANTIATE_TEST_SUITE_P(Rows, TCDRIPIsPlaying,
                         testing::Values(PlayRow{"first_call_at_10", {10}, {true}},
                                         PlayRow{"first_call_at_9", {9}, {false}},
                                         PlayRow{"quick_succession", {5000, 5003}, {true, false}},
                                         PlayRow{
                                             "steps_of_75", {100, 175, 250}, {true, true, true}},
                                         PlayRow{"backwards_by_10", {1000, 990}, {true, true}},
                                         PlayRow{"backwards_by_9", {1000, 991}, {true, false}},
                                         PlayRow{"stopped", {300, 300, 300}, {true, false, false}}),
                         RowName);
