// The image generator that every image test stands on: deterministic bytes, the cue
// sheet libcdio reads, and the mkdisc command line.
#include "discgen.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class DiscgenTest : public testing::Test {
protected:
    // mkdisc sits beside this test program in <build>/bin.
    static std::string mkdisc() {
        return fs::read_symlink("/proc/self/exe").parent_path() / "mkdisc";
    }
    TempFolder folder_{"discgen"};
    fs::path dir_{folder_.path()};
};

TEST_F(DiscgenTest, SameSeedSameBytesOtherSeedOtherMusic) {
    discgen::DiscSpec a = discgen::simpleDisc(5, 2, 200);
    discgen::DiscSpec b = discgen::simpleDisc(6, 2, 200);
    EXPECT_EQ(discgen::imageBytes(a), discgen::imageBytes(a));
    EXPECT_NE(discgen::imageBytes(a), discgen::imageBytes(b));
    ASSERT_TRUE(discgen::writeDisc((dir_ / "a").string(), a));
    const std::string bin = readText(dir_ / "a.bin");
    const std::vector<uint8_t> bytes = discgen::imageBytes(a);
    EXPECT_EQ(bin, std::string(bytes.begin(), bytes.end()));
}

TEST_F(DiscgenTest, CueSheetHasPregapsAndTheDataTrack) {
    discgen::DiscSpec plan = discgen::demoDisc();
    ASSERT_TRUE(discgen::writeDisc((dir_ / "demo").string(), plan));
    const std::string cue = readText(dir_ / "demo.cue");
    EXPECT_NE(cue.find("FILE \"demo.bin\" BINARY\n"), std::string::npos);
    // Track 3 follows 32 + 24 s of music and has a 2-second pregap: 00:56:00, 00:58:00.
    EXPECT_NE(cue.find("  TRACK 03 AUDIO\n    INDEX 00 00:56:00\n    INDEX 01 00:58:00\n"),
              std::string::npos);
    EXPECT_NE(cue.find("  TRACK 07 MODE1/2352\n"), std::string::npos);
    discgen::Layout l = discgen::layoutOf(plan);
    ASSERT_EQ(l.starts.size(), 7u);
    EXPECT_EQ(fs::file_size(dir_ / "demo.bin"), uint64_t(l.leadout) * 2352);
    // A data sector: sync pattern, then its address 00:02:00 past its own LSN in BCD.
    const std::vector<uint8_t> bytes = discgen::imageBytes(plan);
    const size_t at = size_t(l.starts[6]) * 2352;
    EXPECT_EQ(bytes[at], 0x00);
    EXPECT_EQ(bytes[at + 1], 0xff);
    EXPECT_EQ(bytes[at + 15], 1); // mode 1
    for (size_t i = 0; i + 1 < l.starts.size(); ++i) {
        const int32_t seconds = (l.starts[i + 1] - l.starts[i]) / 75;
        EXPECT_GE(seconds, 15);
        EXPECT_LE(seconds, 47); // 45 s of music plus a pregap
    }
}

struct CliCase {
    const char* name;
    const char* args;
    int exitCode;
};

void PrintTo(const CliCase& row, std::ostream* os) {
    *os << row.name;
}

class MkdiscCliTest : public DiscgenTest, public testing::WithParamInterface<CliCase> {};

TEST_P(MkdiscCliTest, ExitCodeAndFiles) {
    std::ofstream(dir_ / "titles") << "First\nSecond\n";
    const std::string cmd =
        "cd '" + dir_.string() + "' && '" + mkdisc() + "' " + GetParam().args + " >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), GetParam().exitCode);
    EXPECT_EQ(fs::exists(dir_ / "out.cue"), GetParam().exitCode == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Args, MkdiscCliTest,
    testing::Values(CliCase{"Defaults", "out.cue", 0},
                    CliCase{"PerTrackLengths", "--sectors 100,200,300 --pregap 75 out", 0},
                    CliCase{"ToneAndData", "--tracks 1 --sectors 75 --tone 1000 --data 30 out", 0},
                    CliCase{"NoOutput", "--tracks 2", 2},
                    CliCase{"ZeroTracks", "--tracks 0 out", 2},
                    CliCase{"BadLength", "--sectors 10,x out", 2},
                    CliCase{"LengthCountMismatch", "--tracks 5 --sectors 1,2 out", 2},
                    CliCase{"UnknownOption", "--scratch out", 2},
                    CliCase{"CdText",
                            "--title 'An Album' --performer Band --track-titles titles out", 0},
                    CliCase{"TitleWithQuote", "--title 'a \"b\"' out", 1},
                    CliCase{"TitleOutsideLatin1", "--title '\xe2\x82\xac' out", 1},
                    CliCase{"MissingTitleFile", "--track-titles no-such-file out", 2},
                    CliCase{"MoreTitlesThanTracks", "--tracks 1 --track-titles titles out", 1}),
    [](const testing::TestParamInfo<CliCase>& row) { return row.param.name; });

TEST_F(DiscgenTest, RefusesImpossibleDiscs) {
    std::string error;
    discgen::DiscSpec none;
    EXPECT_FALSE(discgen::writeDisc((dir_ / "x").string(), none, &error));
    EXPECT_FALSE(error.empty());
    discgen::DiscSpec zero = discgen::simpleDisc(1, 1, 0);
    EXPECT_FALSE(discgen::writeDisc((dir_ / "x").string(), zero, &error));
    EXPECT_FALSE(discgen::writeDisc((dir_ / "no-such-dir" / "x").string(),
                                    discgen::simpleDisc(1, 1, 10), &error));
}

} // namespace
