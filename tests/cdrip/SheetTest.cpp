// The sheet parser on its own: cue sheets and cdrdao TOC files as text, over files
// that a fake probe describes, read into the whole disc description (every field of it
// written out and compared), or refused with the file, the line and the reason.
#include "sheet.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

namespace {

using cdrip::DeclaredType;
using cdrip::FileFacts;
using cdrip::FileFormat;
using cdrip::Piece;
using cdrip::SheetDisc;

// Files the probe knows: name (as opened, relative to /d) and sectors or bytes.
struct FakeFile {
    const char* name;
    uint64_t bytes;
    FileFormat format = FileFormat::Binary;
};

constexpr uint64_t kSector = 2352;

std::string describe(const SheetDisc& d) {
    std::ostringstream o;
    o << "enc=" << d.encoding << " catalog=" << d.catalog << " title=" << d.title
      << " performer=" << d.performer << " songwriter=" << d.songwriter
      << " cdtextfile=" << d.cdTextFile << "\n";
    for (const auto& f : d.files)
        o << "file " << f.named << " -> " << f.path << " line " << f.line << " fmt "
          << int(f.facts.format) << " bytes " << f.facts.payloadBytes << "\n";
    for (const auto& t : d.tracks) {
        o << "track " << t.number << " " << t.mode << (t.audio ? "" : " data") << " pregap "
          << t.pregap << " start " << t.start << " idx";
        for (int32_t i : t.indexes)
            o << " " << i;
        o << " flags " << (t.dcp ? "D" : "") << (t.pre ? "P" : "") << (t.fourChannel ? "4" : "")
          << (t.scms ? "S" : "") << " isrc " << t.isrc << " title " << t.title << " performer "
          << t.performer << " songwriter " << t.songwriter << " gaps " << t.pregapSilence << "/"
          << t.postgapSilence << " line " << t.line << "\n";
    }
    for (const Piece& p : d.pieces) {
        if (p.kind == Piece::Silence)
            o << "S" << p.frames << " ";
        else
            o << (p.kind == Piece::Audio ? "A" : "D") << p.file << "@" << p.at << "+" << p.frames
              << (p.kind == Piece::Data ? "u" + std::to_string(p.unit) : "") << " ";
    }
    o << "\nleadout " << d.leadout << "\n";
    return o.str();
}

struct SheetCase {
    const char* name;
    std::string text;
    bool toc;
    std::vector<FakeFile> files;
    std::string expected; // describe() of the disc, or the error text
};

void PrintTo(const SheetCase& c, std::ostream* os) {
    *os << c.name;
}

std::string parse(const SheetCase& c, bool* ok) {
    auto probe = [&](const std::string& path, DeclaredType declared) {
        FileFacts f;
        for (const FakeFile& ff : c.files)
            if (path == std::string("/d/") + ff.name) {
                f.format = ff.format == FileFormat::Binary && declared == DeclaredType::Motorola
                               ? FileFormat::Motorola
                               : ff.format;
                f.payloadBytes = ff.bytes;
                return f;
            }
        f.error = path + ": no such file";
        return f;
    };
    SheetDisc d;
    std::string error;
    *ok = cdrip::parseSheet(c.text, c.toc ? "/d/x.toc" : "/d/x.cue", c.toc, probe, &d, &error);
    return *ok ? describe(d) : error;
}

class SheetTest : public testing::TestWithParam<SheetCase> {};

TEST_P(SheetTest, ReadsAsDescribed) {
    bool ok = false;
    EXPECT_EQ(parse(GetParam(), &ok), GetParam().expected);
}

// 588 frames a sector, 4 bytes a frame: a file of N sectors holds N * 2352 bytes.
const std::vector<SheetCase> kGood = {
    {"OneFileThreeTracks",
     "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 00 00:04:00\n    INDEX 01 00:06:00\n"
     "  TRACK 03 AUDIO\n    INDEX 01 00:10:00\n",
     false,
     {{"x.bin", 1000 * kSector}},
     // 00:04:00 is sector 300, 00:06:00 450, 00:10:00 750; the file's 1000 sectors end it.
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file x.bin -> /d/x.bin line 1 fmt 0 bytes 2352000\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "2\n"
     "track 2 AUDIO pregap 300 start 450 idx flags  isrc  title  performer  songwriter  gaps 0/0 "
     "line 4\n"
     "track 3 AUDIO pregap 750 start 750 idx flags  isrc  title  performer  songwriter  gaps 0/0 "
     "line 7\n"
     "A0@0+588000 \nleadout 1000\n"},
    {"PregapAndPostgapAreSilence",
     // Track 2's PREGAP of 150 sectors and track 3's POSTGAP of 75 are in no file: track
     // 2 starts at 300 + 150 = 450, track 3 at 450 + 700 = 1150, the lead-out at
     // 1150 + 300 + 75 = 1525.
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\n"
     "INDEX 01 00:04:00\nTRACK 03 AUDIO\nINDEX 01 00:13:25\nPOSTGAP 00:01:00\n",
     false,
     {{"x.bin", 1300 * kSector}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file x.bin -> /d/x.bin line 1 fmt 0 bytes 3057600\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "2\n"
     "track 2 AUDIO pregap 300 start 450 idx flags  isrc  title  performer  songwriter  gaps 150/0 "
     "line 4\n"
     "track 3 AUDIO pregap 1150 start 1150 idx flags  isrc  title  performer  songwriter  gaps "
     "0/75 line 7\n"
     "A0@0+176400 S88200 A0@705600+588000 S44100 \nleadout 1525\n"},
    {"OneFilePerTrackGapsAppendedToThePrevious",
     // Track 2's INDEX 00 lies in track 1's file: 200 sectors of file 1, then 100 of
     // pregap from 200 on, track 2's INDEX 01 at 300 at the start of file 2.
     "FILE \"01.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
     "TITLE \"Two\"\nINDEX 00 00:02:50\nFILE \"02.wav\" WAVE\nINDEX 01 00:00:00\nINDEX 02 "
     "00:01:00\n",
     false,
     {{"01.wav", 300 * kSector, FileFormat::Wave}, {"02.wav", 400 * kSector, FileFormat::Wave}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file 01.wav -> /d/01.wav line 1 fmt 2 bytes 705600\n"
     "file 02.wav -> /d/02.wav line 8 fmt 2 bytes 940800\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title One performer  songwriter  gaps 0/0 "
     "line 2\n"
     "track 2 AUDIO pregap 200 start 300 idx 375 flags  isrc  title Two performer  songwriter  "
     "gaps 0/0 line 5\n"
     "A0@0+176400 A1@0+235200 \nleadout 700\n"},
    {"OneFilePerTrackGapsLeftOut",
     "FILE \"01.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"02.flac\" WAVE\n"
     "TRACK 02 AUDIO\nINDEX 01 00:00:00\n",
     false,
     {{"01.flac", 100 * kSector, FileFormat::Flac}, {"02.flac", 50 * kSector, FileFormat::Flac}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file 01.flac -> /d/01.flac line 1 fmt 3 bytes 235200\n"
     "file 02.flac -> /d/02.flac line 4 fmt 3 bytes 117600\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "2\n"
     "track 2 AUDIO pregap 100 start 100 idx flags  isrc  title  performer  songwriter  gaps 0/0 "
     "line 5\n"
     "A0@0+58800 A1@0+29400 \nleadout 150\n"},
    {"BomCrlfLowerCaseSubFolderBackslashes",
     "\xEF\xBB\xBF"
     "rem made elsewhere\r\ncatalog 0724384960650\r\nperformer \"Band\"\r\n"
     "title \"Winter \xC3\x89tudes\"\r\nsongwriter \"Pen\"\r\ncdtextfile \"x.cdt\"\r\n"
     "file \"audio\\disc one.bin\" binary\r\n  track 01 audio\r\n    flags dcp pre 4ch scms\r\n"
     "    isrc usrc17607839\r\n    title \"T1\"\r\n    performer \"P1\"\r\n    songwriter "
     "\"S1\"\r\n"
     "    index 01 00:00:00\r\n",
     false,
     {{"audio/disc one.bin", 10 * kSector}},
     "enc=UTF-8 catalog=0724384960650 title=Winter \xC3\x89tudes performer=Band songwriter=Pen "
     "cdtextfile=x.cdt\n"
     "file audio\\disc one.bin -> /d/audio/disc one.bin line 7 fmt 0 bytes 23520\n"
     "track 1 AUDIO pregap 0 start 0 idx flags DP4S isrc USRC17607839 title T1 performer P1 "
     "songwriter S1 gaps 0/0 line 8\n"
     "A0@0+5880 \nleadout 10\n"},
    {"Windows1252Text",
     "TITLE \"Winter \xC9tudes \x80\"\nFILE x.bin MOTOROLA\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     false,
     {{"x.bin", 4 * kSector}},
     "enc=Windows-1252 catalog= title=Winter \xC3\x89tudes \xE2\x82\xAC performer= songwriter= "
     "cdtextfile=\n"
     "file x.bin -> /d/x.bin line 2 fmt 1 bytes 9408\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "3\n"
     "A0@0+2352 \nleadout 4\n"},
    {"HiddenAudioBeforeTrackOne",
     // INDEX 01 at 00:02:00: sectors 0-149 lie before track 1 (its pregap from 0).
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nTRACK 02 MODE1/2352\n"
     "INDEX 00 00:06:00\nINDEX 01 00:08:00\n",
     false,
     {{"x.bin", 700 * kSector}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file x.bin -> /d/x.bin line 1 fmt 0 bytes 1646400\n"
     "track 1 AUDIO pregap 0 start 150 idx flags  isrc  title  performer  songwriter  gaps 0/0 "
     "line 2\n"
     "track 2 MODE1/2352 data pregap 450 start 600 idx flags  isrc  title  performer  songwriter  "
     "gaps 0/0 line 4\n"
     "A0@0+264600 D0@1058400+147000u2352 \nleadout 700\n"},
    {"UnquotedNameWithSpacesAndAllZeroCodes",
     "CATALOG 0000000000000\nFILE my disc.bin BINARY\nTRACK 1 AUDIO\nISRC 000000000000\n"
     "INDEX 1 0:0:0\n",
     false,
     {{"my disc.bin", 2 * kSector}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file my disc.bin -> /d/my disc.bin line 2 fmt 0 bytes 4704\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "3\n"
     "A0@0+1176 \nleadout 2\n"},
    {"LastSectorMadeWhole",
     // 100 frames past the last whole sector: that sector is made whole with silence.
     "FILE \"x.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     false,
     {{"x.wav", 2 * kSector + 400, FileFormat::Wave}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file x.wav -> /d/x.wav line 1 fmt 2 bytes 5104\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "2\n"
     "A0@0+1276 S488 \nleadout 3\n"},
    {"MalformedCodesLeftOut",
     "CATALOG 12345\nFILE x.bin BINARY\nTRACK 01 AUDIO\nISRC GB-AYE-67-00149\nINDEX 01 00:00:00\n",
     false,
     {{"x.bin", 2 * kSector}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file x.bin -> /d/x.bin line 2 fmt 0 bytes 4704\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "3\n"
     "A0@0+1176 \nleadout 2\n"},
    // ---- cdrdao TOC files ----
    {"TocSilenceStartZeroAndCdText",
     // Track 1: 150 sectors of SILENCE, then the file from 0; START 00:02:00 puts INDEX 01
     // at 150 (hidden audio before it is silence here). Track 2 at 450: ZERO of 1 sector,
     // then 200 samples of the file from sector 300 (byte 705600): the last sector is
     // made whole with silence (588 - 200 = 388 frames), the lead-out at 452.
     "// made by hand\nCD_DA\nCATALOG \"0724384960650\"\nCD_TEXT {\n  LANGUAGE_MAP {\n    0 : EN\n "
     " }\n"
     "  LANGUAGE 0 {\n    TITLE \"Caf\\351\"\n    PERFORMER \"Band\"\n    TOC_INFO1 { 0, 1, 2 }\n  "
     "}\n}\n"
     "TRACK AUDIO\nNO COPY\nPRE_EMPHASIS\nTWO_CHANNEL_AUDIO\nISRC \"USRC17607839\"\n"
     "CD_TEXT { LANGUAGE 0 { TITLE \"One\" PERFORMER \"P\" } }\n"
     "SILENCE 00:02:00\nFILE \"x.bin\" 0 00:04:00\nSTART 00:02:00\n"
     "TRACK AUDIO\nCOPY\nZERO 00:00:01\nFILE \"x.bin\" 00:04:00 200\nINDEX 00:00:01\n",
     true,
     {{"x.bin", 500 * kSector}},
     "enc=Windows-1252 catalog=0724384960650 title=Caf\xC3\xA9 performer=Band songwriter= "
     "cdtextfile=\n"
     "file x.bin -> /d/x.bin line 21 fmt 0 bytes 1176000\n"
     "track 1 AUDIO pregap 0 start 150 idx flags P isrc USRC17607839 title One performer P "
     "songwriter  gaps 0/0 line 14\n"
     "track 2 AUDIO pregap 450 start 450 idx 451 flags D isrc  title  performer  songwriter  gaps "
     "0/0 line 23\n"
     "S88200 A0@0+176400 S588 A0@705600+200 S388 \nleadout 452\n"},
    {"TocAudiofileOffsetsPregapSwap",
     // #2352 skips one sector's bytes; PREGAP 00:01:00 is 75 sectors of silence before
     // track 2's START; FILE ... SWAP reads big-endian samples.
     "CD_DA\nTRACK AUDIO\nAUDIOFILE \"a.bin\" #2352 0 00:01:00\n"
     "TRACK AUDIO\nPREGAP 00:01:00\nFILE \"b.bin\" SWAP 0\n",
     true,
     {{"a.bin", 76 * kSector}, {"b.bin", 10 * kSector}},
     "enc=UTF-8 catalog= title= performer= songwriter= cdtextfile=\n"
     "file a.bin -> /d/a.bin line 3 fmt 0 bytes 178752\n"
     "file b.bin -> /d/b.bin line 6 fmt 1 bytes 23520\n"
     "track 1 AUDIO pregap 0 start 0 idx flags  isrc  title  performer  songwriter  gaps 0/0 line "
     "2\n"
     "track 2 AUDIO pregap 75 start 150 idx flags  isrc  title  performer  songwriter  gaps 75/0 "
     "line 4\n"
     "A0@2352+44100 S44100 A1@0+5880 \nleadout 160\n"},
};

INSTANTIATE_TEST_SUITE_P(Good, SheetTest, testing::ValuesIn(kGood),
                         [](const auto& row) { return std::string(row.param.name); });

const std::vector<SheetCase> kRefused = {
    {"FileShorterThanTheSheet",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 "
     "00:10:00\n",
     false,
     {{"x.bin", 700 * kSector}},
     "x.cue:5: x.bin holds 700 sectors (1646400 bytes), the sheet needs 750 sectors (1764000 "
     "bytes)"},
    {"TocLengthPastItsFile",
     "CD_DA\nTRACK AUDIO\nFILE \"x.bin\" 0 00:10:00\n",
     true,
     {{"x.bin", 667 * kSector}},
     "x.toc:3: x.bin holds 667 sectors (1568784 bytes), the sheet needs 750 sectors (1764000 "
     "bytes)"},
    {"MissingFile",
     "FILE \"y.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     false,
     {},
     "x.cue:1: /d/y.bin: no such file"},
    {"NoIndexOne",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\n",
     false,
     {{"x.bin", 10 * kSector}},
     "x.cue:4: track 1 has no INDEX 01"},
    {"TracksOutOfOrder",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\n",
     false,
     {{"x.bin", 10 * kSector}},
     "x.cue:4: track 03 out of order"},
    {"IndexGoesBack",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:01:00\nTRACK 02 AUDIO\nINDEX 01 "
     "00:00:10\n",
     false,
     {{"x.bin", 100 * kSector}},
     "x.cue:5: INDEX goes back in its file"},
    {"BadTime",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n",
     false,
     {{"x.bin", 10 * kSector}},
     "x.cue:3: not a time (MM:SS:FF): 00:60:00"},
    {"FramesOutOfRange",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n",
     false,
     {{"x.bin", 10 * kSector}},
     "x.cue:3: not a time (MM:SS:FF): 00:00:75"},
    {"AiffRefused",
     "FILE \"x.aiff\" AIFF\n",
     false,
     {},
     "x.cue:1: AIFF files are not read: only BINARY, MOTOROLA, WAVE and FLAC"},
    {"UnknownKeyword",
     "FILE \"x.bin\" BINARY\nTRAKC 01 AUDIO\n",
     false,
     {{"x.bin", kSector}},
     "x.cue:2: unknown keyword TRAKC"},
    {"CutOffInTheFileLine", "FILE \"x.bin", false, {}, "x.cue:1: FILE needs a name and a type"},
    {"CutOffAfterTrack",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\n  INDEX 0",
     false,
     {{"x.bin", kSector}},
     "x.cue:3: INDEX needs a number and a time"},
    {"NoTracks", "REM nothing\n", false, {}, "x.cue: no tracks"},
    {"EmptyTrack",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 "
     "00:00:00\n",
     false,
     {{"x.bin", 10 * kSector}},
     "x.cue:2: track 1 holds no whole sector after its INDEX 01"},
    {"MidSectorFileEnd",
     // A 100-frame partial sector at the end of file 1 would put track 2 inside a sector.
     "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"b.wav\" WAVE\nTRACK 02 AUDIO\n"
     "INDEX 01 00:00:00\n",
     false,
     {{"a.wav", kSector + 400, FileFormat::Wave}, {"b.wav", kSector, FileFormat::Wave}},
     "x.cue:6: INDEX falls inside a sector: the audio before it is not a whole number of sectors"},
    {"Oversized",
     std::string(cdrip::kSheetMaxBytes + 1, ' '),
     false,
     {},
     "x.cue: larger than 1 MiB: not a sheet"},
    {"NulBytes",
     std::string("FILE \"x.bin\" BINARY\n\0", 21),
     false,
     {},
     "x.cue: holds NUL bytes: not a text file"},
    {"LongerThan100Minutes",
     "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
     false,
     {{"x.bin", 450001 * kSector}},
     "x.cue:3: the disc would be longer than 100 minutes"},
    {"TocTrackInsideASector",
     "CD_DA\nTRACK AUDIO\nSILENCE 100\nTRACK AUDIO\nSILENCE 00:01:00\n",
     true,
     {},
     "x.toc:4: track 2 does not begin on a sector: the audio before it is not a whole number of "
     "sectors"},
    {"TocTextNotClosed",
     "CD_DA\nCD_TEXT {\n LANGUAGE 0 {\n TITLE \"x\n",
     true,
     {},
     "x.toc:4: a text runs past the end of its line"},
    {"TocBlockNotClosed",
     "CD_DA\nCD_TEXT {\n LANGUAGE 0 {\n TITLE \"x\"\n",
     true,
     {},
     "x.toc:3: LANGUAGE block not closed"},
    {"TocUnknownKeyword",
     "CD_DA\nTRACK AUDIO\nFROBNICATE\n",
     true,
     {},
     "x.toc:3: unknown keyword FROBNICATE"},
    {"TocFifo",
     "CD_DA\nTRACK AUDIO\nFIFO \"/tmp/f\" 100\n",
     true,
     {},
     "x.toc:3: FIFO statements are not read"},
    {"TocStartBeyondAudio",
     "CD_DA\nTRACK AUDIO\nSILENCE 00:01:00\nSTART 00:02:00\n",
     true,
     {},
     "x.toc:4: START beyond the audio given so far"},
};

INSTANTIATE_TEST_SUITE_P(Refused, SheetTest, testing::ValuesIn(kRefused),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- Text: UTF-8 when valid, else Windows-1252 ----

struct TextCase {
    const char* name;
    std::string bytes, utf8, encoding;
};

class SheetTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(SheetTextTest, DecodedAsSaid) {
    std::string encoding;
    EXPECT_EQ(cdrip::sheetText(GetParam().bytes, &encoding), GetParam().utf8);
    EXPECT_EQ(encoding, GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SheetTextTest,
    testing::Values(TextCase{"Ascii", "Plain", "Plain", "UTF-8"},
                    TextCase{"Utf8", "\xC3\x89tudes", "\xC3\x89tudes", "UTF-8"},
                    TextCase{"Bom",
                             "\xEF\xBB\xBF"
                             "a",
                             "a", "UTF-8"},
                    TextCase{"Latin1Letter", "\xC9tudes", "\xC3\x89tudes", "Windows-1252"},
                    TextCase{"EuroAndQuotes", "\x80\x93\x94",
                             "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D", "Windows-1252"},
                    TextCase{"UndefinedByteKeepsItsCodePoint", "\x81", "\xC2\x81", "Windows-1252"},
                    // Overlong "/" and a UTF-16 surrogate are not UTF-8.
                    TextCase{"Overlong", "\xC0\xAF", "\xC3\x80\xC2\xAF", "Windows-1252"},
                    TextCase{"Surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC",
                             "Windows-1252"},
                    TextCase{"CutOffSequence", "ab\xC3", "ab\xC3\x83", "Windows-1252"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
