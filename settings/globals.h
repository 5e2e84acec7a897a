#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The program-wide settings record, its INI file, the disc information file
// (cdplayer.ini) and small shared routines.

// The settings record. Field order and widths follow the encoder's configuration:
// the 32-bit booleans hold 0 for false and -1 (all bits set) for true.
struct TMP3Settings {
    bool ConfirmOverwrite = true; // never stored in the settings file
    std::string OutDir;           // UTF-8
    bool OpenWhenDone = true;
    int32_t SampleRates = 44100;
    int32_t BitRates = 128;
    int32_t MaxBitRates = 320;
    int32_t Mode = 0;
    int32_t Quality = 0;
    int32_t EnableVBR = -1;
    int32_t WriteVBRHeader = -1;
    int32_t VBRQuality = 5;
    int32_t CopyRight = 0;
    int32_t Original = 0;
    int32_t CRC = -1;
    int32_t bPrivate = 0;
    // [System] keys beyond the fourteen. A missing key keeps the behaviour of a file
    // without it; each is written only when it differs from that, and the options
    // dialog's "Default" button leaves them alone (it has no control for them).
    std::optional<int32_t> ReadOffset; // ReadOffset=, samples; none: the drive's own
    bool AccurateRip = true;           // AccurateRip=0 turns the look-up off
    // AccurateRipFirst=0: every track read securely; otherwise each track is read once and
    // proven by its AccurateRip checksum where it matches an entry of at least
    // AccurateRipConfidence= (1 to 1000), and read securely only where it does not.
    bool AccurateRipFirst = true;
    int32_t AccurateRipConfidence = 2;
    bool Lookup = true;                // Lookup=0 turns the MusicBrainz title look-up off
    bool CoverArt = true;              // CoverArt=0: no front cover from the Cover Art Archive
    bool EmbedCover = true;            // EmbedCover=0: the cover file only, not in the tags
    bool HiddenTrack = false;          // HiddenTrack=1: audio before track 1 ripped as track 0
    // The FLAC and Opus outputs, a section each, and ReplayGain. Each key is written only
    // when it differs from its default; the options dialog's "Default" button resets them.
    int32_t FlacCompression = 8; // [FLAC] Compression=, libFLAC's level 0 to 8
    int32_t OpusBitrate = 160;   // [Opus] Bitrate=, kbit/s (VBR)
    bool ReplayGain = true;      // [System] ReplayGain=0 turns the gain tags off
};

extern TMP3Settings Settings;

class TLameCoder;

// Copies the MP3 settings into an encoder. The MP3's sample rate goes to OutSampleRate;
// the PCM's own rate and channels are the ripper's business. Values the encoder would
// refuse are mended: with VBR off, a bit rate that the MPEG version of the sample rate
// does not allow becomes the nearest allowed one, and a quality outside 0 to 3 is
// clamped. Returns one line for each value mended, for the user to be told once.
std::vector<std::string> ApplyMP3Settings(const TMP3Settings& s, TLameCoder& coder);

// The layer III bit rate nearest to kbps that an MP3 of sampleRate Hz allows (MPEG-1
// from 32000 Hz up, MPEG-2 and 2.5 below); kbps itself when sampleRate is 0.
int32_t AllowedBitRate(int32_t sampleRate, int32_t kbps);

// The FLAC compression level and the Opus bit rate (for PCM of `channels`) to use: a
// value the encoder would refuse is clamped (FLAC 0 to 8, Opus 6 to 256 kbit/s a
// channel), with one line in `notes` for the user.
int32_t FlacCompressionOf(const TMP3Settings& s, std::vector<std::string>& notes);
int32_t OpusBitrateOf(const TMP3Settings& s, uint32_t channels, std::vector<std::string>& notes);

struct BE_CONFIG_RECORD;
// Which value of an encoder configuration the encoder refuses, as a phrase ("bit rate
// 320 kbit/s is not allowed at 22050 Hz"), or "" when none is known to be wrong.
std::string RefusedMP3Setting(const BE_CONFIG_RECORD& config);

// Raised when the settings file (or cdplayer.ini) cannot be written; what() is
// exactly "Unable to write to <path>".
class ESettingsWriteError : public std::runtime_error {
public:
    explicit ESettingsWriteError(const std::string& path);
    const std::string& path() const { return Path; }

private:
    std::string Path;
};

// Raised by LoadSettings when the settings file exists but cannot be read; what() is
// "Unable to read <path>: <reason>". Settings are left as they were.
class ESettingsReadError : public std::runtime_error {
public:
    ESettingsReadError(const std::string& path, int error);
};

// Puts the initial defaults into Settings, ConfirmOverwrite included.
void SetDefaultSettings();
// Puts the initial defaults into Settings except ConfirmOverwrite (the options
// dialog's "Default" button).
void SetDefaultSettingsKeepConfirm();
// Reads the settings file into Settings; creates it from Settings and returns false
// when it does not exist. Throws ESettingsWriteError when that creation fails, and
// ESettingsReadError when the file is there but cannot be read.
bool LoadSettings();
// Writes the fifteen stored fields; throws ESettingsWriteError.
void SaveSettings();

// The settings file path in use.
std::string SettingsFilePath();
// The disc information file path (cdplayer.ini in the configuration folder).
std::string CDInfoFilePath();

// Reads a disc's section of cdplayer.ini. Never throws.
bool ReadCDInfo(const std::string& section, std::string& artist, std::string& album,
                std::string& year, std::string& genre, std::vector<std::string>& titles);
// Writes a disc's section of cdplayer.ini; titles may be null (no list). Never throws.
bool WriteCDInfo(const std::string& section, const std::string& artist, const std::string& album,
                 const std::string& year, const std::string& genre,
                 const std::vector<std::string>* titles);

// 0..65535 as decimal text, left-padded with "0" to two characters: 7 -> "07".
std::string TwoDigits(int value);
