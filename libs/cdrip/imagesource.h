// The sample source of a disc image read from a cue sheet or a cdrdao TOC file: the
// sheet parsed (sheet.h) over the real files, and raw sectors read from the pieces it
// describes: raw little- or big-endian samples, the PCM of a RIFF WAVE file, or FLAC
// decoded with libFLAC (seeking by sample), with silence where the sheet says so.
#pragma once

#include "sectorsource.h"
#include "sheet.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cdrip {

// True for the images read here (by extension: .cue and .toc); others go to libcdio.
bool isSheetImage(const std::string& path);

// What a file holds, for the parser: a RIFF WAVE file (16-bit 44.1 kHz stereo PCM only),
// a FLAC file (the same), or raw samples in the declared byte order. The error names the
// file and the reason.
FileFacts probeFile(const std::string& path, DeclaredType declared);

// Reads and parses the sheet at `path`; false with the reason in *error.
bool loadSheet(const std::string& path, SheetDisc* disc, std::string* error);

// The sectors of the image at `path` (a cue sheet or TOC file) as a SectorSource; null
// (with the reason in *error when given) when it cannot be read.
std::unique_ptr<SectorSource> openSheetSource(const std::string& path,
                                              std::string* error = nullptr);

class SheetImage {
public:
    SheetImage();
    SheetImage(const SheetImage&) = delete;
    SheetImage& operator=(const SheetImage&) = delete;
    ~SheetImage();

    // Parses the sheet at `path` and checks its files; false with the reason in *error.
    bool open(const std::string& path, std::string* error);
    const SheetDisc& disc() const { return disc_; }

    // Reads `count` raw sectors (2352 bytes each) from `lsn` into `out`. Returns how many
    // were read: fewer when a sector lies outside the disc or a file cannot be read.
    int32_t read(int32_t lsn, int32_t count, uint8_t* out);

private:
    struct Flac;
    bool readPiece(const Piece& p, int64_t from, int64_t frames, uint8_t* out);
    bool readBytes(int file, uint64_t at, size_t n, uint8_t* out);
    bool readFlac(int file, uint64_t firstFrame, int64_t frames, uint8_t* out);
    // How many of at most `most` sectors, the first starting at `frame` in piece `i`, lie
    // whole in that piece when it is audio of a raw or WAVE file (0 otherwise).
    int32_t wholeSectorsInPiece(size_t i, int64_t frame, int32_t most) const;

    SheetDisc disc_;
    std::vector<int64_t> starts_;     // first frame of each piece
    std::vector<int> fds_;            // per file; -1 until opened
    std::vector<uint64_t> waveStart_; // per WAVE file: where its sample data begins
    std::vector<std::unique_ptr<Flac>> flac_;
    std::vector<uint8_t> raw_; // the block libFLAC decoded last, behind its first sample number
};

} // namespace cdrip
