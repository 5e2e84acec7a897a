// velmora-rip's pieces: the command line, file names, titles and the progress line.

#include "FakeLibs.h"
#include "TestDir.h"

#include "DamageReport.h"
#include "ProgressLine.h"
#include "RipArgs.h"
#include "RipNames.h"

#include "cdaccess/CDRIP.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace riptool;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

bool Parse(std::vector<const char*> argv, Arguments& args, std::string& error) {
    argv.insert(argv.begin(), "velmora-rip");
    return ParseArguments(static_cast<int>(argv.size()), argv.data(), args, error);
}

} // namespace

TEST(RipArgs, FullRipCommand) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(Parse({"rip", "--drive", "2", "--tracks=1,3-5", "--format", "wav", "--out",
                       "/tmp/o", "disc.cue", "b.cue"},
                      a, error))
        << error;
    EXPECT_EQ(a.command, Command::Rip);
    EXPECT_EQ(a.drive, 2);
    EXPECT_THAT(a.tracks, ElementsAre(1, 3, 4, 5));
    EXPECT_EQ(a.format, Format::Wav);
    EXPECT_EQ(a.outDir, "/tmp/o");
    EXPECT_THAT(a.images, ElementsAre("disc.cue", "b.cue"));
}

TEST(RipArgs, EveryFormat) {
    const std::pair<const char*, Format> formats[] = {
        {"wav", Format::Wav}, {"mp3", Format::Mp3}, {"flac", Format::Flac}, {"opus", Format::Opus}};
    for (const auto& [word, format] : formats) {
        Arguments a;
        std::string error;
        ASSERT_TRUE(Parse({"rip", "--format", word}, a, error)) << error;
        EXPECT_EQ(a.format, format) << word;
    }
}

TEST(RipArgs, JobsDefaultToTheCoresAndTakeANumber) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(Parse({"rip"}, a, error)) << error;
    EXPECT_EQ(a.jobs, 0); // one encoder per core
    ASSERT_TRUE(Parse({"rip", "--jobs=3"}, a, error)) << error;
    EXPECT_EQ(a.jobs, 3);
    ASSERT_TRUE(Parse({"rip", "--jobs", "1"}, a, error)) << error;
    EXPECT_EQ(a.jobs, 1);
}

TEST(RipArgs, TitlesAndLookup) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(Parse({"rip", "--artist", "Some Band", "--album=An = Album", "--title", "3=A=B",
                       "--title=12=Zwölf", "--title", "3=Drei", "--no-lookup", "d.cue"},
                      a, error))
        << error;
    EXPECT_EQ(a.titles.Artist, "Some Band");
    EXPECT_EQ(a.titles.Album, "An = Album");
    // The last --title of a track wins; the text may hold "=".
    EXPECT_EQ(a.titles.Titles.size(), 2u);
    EXPECT_EQ(a.titles.Titles.at(3), "Drei");
    EXPECT_EQ(a.titles.Titles.at(12), "Zwölf");
    EXPECT_TRUE(a.noLookup);
    EXPECT_THAT(a.images, ElementsAre("d.cue"));
    ASSERT_TRUE(Parse({"tracks", "--title", "1=A=B"}, a, error));
    EXPECT_EQ(a.titles.Titles.at(1), "A=B");
    EXPECT_FALSE(a.noLookup);
    EXPECT_FALSE(a.hiddenTrack);
    EXPECT_EQ(a.hiddenTitle, "");
}

// Track 0 is the hidden track before track 1: its title is kept apart from the disc's.
TEST(RipArgs, HiddenTrack) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(
        Parse({"rip", "--hidden-track", "--title", "0=Intro", "--title", "1=One"}, a, error))
        << error;
    EXPECT_TRUE(a.hiddenTrack);
    EXPECT_EQ(a.hiddenTitle, "Intro");
    EXPECT_EQ(a.titles.Titles.size(), 1u);
    EXPECT_EQ(a.titles.Titles.at(1), "One");
}

TEST(RipArgs, Defaults) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(Parse({"rip"}, a, error));
    EXPECT_EQ(a.format, Format::Mp3);
    EXPECT_FALSE(a.drive.has_value());
    EXPECT_FALSE(a.outDir.has_value());
    EXPECT_FALSE(a.overwrite);
    EXPECT_TRUE(a.tracks.empty());
    ASSERT_TRUE(Parse({"rip", "--overwrite", "--out=--odd"}, a, error));
    EXPECT_TRUE(a.overwrite);
    EXPECT_EQ(a.outDir, "--odd"); // an option-like folder can still be given inline
    ASSERT_TRUE(Parse({"--help", "rip", "--bogus"}, a, error));
    EXPECT_EQ(a.command, Command::Help);
    ASSERT_TRUE(Parse({"--version"}, a, error));
    EXPECT_EQ(a.command, Command::Version);
}

struct BadRow {
    const char* name;
    std::vector<const char*> argv;
    const char* message;
};

class RipArgsBad : public testing::TestWithParam<BadRow> {};

TEST_P(RipArgsBad, OneLineMessage) {
    Arguments a;
    std::string error;
    EXPECT_FALSE(Parse(GetParam().argv, a, error));
    EXPECT_THAT(error, HasSubstr(GetParam().message));
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RipArgsBad,
    testing::Values(
        BadRow{"nothing", {}, "no command given"},
        BadRow{"unknown_command", {"burn"}, "unknown command: burn"},
        BadRow{"unknown_option", {"rip", "--speed", "4"}, "unknown option: --speed"},
        BadRow{"missing_value", {"rip", "--drive"}, "--drive needs a value"},
        BadRow{"drive_not_a_number", {"tracks", "--drive", "x"}, "bad drive number"},
        BadRow{"negative_drive", {"tracks", "--drive", "-1"}, "bad drive number"},
        BadRow{"format", {"rip", "--format", "ogg"}, "bad format: ogg"},
        BadRow{"format_in_capitals", {"rip", "--format", "FLAC"}, "bad format: FLAC"},
        BadRow{"jobs_zero", {"rip", "--jobs", "0"}, "bad number of jobs: 0"},
        BadRow{"jobs_not_a_number", {"rip", "--jobs", "many"}, "bad number of jobs: many"},
        BadRow{"jobs_missing", {"rip", "--jobs"}, "--jobs needs a value"},
        BadRow{"track_zero", {"rip", "--tracks", "0"}, "bad track list: 0"},
        BadRow{"track_100", {"rip", "--tracks", "100"}, "bad track list"},
        BadRow{"range_down", {"rip", "--tracks", "5-3"}, "bad track list"},
        BadRow{"empty_item", {"rip", "--tracks", "1,,2"}, "bad track list"},
        BadRow{"trailing_comma", {"rip", "--tracks", "1,"}, "bad track list"},
        BadRow{"junk", {"rip", "--tracks", "1x"}, "bad track list"},
        BadRow{"format_takes_no_option",
               {"rip", "--format", "--out", "/tmp/o"},
               "option --format needs a value"},
        BadRow{"out_takes_no_option", {"rip", "--out", "--overwrite"}, "--out needs a value"},
        BadRow{"empty_out", {"rip", "--out", ""}, "output folder (--out) must not be empty"},
        BadRow{"blank_out", {"rip", "--out", " \t"}, "output folder (--out) must not be empty"},
        BadRow{"empty_out_inline", {"rip", "--out="}, "must not be empty"},
        BadRow{"title_without_number", {"rip", "--title", "Song"}, "bad title: Song"},
        BadRow{"title_track_minus_one", {"rip", "--title", "-1=Song"}, "bad title"},
        BadRow{"title_track_100", {"rip", "--title", "100=Song"}, "bad title"},
        BadRow{"title_empty", {"rip", "--title", "2="}, "bad title"},
        BadRow{"title_no_value", {"rip", "--title"}, "--title needs a value"},
        BadRow{"artist_no_value", {"tracks", "--artist"}, "--artist needs a value"}),
    RowName);

TEST(RipArgs, TrackListsKeepOrderAndDropRepeats) {
    std::vector<int> t;
    ASSERT_TRUE(ParseTrackList("5,1-3,2,99", t));
    EXPECT_THAT(t, ElementsAre(5, 1, 2, 3, 99));
    ASSERT_TRUE(ParseTrackList("all", t));
    EXPECT_TRUE(t.empty());
}

TEST(RipNames, TitlesFromCdplayerIni) {
    TestDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1);
    FakeCdRip cd;
    cd.AddDrive({0, 20000, 40000, 60000}); // disc key 0C554B
    TCDRIP ripper(FakeCdRip::Table);
    EXPECT_THAT(TrackTitles(ripper), ElementsAre("Track01", "Track02", "Track03"));
    {
        std::ofstream ini(dir / "cdplayer.ini");
        ini << "[0C554B]\nartist=Someone\n0=Intro\n1=   \n";
    }
    // A blank stored title keeps the default name, and so does a track beyond the
    // stored list.
    EXPECT_THAT(TrackTitles(ripper), ElementsAre("Intro", "Track02", "Track03"));
    ::unsetenv("XDG_CONFIG_HOME");
}

struct DurationRow {
    double seconds;
    const char* text;
};

class ProgressDuration : public testing::TestWithParam<DurationRow> {};

TEST_P(ProgressDuration, MinutesAndSeconds) {
    EXPECT_EQ(FormatDuration(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgressDuration,
                         testing::Values(DurationRow{0, "0:00"}, DurationRow{59.4, "0:59"},
                                         DurationRow{59.6, "1:00"}, DurationRow{75, "1:15"},
                                         DurationRow{3601, "60:01"}, DurationRow{-3, "0:00"}));

TEST(ProgressFiguresTest, SpeedAndTimeLeft) {
    // 40% of a 300-second track in 6 seconds: 120 s of audio, 20x, 9 s to go.
    const ProgressFigures f{40, 300, 6};
    EXPECT_DOUBLE_EQ(Speed(f), 20.0);
    EXPECT_DOUBLE_EQ(TimeLeft(f), 9.0);
    EXPECT_LT(TimeLeft(ProgressFigures{0, 300, 2}), 0);
    EXPECT_EQ(Speed(ProgressFigures{10, 300, 0}), 0);
}

TEST(ProgressFiguresTest, BarLineFitsAndShowsTheFigures) {
    const std::string line = BarLine("Track01", ProgressFigures{50, 300, 5}, 80);
    EXPECT_LE(line.size(), 79u);
    EXPECT_THAT(line, HasSubstr("Track01 ["));
    EXPECT_THAT(line, HasSubstr(" 50%"));
    EXPECT_THAT(line, HasSubstr("30.0x"));
    EXPECT_THAT(line, HasSubstr("0:05 left"));
    const std::size_t open = line.find('[');
    const std::size_t close = line.find(']');
    const std::string bar = line.substr(open + 1, close - open - 1);
    EXPECT_EQ(std::count(bar.begin(), bar.end(), '#'), static_cast<long>(bar.size() / 2));
    EXPECT_THAT(BarLine("T", ProgressFigures{0, 10, 0}, 80), HasSubstr("-:-- left"));
}

// ---------------------------------------------------------------------------
// The damage report

TEST(DamageReport, RangesAreSortedAndJoined) {
    const auto r =
        DamagedRanges({"700 703", "704 704", "10 12", "junk", "9 3", "800 805", "802 803"});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].first, 10u);
    EXPECT_EQ(r[0].last, 12u);
    EXPECT_EQ(r[1].first, 700u);
    EXPECT_EQ(r[1].last, 704u);
    EXPECT_EQ(r[2].first, 800u);
    EXPECT_EQ(r[2].last, 805u);
}

struct TimeRow {
    const char* name;
    uint32_t sector;
    int32_t start;
    const char* time;
};

class DamageTimes : public testing::TestWithParam<TimeRow> {};

TEST_P(DamageTimes, MinutesSecondsAndSectors) {
    EXPECT_EQ(TrackTime(GetParam().sector, GetParam().start), GetParam().time);
}

INSTANTIATE_TEST_SUITE_P(Rows, DamageTimes,
                         testing::Values(TimeRow{"track_start", 1000, 1000, "0:00.00"},
                                         // 725 sectors in: 9 s (675) and 50 sectors
                                         TimeRow{"inside", 1725, 1000, "0:09.50"},
                                         // 4500 sectors a minute; 4574 = 60 s + 74 sectors
                                         TimeRow{"minute", 4574, 0, "1:00.74"},
                                         TimeRow{"before_start", 5, 10, "0:00.00"}),
                         RowName);

TEST(DamageReport, LineNamesCountRangesAndTimes) {
    EXPECT_EQ(DamageLine(4, {{700, 703}}, 0), "damaged: 4 sectors: 700-703 (0:09.25 to 0:09.28)");
    EXPECT_EQ(DamageLine(1, {{150, 150}}, 150), "damaged: 1 sector: 150 (0:00.00)");
    EXPECT_EQ(DamageLine(3, {{1, 1}, {3, 3}, {5, 5}}, 0, 2),
              "damaged: 3 sectors: 1 (0:00.01), 3 (0:00.03) and 1 more");
    // Counted by the library but not located: the count alone.
    EXPECT_EQ(DamageLine(2, {}, 0), "damaged: 2 sectors");
}
