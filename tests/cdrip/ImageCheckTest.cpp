// The checks images pass before libcdio reads them, and the reasons the library gives
// for an image drive without a readable disc.
#include "imagecheck.h"
#include "CdripFixture.h"
#include "TempFolder.h"
#include "imagesource.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace cdriptest {
namespace {

using testing::HasSubstr;

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 3; i >= 0; --i)
        v.push_back(uint8_t(x >> (8 * i)));
}

void chunk(std::vector<uint8_t>& v, const char* id, uint32_t size, size_t body) {
    v.insert(v.end(), id, id + 4);
    put32(v, size);
    v.insert(v.end(), body, 0);
}

// An NRG image: `sectors` of audio, then the chunks `chain` writes, then the footer.
std::vector<uint8_t> nrg(uint32_t sectors, void (*chain)(std::vector<uint8_t>&), bool v2 = true) {
    std::vector<uint8_t> v(size_t(sectors) * 2352, 0);
    const uint64_t offset = v.size();
    chain(v);
    if (v2) {
        v.insert(v.end(), {'N', 'E', 'R', '5'});
        put32(v, uint32_t(offset >> 32));
        put32(v, uint32_t(offset));
    } else {
        v.insert(v.end(), {'N', 'E', 'R', 'O'});
        put32(v, uint32_t(offset));
    }
    return v;
}

struct NrgCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* problem; // "" when the image is fine
};

void PrintTo(const NrgCase& row, std::ostream* os) {
    *os << row.name;
}

class NrgChainTest : public testing::TestWithParam<NrgCase> {};

TEST_P(NrgChainTest, ChainIsCheckedBeforeLibcdioSeesIt) {
    const std::vector<uint8_t>& b = GetParam().bytes;
    const cdrip::ReadAt read = [&](uint64_t at, void* out, size_t n) {
        if (at > b.size() || n > b.size() - at)
            return false;
        std::memcpy(out, b.data() + at, n);
        return true;
    };
    const std::string why = cdrip::nrgProblem(read, b.size());
    if (*GetParam().problem == '\0')
        EXPECT_EQ(why, "");
    else
        EXPECT_THAT(why, HasSubstr(GetParam().problem));
}

INSTANTIATE_TEST_SUITE_P(
    Chains, NrgChainTest,
    testing::Values(NrgCase{"Good",
                            nrg(10,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "CUEX", 32, 32);
                                    chunk(v, "DAOX", 100, 100);
                                    chunk(v, "SINF", 4, 4);
                                    chunk(v, "END!", 0, 0);
                                }),
                            ""},
                    NrgCase{"GoodOldFooter",
                            nrg(
                                10,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "CUES", 16, 16);
                                    chunk(v, "END!", 0, 0);
                                },
                                false),
                            ""},
                    // The image: a CUEX chunk of 0x000C3500 bytes running past the end.
                    NrgCase{"CutOff",
                            nrg(2700,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "CUEX", 0x000C3500, 32);
                                    chunk(v, "END!", 0, 0);
                                }),
                            "does not fit"},
                    NrgCase{"Oversized",
                            nrg(10,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "DAOX", 0xFFFFFFF0, 64);
                                    chunk(v, "END!", 0, 0);
                                }),
                            "does not fit"},
                    NrgCase{"ZeroSize",
                            nrg(10,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "CUEX", 0, 0);
                                    chunk(v, "END!", 0, 0);
                                }),
                            "does not fit"},
                    NrgCase{"UnknownId",
                            nrg(10,
                                [](std::vector<uint8_t>& v) {
                                    chunk(v, "ABCD", 8, 8);
                                    chunk(v, "END!", 0, 0);
                                }),
                            "unknown NRG chunk \"ABCD\""},
                    NrgCase{"MissingEnd",
                            nrg(10, [](std::vector<uint8_t>& v) { chunk(v, "CUEX", 32, 32); }),
                            "runs past the end"},
                    NrgCase{"NoFooter", std::vector<uint8_t>(5000, 7), "no NRG footer"},
                    NrgCase{"TooShort", std::vector<uint8_t>(5, 0), "too short"},
                    NrgCase{"FooterBeyond",
                            [] {
                                std::vector<uint8_t> v(100, 0);
                                v.insert(v.end(), {'N', 'E', 'R', '5'});
                                put32(v, 0);
                                put32(v, 5000);
                                return v;
                            }(),
                            "points beyond"}),
    [](const testing::TestParamInfo<NrgCase>& row) { return row.param.name; });

// A chunk whose size reaches the footer leaves no room for END!; a byte more does not
// fit at all.
INSTANTIATE_TEST_SUITE_P(Boundaries, NrgChainTest,
                         testing::Values(NrgCase{"ChunkUpToTheFooter",
                                                 nrg(10,
                                                     [](std::vector<uint8_t>& v) {
                                                         chunk(v, "CUEX", 40, 32);
                                                         chunk(v, "END!", 0, 0);
                                                     }),
                                                 "runs past the end"},
                                         NrgCase{"ChunkIntoTheFooter",
                                                 nrg(10,
                                                     [](std::vector<uint8_t>& v) {
                                                         chunk(v, "CUEX", 41, 32);
                                                         chunk(v, "END!", 0, 0);
                                                     }),
                                                 "chunk CUEX of 41 bytes does not fit"}),
                         [](const testing::TestParamInfo<NrgCase>& row) { return row.param.name; });

// ---- A cue sheet's data file against its last track ----

struct BinSizeCase {
    const char* name;
    uint64_t bytes;      // the .bin's size; the last track starts at sector 150
    const char* problem; // "" when the image is fine
};

void PrintTo(const BinSizeCase& row, std::ostream* os) {
    *os << row.name;
}

class BinSizeTest : public testing::TestWithParam<BinSizeCase> {};

TEST_P(BinSizeTest, DataFileHoldsTheLastTracksFirstSector) {
    TempFolder dir("binsize");
    std::ofstream(dir / "disc.cue") << "FILE \"disc.bin\" BINARY\n"
                                       "  TRACK 01 AUDIO\n"
                                       "    INDEX 01 00:00:00\n"
                                       "  TRACK 02 AUDIO\n"
                                       "    INDEX 00 00:01:00\n"
                                       "    INDEX 01 00:02:00\n";
    std::ofstream(dir / "disc.bin").close();
    ASSERT_EQ(::truncate((dir / "disc.bin").c_str(), off_t(GetParam().bytes)), 0);
    cdrip::SheetDisc disc;
    std::string problem;
    EXPECT_EQ(cdrip::loadSheet(dir / "disc.cue", &disc, &problem), *GetParam().problem == 0);
    EXPECT_EQ(problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BinSizeTest,
    testing::Values(
        // INDEX 00 at 00:01:00 needs 75 sectors of the file.
        BinSizeCase{"Empty", 0,
                    "disc.cue:5: disc.bin holds 0 sectors (0 bytes), the sheet needs 75 sectors "
                    "(176400 bytes)"},
        BinSizeCase{"EndsAtTheLastTracksStart", 150 * 2352,
                    "disc.cue:4: track 2 holds no whole sector after its INDEX 01"},
        BinSizeCase{"OneByteShortOfItsFirstSector", 151 * 2352 - 1,
                    "disc.cue:4: track 2 holds no whole sector after its INDEX 01"},
        BinSizeCase{"HoldsItsFirstSector", 151 * 2352, ""},
        BinSizeCase{"Longer", 400 * 2352 + 17, ""}),
    [](const testing::TestParamInfo<BinSizeCase>& row) { return row.param.name; });

// ---- Regular files ----

struct FileCase {
    const char* name;
    std::string (*make)(const TempFolder& dir); // returns the path to check
    bool ok;
};

void PrintTo(const FileCase& row, std::ostream* os) {
    *os << row.name;
}

std::string regular(const TempFolder& dir) {
    std::ofstream(dir / "a.bin") << "data";
    return dir / "a.bin";
}

class FileCheckTest : public testing::TestWithParam<FileCase> {};

TEST_P(FileCheckTest, OnlyRegularFilesAreImages) {
    TempFolder dir("imagecheck");
    const std::string path = GetParam().make(dir);
    const std::string why = cdrip::fileProblem(path);
    if (GetParam().ok) {
        EXPECT_EQ(why, "");
    } else {
        EXPECT_THAT(why, HasSubstr(path));
        EXPECT_NE(why, path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileCheckTest,
    testing::Values(FileCase{"Regular", regular, true},
                    FileCase{"SymlinkToRegular",
                             [](const TempFolder& dir) {
                                 symlink(regular(dir).c_str(), (dir / "link.bin").c_str());
                                 return dir / "link.bin";
                             },
                             true},
                    FileCase{"Fifo",
                             [](const TempFolder& dir) {
                                 mkfifo((dir / "f.cue").c_str(), 0600);
                                 return dir / "f.cue";
                             },
                             false},
                    FileCase{"SymlinkToFifo",
                             [](const TempFolder& dir) {
                                 mkfifo((dir / "f").c_str(), 0600);
                                 symlink((dir / "f").c_str(), (dir / "l.cue").c_str());
                                 return dir / "l.cue";
                             },
                             false},
                    FileCase{"Folder", [](const TempFolder& dir) { return dir.path(); }, false},
                    FileCase{"Missing", [](const TempFolder& dir) { return dir / "none.cue"; },
                             false},
                    FileCase{"DanglingSymlink",
                             [](const TempFolder& dir) {
                                 symlink((dir / "gone").c_str(), (dir / "d.cue").c_str());
                                 return dir / "d.cue";
                             },
                             false}),
    [](const testing::TestParamInfo<FileCase>& row) { return row.param.name; });

// ---- Through the library: the reason, and the other drives still work ----

struct ReasonCase {
    const char* name;
    // Makes a broken image beside a good one in `dir`; returns its path.
    std::string (*make)(const TempFolder& dir, const std::string& good);
    const char* reason;
};

void PrintTo(const ReasonCase& row, std::ostream* os) {
    *os << row.name;
}

class DriveStatusTest : public CdripTest, public testing::WithParamInterface<ReasonCase> {};

TEST_P(DriveStatusTest, RefusedImageSaysWhyAndTheOthersStillWork) {
    TempFolder dir("drivestatus");
    const std::string bad = GetParam().make(dir, music_);
    startLibrary({bad, music_}, nullptr);
    ASSERT_EQ(CR_SetActiveCDROM(driveOf(bad)), CR_STATUS_OK);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL);
    char text[512];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(CR_GetDriveStatusText(text, sizeof text), CR_STATUS_OK);
    EXPECT_THAT(std::string(text), HasSubstr(GetParam().reason));
    // Cut to the room given, and always terminated.
    char small[8];
    ASSERT_EQ(CR_GetDriveStatusText(small, sizeof small), CR_STATUS_OK);
    EXPECT_EQ(std::strlen(small), 7u);
    // The good image beside it reads, and says nothing is wrong.
    selectDisc(music_);
    ASSERT_EQ(CR_GetDriveStatusText(text, sizeof text), CR_STATUS_OK);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(CR_GetNumTocEntries(), 4);
}

std::string copyCue(const TempFolder& dir, const std::string& good, const std::string& name) {
    std::ifstream in(good);
    std::ofstream out(dir / (name + ".cue"));
    out << in.rdbuf();
    return dir / (name + ".cue");
}

INSTANTIATE_TEST_SUITE_P(
    Images, DriveStatusTest,
    testing::Values(ReasonCase{"CueAsFifo",
                               [](const TempFolder& dir, const std::string&) {
                                   mkfifo((dir / "fifo.cue").c_str(), 0600);
                                   return dir / "fifo.cue";
                               },
                               "fifo.cue: not a regular file"},
                    ReasonCase{"BinAsFifo",
                               [](const TempFolder& dir, const std::string& good) {
                                   const std::string cue = copyCue(dir, good, "music");
                                   mkfifo((dir / "music.bin").c_str(), 0600);
                                   return cue;
                               },
                               "music.bin: not a regular file"},
                    // The sheet's FILE is what counts, not the sheet's own name.
                    ReasonCase{"CueNamesAMissingFile",
                               [](const TempFolder& dir, const std::string& good) {
                                   return copyCue(dir, good, "renamed");
                               },
                               "/music.bin: no such file"},
                    ReasonCase{"BinTooShort",
                               [](const TempFolder& dir, const std::string& good) {
                                   const std::string cue = copyCue(dir, good, "music");
                                   std::ofstream(dir / "music.bin")
                                       << std::string(2352 * 100, '\0');
                                   return cue;
                               },
                               "music.cue:6: music.bin holds 100 sectors (235200 bytes), the sheet "
                               "needs"},
                    ReasonCase{"BrokenNrg",
                               [](const TempFolder& dir, const std::string&) {
                                   const auto b = nrg(2700, [](std::vector<uint8_t>& v) {
                                       chunk(v, "CUEX", 0x000C3500, 32);
                                       chunk(v, "END!", 0, 0);
                                   });
                                   std::ofstream(dir / "broken.nrg", std::ios::binary)
                                       .write(reinterpret_cast<const char*>(b.data()),
                                              std::streamsize(b.size()));
                                   return dir / "broken.nrg";
                               },
                               "broken.nrg: NRG chunk CUEX of 800000 bytes does not fit"},
                    ReasonCase{"NotAnImage",
                               [](const TempFolder& dir, const std::string&) {
                                   std::ofstream(dir / "notes.toc") << "hello\n";
                                   return dir / "notes.toc";
                               },
                               "notes.toc"}),
    [](const testing::TestParamInfo<ReasonCase>& row) { return row.param.name; });

// Reads of many sectors at once from a sheet's files: each must give the bytes that
// reads of one sector give, across the ends of files, pregaps the sheet fills with
// silence, and the lead-out (where the count read stops short, by the sectors past it).
struct SheetReadCase {
    const char* name;
    discgen::SheetStyle::Container container;
    discgen::SheetStyle::Files files;
    int32_t count; // sectors a read asks for
    int32_t first; // the first read's start
};

class SheetReadTest : public testing::TestWithParam<SheetReadCase> {};

TEST_P(SheetReadTest, ReadsOfManySectorsEqualReadsOfOne) {
    const SheetReadCase& c = GetParam();
    TempFolder dir("sheetread");
    discgen::DiscSpec plan;
    plan.seed = 9;
    plan.tracks = {{300, 0, false}, {200, 75, false}, {250, 0, false}};
    discgen::SheetStyle style;
    style.container = c.container;
    style.files = c.files;
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, style, &error)) << error;
    cdrip::SheetImage image;
    ASSERT_TRUE(image.open(dir / "disc.cue", &error)) << error;
    const int32_t leadout = discgen::layoutOf(plan).leadout;
    ASSERT_EQ(image.disc().leadout, leadout);
    std::vector<uint8_t> one(size_t(leadout) * 2352);
    for (int32_t s = 0; s < leadout; ++s)
        ASSERT_EQ(image.read(s, 1, one.data() + size_t(s) * 2352), 1) << "sector " << s;
    if (c.container == discgen::SheetStyle::Container::Binary &&
        c.files == discgen::SheetStyle::Files::One) {
        EXPECT_TRUE(one == discgen::imageBytes(plan));
    }
    std::vector<uint8_t> out(size_t(c.count) * 2352);
    for (int32_t lsn = c.first; lsn < leadout; lsn += c.count) {
        std::fill(out.begin(), out.end(), uint8_t(0xA5));
        const int32_t expect = std::min(c.count, leadout - lsn);
        ASSERT_EQ(image.read(lsn, c.count, out.data()), expect) << "from " << lsn;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(expect) * 2352,
                               one.begin() + long(lsn) * 2352))
            << "from " << lsn << ", " << c.count << " sectors";
    }
    EXPECT_EQ(image.read(leadout - 1, 2, out.data()), 1);
    EXPECT_EQ(image.read(leadout, 2, out.data()), 0);
    EXPECT_EQ(image.read(-1, 2, out.data()), 0);
}

using C = discgen::SheetStyle::Container;
using F = discgen::SheetStyle::Files;
INSTANTIATE_TEST_SUITE_P(
    Pieces, SheetReadTest,
    testing::Values(
        SheetReadCase{"OneBinTwoSectors", C::Binary, F::One, 2, 0},
        SheetReadCase{"OneBinCommandsOf26", C::Binary, F::One, 26, 7},
        SheetReadCase{"OneBinWholeDisc", C::Binary, F::One, 900, 0},
        SheetReadCase{"BinPerTrack", C::Binary, F::PerTrack, 26, 3},
        SheetReadCase{"BinPerTrackGapsAsSilence", C::Binary, F::PerTrackGapsAsSilence, 26, 0},
        SheetReadCase{"MotorolaPerTrack", C::Motorola, F::PerTrack, 13, 1},
        SheetReadCase{"WavePerTrackGapsAsSilence", C::Wave, F::PerTrackGapsAsSilence, 26, 5},
        SheetReadCase{"FlacPerTrack", C::Flac, F::PerTrack, 26, 0}),
    [](const testing::TestParamInfo<SheetReadCase>& row) { return row.param.name; });

} // namespace
} // namespace cdriptest
