// Cue sheets and cdrdao TOC files read into one disc description: the tracks with their
// index points, flags, codes and CD-TEXT, and the pieces of audio the disc is made of
// (ranges of files and silence), laid end to end from sector 0 to the lead-out.
//
// The parser is pure: it reads the sheet's text and asks `probe` what each file it names
// holds (its format and length). Every error names the sheet, the line and the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cdrip {

constexpr int32_t kFramesPerSector = 588;    // stereo 16-bit sample frames of one sector
constexpr int32_t kSheetMaxSectors = 450000; // 100 minutes: the longest disc accepted
constexpr size_t kSheetMaxBytes = 1u << 20;  // a sheet is text of at most 1 MiB

// How a file's samples are stored. Binary and Motorola are raw 16-bit stereo samples
// (little- and big-endian); Wave and Flac are parsed by the sample source.
enum class FileFormat { Binary, Motorola, Wave, Flac };

// What the sheet says of a file: the type on its FILE line.
enum class DeclaredType { Binary, Motorola, Wave, TocAudio, TocData };

// What `probe` found in a file. `payloadBytes` is the length of its sample data as
// 16-bit stereo PCM (after a WAV header; a FLAC file's decoded length), or of the whole
// file for raw data. `error` is empty when the file can be used.
struct FileFacts {
    FileFormat format = FileFormat::Binary;
    uint64_t payloadBytes = 0;
    std::string error;
};
using ProbeFn = std::function<FileFacts(const std::string& path, DeclaredType declared)>;

struct SheetFile {
    std::string path;  // as opened: relative names taken from the sheet's folder
    std::string named; // as the sheet names it
    int line = 0;
    FileFacts facts;
};

// One piece of the disc: `frames` sample frames of silence, of audio from a file at byte
// `at` of its sample data, or of data sectors of `unit` bytes each in the file.
struct Piece {
    enum Kind : uint8_t { Silence, Audio, Data };
    Kind kind = Silence;
    int file = -1;
    uint64_t at = 0;
    int64_t frames = 0;
    int32_t unit = 2352; // bytes one data sector takes in its file
};

struct SheetTrack {
    int number = 0;
    bool audio = true;
    std::string mode; // AUDIO, MODE1/2352, MODE1_RAW, ...
    bool dcp = false, pre = false, fourChannel = false, scms = false;
    std::string isrc, title, performer, songwriter;
    int32_t pregap = 0;           // LSN of INDEX 00 (where a PREGAP's silence begins);
                                  // equal to `start` when the track has no pregap
    int32_t start = 0;            // LSN of INDEX 01
    std::vector<int32_t> indexes; // LSNs of INDEX 02, 03, ...
    int32_t pregapSilence = 0;    // sectors of PREGAP silence (in no file)
    int32_t postgapSilence = 0;   // sectors of POSTGAP silence after the track
    int line = 0;
};

struct SheetDisc {
    std::vector<SheetFile> files;
    std::vector<Piece> pieces; // from sector 0 on, without gaps
    std::vector<SheetTrack> tracks;
    int32_t leadout = 0;
    std::string catalog, title, performer, songwriter, cdTextFile;
    // How the sheet's text was read: "UTF-8" (valid UTF-8; plain ASCII too) or
    // "Windows-1252" (anything else, as CD burners write it). Text fields are UTF-8.
    std::string encoding = "UTF-8";
    bool toc = false; // a cdrdao TOC file rather than a cue sheet
};

// The sheet's text as UTF-8: a byte-order mark dropped; text that is not valid UTF-8
// taken as Windows-1252. *encoding receives which of the two it was.
std::string sheetText(std::string_view bytes, std::string* encoding);

// True when `bytes` is valid UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool validUtf8(std::string_view bytes);

// Reads a cue sheet (or a cdrdao TOC file when `toc`) whose text is `bytes` and whose
// path is `sheetPath` (relative file names are taken from its folder). False with the
// reason in *error ("NAME.cue:LINE: reason", or "NAME.cue: reason" for the sheet as a
// whole) when the sheet cannot be read correctly.
bool parseSheet(std::string_view bytes, const std::string& sheetPath, bool toc,
                const ProbeFn& probe, SheetDisc* disc, std::string* error);

} // namespace cdrip
