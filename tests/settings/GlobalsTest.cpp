#include "SettingsTestEnv.h"

#include "encoding/LameCoder.h"
#include "platform/ProfileIni.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using IniTest::readFile;
using IniTest::writeFile;

namespace {

class SettingsStore : public SettingsTest::PrivateHome {};

// The file a first start writes: all fifteen keys with the initial defaults.
std::string firstStartFile(const std::string& music) {
    return "[System]\n"
           "OutDir=" +
           music +
           "\n"
           "OpenWhenDone=1\n"
           "\n"
           "[MP3]\n"
           "SampleRates=44100\n"
           "BitRates=128\n"
           "MaxBitRates=320\n"
           "Mode=0\n"
           "Quality=0\n"
           "EnableVBR=1\n"
           "WriteVBRHeader=1\n"
           "VBRQuality=5\n"
           "CopyRight=0\n"
           "Original=0\n"
           "CRC=1\n"
           "bPrivate=0\n";
}

void expectInitialDefaults(const TMP3Settings& s, const std::string& music) {
    EXPECT_TRUE(s.ConfirmOverwrite);
    EXPECT_EQ(s.OutDir, music);
    EXPECT_TRUE(s.OpenWhenDone);
    EXPECT_EQ(s.SampleRates, 44100);
    EXPECT_EQ(s.BitRates, 128);
    EXPECT_EQ(s.MaxBitRates, 320);
    EXPECT_EQ(s.Mode, 0);
    EXPECT_EQ(s.Quality, 0);
    EXPECT_EQ(s.EnableVBR, -1);
    EXPECT_EQ(s.WriteVBRHeader, -1);
    EXPECT_EQ(s.VBRQuality, 5);
    EXPECT_EQ(s.CopyRight, 0);
    EXPECT_EQ(s.Original, 0);
    EXPECT_EQ(s.CRC, -1);
    EXPECT_EQ(s.bPrivate, 0);
}

TEST_F(SettingsStore, InitialDefaultsUseTheMusicFolder) {
    expectInitialDefaults(Settings, Home + "/Music");
    std::filesystem::create_directories(Config);
    writeFile(Config + "/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    SetDefaultSettings();
    EXPECT_EQ(Settings.OutDir, Home + "/Musik");
}

TEST_F(SettingsStore, FirstStartWritesAllFourteenKeys) {
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(readFile(SettingsFile), firstStartFile(Home + "/Music"));
    expectInitialDefaults(Settings, Home + "/Music");
    // The file now exists, so the next load reads it.
    EXPECT_TRUE(LoadSettings());
    expectInitialDefaults(Settings, Home + "/Music");
}

TEST_F(SettingsStore, FirstStartCreatesTheConfigurationFolder) {
    const std::string inConfig = Config + "/velmora-ripper.ini";
    Paths::setSettingsFileOverride(inConfig);
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(readFile(inConfig), firstStartFile(Home + "/Music"));
}

TEST_F(SettingsStore, WrittenFileIsPlainIniWithExactNames) {
    Settings.OutDir = "/data/Music 100%";
    Settings.Mode = 3;
    Settings.EnableVBR = 5; // any non-zero value is true and is written "1"
    SaveSettings();
    const auto sections = IniTest::strictRead(readFile(SettingsFile));
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections.at("System").size(), 2u);
    EXPECT_EQ(sections.at("MP3").size(), 12u);
    const std::string dump = IniTest::configParserDump(SettingsFile);
    if (dump.empty())
        GTEST_SKIP() << "python3 is missing";
    EXPECT_EQ(dump, "System|OutDir=/data/Music 100%\nSystem|OpenWhenDone=1\n"
                    "MP3|SampleRates=44100\nMP3|BitRates=128\nMP3|MaxBitRates=320\n"
                    "MP3|Mode=3\nMP3|Quality=0\nMP3|EnableVBR=1\nMP3|WriteVBRHeader=1\n"
                    "MP3|VBRQuality=5\nMP3|CopyRight=0\nMP3|Original=0\nMP3|CRC=1\n"
                    "MP3|bPrivate=0\n");
}

TEST_F(SettingsStore, OnlySystemSectionTurnsVbrOff) {
    writeFile(SettingsFile, "[System]\nOutDir=/x\nOpenWhenDone=0\n");
    // Every MP3 field starts away from its default, so that a field the load leaves
    // alone, or fills with a wrong default, shows.
    Settings.SampleRates = 1;
    Settings.BitRates = 2;
    Settings.MaxBitRates = 3;
    Settings.Mode = 3;
    Settings.Quality = 7;
    Settings.EnableVBR = 5;
    Settings.WriteVBRHeader = 6;
    Settings.VBRQuality = 9;
    Settings.CopyRight = -1;
    Settings.Original = -1;
    Settings.CRC = 0;
    Settings.bPrivate = -1;
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, "/x");
    EXPECT_FALSE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.SampleRates, 44100);
    EXPECT_EQ(Settings.BitRates, 128);
    EXPECT_EQ(Settings.MaxBitRates, 320);
    EXPECT_EQ(Settings.Mode, 0);
    EXPECT_EQ(Settings.Quality, 0);
    EXPECT_EQ(Settings.EnableVBR, 0);
    EXPECT_EQ(Settings.WriteVBRHeader, 0);
    EXPECT_EQ(Settings.VBRQuality, 5);
    EXPECT_EQ(Settings.CopyRight, 0);
    EXPECT_EQ(Settings.Original, 0);
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(Settings.bPrivate, 0);
}

TEST_F(SettingsStore, LoadLeavesConfirmOverwriteAlone) {
    writeFile(SettingsFile, "[System]\nConfirmOverwrite=1\n");
    Settings.ConfirmOverwrite = false;
    EXPECT_TRUE(LoadSettings());
    EXPECT_FALSE(Settings.ConfirmOverwrite);
    SaveSettings();
    // The key the store does not own stays, and no key of its own is added for it.
    EXPECT_EQ(readFile(SettingsFile).find("ConfirmOverwrite=1\n"), 9u);
    EXPECT_EQ(readFile(SettingsFile).find("ConfirmOverwrite=0"), std::string::npos);
}

TEST_F(SettingsStore, DefaultButtonKeepsConfirmOverwrite) {
    Settings.ConfirmOverwrite = false;
    Settings.BitRates = 96;
    SetDefaultSettingsKeepConfirm();
    EXPECT_FALSE(Settings.ConfirmOverwrite);
    EXPECT_EQ(Settings.BitRates, 128);
    SetDefaultSettings();
    EXPECT_TRUE(Settings.ConfirmOverwrite);
}

// ---- single values: what the file holds, what the record gets, what is saved -------

struct ValueCase {
    const char* name;
    const char* fileText; // the settings file
    int32_t TMP3Settings::*field;
    int32_t expected;
    const char* savedLine; // a line the next save writes
};

class SettingsValue : public SettingsStore, public testing::WithParamInterface<ValueCase> {};

TEST_P(SettingsValue, LoadsAndSaves) {
    const ValueCase& c = GetParam();
    writeFile(SettingsFile, c.fileText);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.*c.field, c.expected);
    SaveSettings();
    EXPECT_NE(readFile(SettingsFile).find(std::string("\n") + c.savedLine + "\n"),
              std::string::npos)
        << readFile(SettingsFile);
}

const ValueCase ValueCases[] = {
    {"hex_sample_rate", "[MP3]\nSampleRates=0x5622\n", &TMP3Settings::SampleRates, 22050,
     "SampleRates=22050"},
    {"no_number", "[MP3]\nSampleRates=fast\n", &TMP3Settings::SampleRates, 44100,
     "SampleRates=44100"},
    {"hex_prefix_without_digits", "[MP3]\nSampleRates=0x\n", &TMP3Settings::SampleRates, 44100,
     "SampleRates=44100"},
    {"out_of_range", "[MP3]\nBitRates=4294967296\n", &TMP3Settings::BitRates, 128, "BitRates=128"},
    {"empty_number", "[MP3]\nBitRates=\n", &TMP3Settings::BitRates, 128, "BitRates=128"},
    {"negative_kept", "[MP3]\nVBRQuality=-3\n", &TMP3Settings::VBRQuality, -3, "VBRQuality=-3"},
    {"crc_seven_is_true", "[MP3]\nCRC=7\n", &TMP3Settings::CRC, -1, "CRC=1"},
    {"crc_hex_zero_is_false", "[MP3]\nCRC=0x0\n", &TMP3Settings::CRC, 0, "CRC=0"},
    {"crc_no_number_is_default", "[MP3]\nCRC=yes\n", &TMP3Settings::CRC, -1, "CRC=1"},
    {"vbr_negative_is_true", "[MP3]\nEnableVBR=-1\n", &TMP3Settings::EnableVBR, -1, "EnableVBR=1"},
    {"mode_nine_kept", "[MP3]\nMode=9\n", &TMP3Settings::Mode, 9, "Mode=9"},
    {"key_in_lower_case", "[mp3]\nmaxbitrates=160\n", &TMP3Settings::MaxBitRates, 160,
     "MaxBitRates=160"},
    {"first_of_two_keys", "[MP3]\nQuality=2\nQuality=3\n", &TMP3Settings::Quality, 2, "Quality=2"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsValue, testing::ValuesIn(ValueCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SettingsStore, EmptyOpenWhenDoneIsTrue) {
    writeFile(SettingsFile, "[System]\nOpenWhenDone=\n");
    Settings.OpenWhenDone = false;
    EXPECT_TRUE(LoadSettings());
    EXPECT_TRUE(Settings.OpenWhenDone);
}

TEST_F(SettingsStore, OutDirFoundWhateverTheKeyCase) {
    writeFile(SettingsFile, "[SYSTEM]\noutdir=/srv/rips\n");
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, "/srv/rips");
}

TEST_F(SettingsStore, OutDirWithWindows1252Bytes) {
    writeFile(SettingsFile, "[System]\nOutDir=/m/Bj\xF6rk\n");
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, "/m/Bj\xC3\xB6rk");
}

// ---- refused writes ----------------------------------------------------------------

TEST_F(SettingsStore, ReadOnlyFileRaisesAndKeepsTheOldFile) {
    const std::string before = "[System]\nOutDir=/old\n";
    writeFile(SettingsFile, before);
    ::chmod(SettingsFile.c_str(), 0444);
    Settings.OutDir = "/new";
    try {
        SaveSettings();
        FAIL() << "no error";
    } catch (const ESettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + SettingsFile);
    }
    EXPECT_EQ(readFile(SettingsFile), before);
    // Loading a read-only file needs no write.
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, "/old");
}

TEST_F(SettingsStore, FirstStartInAnUnwritablePlaceRaises) {
    writeFile(Folder.file("blocker"), "a file where a folder should be");
    const std::string file = Folder.file("blocker/velmora-ripper.ini");
    Paths::setSettingsFileOverride(file);
    EXPECT_THROW(
        {
            try {
                LoadSettings();
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
                throw;
            }
        },
        ESettingsWriteError);
    expectInitialDefaults(Settings, Home + "/Music");
}

// ---- bad files: defaults where unusable, foreign lines kept ------------------------

std::string pseudoRandomBytes(std::size_t n) {
    std::string bytes;
    uint32_t x = 99;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes += static_cast<char>(x >> 24);
    }
    return bytes;
}

struct BadFileCase {
    const char* name;
    std::string text;
    std::string outDir;    // expected OutDir; "~" stands for the music folder
    int32_t sampleRates;   // expected SampleRates
    int32_t enableVBR;     // expected EnableVBR
    std::string keptAfter; // text that a save must keep
};

class BadSettingsFile : public SettingsStore, public testing::WithParamInterface<BadFileCase> {};

TEST_P(BadSettingsFile, LoadsDefaultsAndSaveKeepsForeignLines) {
    const BadFileCase& c = GetParam();
    writeFile(SettingsFile, c.text);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, c.outDir == "~" ? Home + "/Music" : c.outDir);
    EXPECT_EQ(Settings.SampleRates, c.sampleRates);
    EXPECT_EQ(Settings.EnableVBR, c.enableVBR);
    SaveSettings();
    const std::string after = readFile(SettingsFile);
    EXPECT_NE(after.find(c.keptAfter), std::string::npos);
    // The saved values read back as the record holds them.
    const TMP3Settings saved = Settings;
    SetDefaultSettings();
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.OutDir, saved.OutDir);
    EXPECT_EQ(Settings.SampleRates, saved.SampleRates);
    EXPECT_EQ(Settings.EnableVBR, saved.EnableVBR);
    EXPECT_EQ(Settings.bPrivate, saved.bPrivate);
}

const std::string Garbage = pseudoRandomBytes(5000);
const std::string LongLine(100000, 'q');

const BadFileCase BadFileCases[] = {
    {"binary_garbage", Garbage, "~", 44100, 0, Garbage},
    {"garbage_then_sections", Garbage + "\n[MP3]\nSampleRates=32000\nEnableVBR=1\n", "~", 32000, -1,
     Garbage},
    {"hundred_thousand_char_line",
     "[System]\n" + LongLine + "\nOutDir=/a\n[MP3]\nSampleRates=" + LongLine + "\n", "/a", 44100, 0,
     "\n" + LongLine + "\n"},
    {"lines_without_equals", "[MP3]\njust words\nSampleRates 22050\n", "~", 44100, 0,
     "just words\nSampleRates 22050\n"},
    {"keys_before_first_section", "OutDir=/nope\nSampleRates=8000\n[MP3]\nEnableVBR=1\n", "~",
     44100, -1, "OutDir=/nope\nSampleRates=8000\n[MP3]\n"},
    {"duplicate_sections_and_keys",
     "[System]\nOutDir=/first\nOutDir=/second\n[MP3]\nSampleRates=32000\n[System]\n"
     "OutDir=/third\n",
     "/first", 32000, 0, "[System]\nOutDir=/third\n"},
    {"byte_order_mark_and_crlf",
     "\xEF\xBB\xBF[System]\r\nOutDir=/bom\r\n; note\r\n[MP3]\r\nSampleRates=22050\r\n", "/bom",
     22050, 0, "\xEF\xBB\xBF[System]\r\nOutDir=/bom\r\n"},
    {"empty_values", "[System]\nOutDir=\n[MP3]\nSampleRates=\nEnableVBR=\n", "", 44100, 0,
     "[System]\nOutDir=\n"},
    {"numbers_out_of_range", "[MP3]\nSampleRates=99999999999\nEnableVBR=-99999999999\n", "~", 44100,
     0, "[MP3]\n"},
    {"hex_prefix_without_digits", "[MP3]\nSampleRates=0x\nEnableVBR=0X\n", "~", 44100, 0,
     "[MP3]\n"},
    {"comments_and_other_sections", "; mine\n[Window]\nLeft=10\n[MP3]\n# hash comment\n", "~",
     44100, 0, "; mine\n[Window]\nLeft=10\n[MP3]\nSampleRates=44100\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BadSettingsFile, testing::ValuesIn(BadFileCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- TwoDigits ---------------------------------------------------------------------

struct TwoDigitsCase {
    int value;
    const char* text;
};

class TwoDigitsRule : public testing::TestWithParam<TwoDigitsCase> {};

TEST_P(TwoDigitsRule, PadsToTwo) {
    EXPECT_EQ(TwoDigits(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, TwoDigitsRule,
                         testing::Values(TwoDigitsCase{0, "00"}, TwoDigitsCase{7, "07"},
                                         TwoDigitsCase{10, "10"}, TwoDigitsCase{99, "99"},
                                         TwoDigitsCase{123, "123"}, TwoDigitsCase{65535, "65535"}),
                         [](const auto& row) { return std::string(row.param.text); });

} // namespace

// ---- a settings file that is there but cannot be read -------------------------------

// Run in a child that is an ordinary user (root reads every file): the read failure is
// raised once with its reason, and the settings stay the defaults.
TEST_F(SettingsStore, UnreadableFileIsSaidAndTheDefaultsStay) {
    writeFile(SettingsFile, "[System]\nOutDir=/elsewhere\n[MP3]\nBitRates=64\n");
    ::chmod(SettingsFile.c_str(), 0);
    ::chmod(Folder.path().c_str(), 0755);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        SetDefaultSettings();
        try {
            LoadSettings();
            ::_exit(1);
        } catch (const ESettingsReadError& e) {
            if (std::string(e.what()) != "Unable to read " + SettingsFile + ": Permission denied")
                ::_exit(2);
        }
        ::_exit(Settings.OutDir == Home + "/Music" && Settings.BitRates == 128 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 1: no error; 2: another message; 3: values from the file; 10: cannot drop root.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- settings the encoder could not take as they are --------------------------------

struct MendRow {
    const char* name;
    int32_t sampleRate;
    int32_t bitRate;
    int32_t enableVBR;
    int32_t quality;
    uint32_t usedBitRate;
    MPEG_QUALITY usedQuality;
    std::size_t notes;
};

class MendedSettings : public SettingsStore, public testing::WithParamInterface<MendRow> {};

TEST_P(MendedSettings, NearestAllowedValues) {
    const MendRow row = GetParam();
    Settings.SampleRates = row.sampleRate;
    Settings.BitRates = row.bitRate;
    Settings.EnableVBR = row.enableVBR;
    Settings.Quality = row.quality;
    TLameCoder coder;
    const std::vector<std::string> notes = ApplyMP3Settings(Settings, coder);
    EXPECT_EQ(coder.Bitrate(), row.usedBitRate);
    EXPECT_EQ(coder.Quality(), row.usedQuality);
    EXPECT_EQ(coder.OutSampleRate(), static_cast<uint32_t>(row.sampleRate));
    EXPECT_EQ(notes.size(), row.notes);
    // The encoder takes what is left.
    EXPECT_EQ(coder.InitStream(), BE_OK) << (notes.empty() ? "" : notes[0]);
    coder.CloseStream();
}

// MPEG-2 (below 32000 Hz) allows 8 to 160 kbit/s, MPEG-1 32 to 320 kbit/s.
INSTANTIATE_TEST_SUITE_P(
    Rows, MendedSettings,
    testing::Values(MendRow{"mpeg2_320", 22050, 320, 0, 0, 160, NORMAL_QUALITY, 1},
                    MendRow{"mpeg2_256", 22050, 256, 0, 0, 160, NORMAL_QUALITY, 1},
                    MendRow{"mpeg2_192", 24000, 192, 0, 0, 160, NORMAL_QUALITY, 1},
                    MendRow{"mpeg1_8", 44100, 8, 0, 0, 32, NORMAL_QUALITY, 1},
                    MendRow{"mpeg1_144", 48000, 144, 0, 0, 128, NORMAL_QUALITY, 1},
                    MendRow{"allowed_kept", 22050, 144, 0, 0, 144, NORMAL_QUALITY, 0},
                    MendRow{"vbr_leaves_the_rate", 22050, 128, -1, 0, 128, NORMAL_QUALITY, 0},
                    MendRow{"quality_7", 44100, 128, 0, 7, 128, VOICE_QUALITY, 1},
                    // The low byte counts: -2 is 254, 0x101 is 1.
                    MendRow{"quality_negative", 44100, 128, 0, -2, 128, VOICE_QUALITY, 1},
                    MendRow{"quality_low_byte", 44100, 128, 0, 0x101, 128, LOW_QUALITY, 0},
                    MendRow{"both", 16000, 320, 0, 9, 160, VOICE_QUALITY, 2}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SettingsStore, RefusedSettingIsNamed) {
    BE_CONFIG_RECORD c{};
    c.outSampleRate = 22050;
    c.bitrate = 320;
    c.mode = BE_MODE_STEREO;
    c.quality = BE_QUALITY_NORMAL;
    EXPECT_EQ(RefusedMP3Setting(c), "bit rate 320 kbit/s is not allowed at 22050 Hz");
    c.bitrate = 160;
    EXPECT_EQ(RefusedMP3Setting(c), "");
    c.outSampleRate = 23000;
    EXPECT_EQ(RefusedMP3Setting(c), "sample rate 23000 Hz is not an MP3 sample rate");
    c.outSampleRate = 22050;
    c.quality = 7;
    EXPECT_EQ(RefusedMP3Setting(c), "quality 7 is out of range (0 to 3)");
}
namespace {

// The [System] keys beyond the fourteen: a file without them reads as before, and each
// comes back from a save only when it was set.
struct ProofKeysCase {
    std::string Name;
    std::string System; // lines in [System]
    std::optional<int32_t> ReadOffset;
    bool AccurateRip;
    bool Lookup;
    bool First = true;      // AccurateRipFirst
    int32_t Confidence = 2; // AccurateRipConfidence
};

class SettingsProofKeys : public SettingsTest::PrivateHome,
                          public testing::WithParamInterface<ProofKeysCase> {};

TEST_P(SettingsProofKeys, ReadAndKeptBySave) {
    const ProofKeysCase& c = GetParam();
    writeFile(SettingsFile, "[System]\nOutDir=/x\n" + c.System);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.ReadOffset, c.ReadOffset);
    EXPECT_EQ(Settings.AccurateRip, c.AccurateRip);
    EXPECT_EQ(Settings.Lookup, c.Lookup);
    EXPECT_EQ(Settings.AccurateRipFirst, c.First);
    EXPECT_EQ(Settings.AccurateRipConfidence, c.Confidence);
    SaveSettings();
    SetDefaultSettings();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.ReadOffset, c.ReadOffset);
    EXPECT_EQ(Settings.AccurateRip, c.AccurateRip);
    EXPECT_EQ(Settings.Lookup, c.Lookup);
    EXPECT_EQ(Settings.AccurateRipFirst, c.First);
    EXPECT_EQ(Settings.AccurateRipConfidence, c.Confidence);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsProofKeys,
    testing::Values(
        ProofKeysCase{"Missing", "", std::nullopt, true, true},
        ProofKeysCase{"NegativeOffset", "ReadOffset=-472\n", -472, true, true},
        ProofKeysCase{"PositiveOffset", "ReadOffset=+667\n", 667, true, true},
        ProofKeysCase{"ZeroOffset", "ReadOffset=0\n", 0, true, true},
        ProofKeysCase{"UnreadableOffset", "ReadOffset=abc\n", std::nullopt, true, true},
        ProofKeysCase{"AccurateRipOff", "AccurateRip=0\n", std::nullopt, false, true},
        ProofKeysCase{"LookupOff", "Lookup=0\nAccurateRip=1\n", std::nullopt, true, false},
        ProofKeysCase{"SecureOnly", "AccurateRipFirst=0\n", std::nullopt, true, true, false},
        ProofKeysCase{"ConfidenceOne", "AccurateRipConfidence=1\n", std::nullopt, true, true, true,
                      1},
        ProofKeysCase{"ConfidenceHighest", "AccurateRipConfidence=1000\n", std::nullopt, true, true,
                      true, 1000},
        ProofKeysCase{"ConfidenceZeroIsOne", "AccurateRipConfidence=0\n", std::nullopt, true, true,
                      true, 1},
        ProofKeysCase{"ConfidenceAboveIsHighest", "AccurateRipConfidence=1001\n", std::nullopt,
                      true, true, true, 1000}),
    [](const testing::TestParamInfo<ProofKeysCase>& row) { return row.param.Name; });

TEST_F(SettingsStore, DefaultButtonKeepsTheKeysItHasNoControlFor) {
    Settings.ReadOffset = 6;
    Settings.AccurateRip = false;
    Settings.Lookup = false;
    Settings.AccurateRipFirst = false;
    Settings.AccurateRipConfidence = 7;
    SetDefaultSettingsKeepConfirm();
    EXPECT_EQ(Settings.ReadOffset, std::optional<int32_t>(6));
    EXPECT_FALSE(Settings.AccurateRip);
    EXPECT_FALSE(Settings.Lookup);
    EXPECT_FALSE(Settings.AccurateRipFirst);
    EXPECT_EQ(Settings.AccurateRipConfidence, 7);
}

} // namespace

namespace {

// The FLAC, Opus and ReplayGain keys: read from their sections, written back only when
// they differ from their defaults or the file held them already.
struct FormatKeysCase {
    std::string Name;
    std::string Lines; // sections and keys after [System]
    int32_t FlacCompression;
    int32_t OpusBitrate;
    bool ReplayGain;
};

class SettingsFormatKeys : public SettingsTest::PrivateHome,
                           public testing::WithParamInterface<FormatKeysCase> {};

TEST_P(SettingsFormatKeys, ReadAndKeptBySave) {
    const FormatKeysCase& c = GetParam();
    writeFile(SettingsFile, "[System]\nOutDir=/x\n" + c.Lines);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.FlacCompression, c.FlacCompression);
    EXPECT_EQ(Settings.OpusBitrate, c.OpusBitrate);
    EXPECT_EQ(Settings.ReplayGain, c.ReplayGain);
    SaveSettings();
    SetDefaultSettings();
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.FlacCompression, c.FlacCompression);
    EXPECT_EQ(Settings.OpusBitrate, c.OpusBitrate);
    EXPECT_EQ(Settings.ReplayGain, c.ReplayGain);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsFormatKeys,
    testing::Values(
        FormatKeysCase{"Missing", "", 8, 160, true},
        FormatKeysCase{"FlacLevel5", "[FLAC]\nCompression=5\n", 5, 160, true},
        FormatKeysCase{"OpusBitrate96", "[Opus]\nBitrate=96\n", 8, 96, true},
        FormatKeysCase{"ReplayGainOff", "ReplayGain=0\n", 8, 160, false},
        FormatKeysCase{"Unreadable", "[FLAC]\nCompression=x\n[Opus]\nBitrate=\n", 8, 160, true},
        FormatKeysCase{"All", "ReplayGain=0\n[Opus]\nBitrate=64\n[FLAC]\nCompression=0\n", 0, 64,
                       false}),
    [](const testing::TestParamInfo<FormatKeysCase>& row) { return row.param.Name; });

TEST_F(SettingsStore, FormatKeysAreWrittenOnlyWhenTheyDifferFromTheDefaults) {
    SetDefaultSettings();
    SaveSettings();
    const std::string plain = readFile(SettingsFile);
    EXPECT_EQ(plain.find("[FLAC]"), std::string::npos);
    EXPECT_EQ(plain.find("[Opus]"), std::string::npos);
    EXPECT_EQ(plain.find("ReplayGain"), std::string::npos);
    Settings.FlacCompression = 3;
    Settings.OpusBitrate = 128;
    Settings.ReplayGain = false;
    SaveSettings();
    const std::string set = readFile(SettingsFile);
    EXPECT_NE(set.find("[FLAC]\nCompression=3\n"), std::string::npos) << set;
    EXPECT_NE(set.find("[Opus]\nBitrate=128\n"), std::string::npos) << set;
    EXPECT_NE(set.find("ReplayGain=0\n"), std::string::npos) << set;
    // Set back to the defaults: the keys the file holds now say so.
    SetDefaultSettings();
    SaveSettings();
    SetDefaultSettings();
    Settings.FlacCompression = 1;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.FlacCompression, 8);
    EXPECT_EQ(Settings.OpusBitrate, 160);
    EXPECT_TRUE(Settings.ReplayGain);
}

TEST_F(SettingsStore, DefaultButtonResetsTheFormatKeys) {
    Settings.FlacCompression = 2;
    Settings.OpusBitrate = 64;
    Settings.ReplayGain = false;
    SetDefaultSettingsKeepConfirm();
    EXPECT_EQ(Settings.FlacCompression, 8);
    EXPECT_EQ(Settings.OpusBitrate, 160);
    EXPECT_TRUE(Settings.ReplayGain);
}

struct FormatMendRow {
    const char* name;
    int32_t flac, opus;
    uint32_t channels;
    int32_t flacUsed, opusUsed;
    std::size_t notes;
};

class FormatMend : public testing::TestWithParam<FormatMendRow> {};

TEST_P(FormatMend, ClampedAndTold) {
    const FormatMendRow& r = GetParam();
    TMP3Settings s;
    s.FlacCompression = r.flac;
    s.OpusBitrate = r.opus;
    std::vector<std::string> notes;
    EXPECT_EQ(FlacCompressionOf(s, notes), r.flacUsed);
    EXPECT_EQ(OpusBitrateOf(s, r.channels, notes), r.opusUsed);
    EXPECT_EQ(notes.size(), r.notes);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatMend,
                         testing::Values(FormatMendRow{"defaults", 8, 160, 2, 8, 160, 0},
                                         FormatMendRow{"lowest", 0, 6, 1, 0, 6, 0},
                                         FormatMendRow{"below", -1, 5, 2, 0, 6, 2},
                                         FormatMendRow{"stereo_top", 8, 512, 2, 8, 512, 0},
                                         FormatMendRow{"above", 9, 513, 2, 8, 512, 2},
                                         FormatMendRow{"mono_top", 8, 256, 1, 8, 256, 0},
                                         FormatMendRow{"mono_above", 8, 257, 1, 8, 256, 1}),
                         [](const testing::TestParamInfo<FormatMendRow>& row) {
                             return std::string(row.param.name);
                         });

TEST(FormatMendText, SaysWhatIsUsed) {
    TMP3Settings s;
    s.FlacCompression = 12;
    s.OpusBitrate = 600;
    std::vector<std::string> notes;
    FlacCompressionOf(s, notes);
    OpusBitrateOf(s, 2, notes);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "FLAC compression level 12 is out of range (0 to 8); using 8");
    EXPECT_EQ(notes[1], "Opus bit rate 600 kbit/s is out of range (6 to 512); using 512 kbit/s");
}

} // namespace
