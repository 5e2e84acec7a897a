#include "settings/globals.h"

#include "encoding/LameCoder.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <set>
#include <unistd.h>

TMP3Settings Settings;

ESettingsReadError::ESettingsReadError(const std::string& path, int error)
    : std::runtime_error("Unable to read " + path + ": " + std::strerror(error)) {}

ESettingsWriteError::ESettingsWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), Path(path) {}

namespace {

// Bit rates of MPEG-1 layer III (MP3 sample rates of 32000 Hz and more) and of MPEG-2
// and 2.5 (below 32000 Hz), in kbit/s.
constexpr int32_t Mpeg1BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int32_t Mpeg2BitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int32_t MpegSampleRates[] = {8000,  11025, 12000, 16000, 22050,
                                       24000, 32000, 44100, 48000};

template <std::size_t N> bool contains(const int32_t (&table)[N], int32_t value) {
    return std::find(std::begin(table), std::end(table), value) != std::end(table);
}

// The allowed bit rate nearest to kbps (the lower one of two as near).
template <std::size_t N> int32_t nearest(const int32_t (&table)[N], int32_t kbps) {
    int32_t best = table[0];
    for (int32_t rate : table)
        if (std::abs(int64_t{rate} - kbps) < std::abs(int64_t{best} - kbps))
            best = rate;
    return best;
}

bool mpeg1(uint32_t sampleRate) {
    return sampleRate >= 32000;
}

} // namespace

int32_t AllowedBitRate(int32_t sampleRate, int32_t kbps) {
    if (sampleRate <= 0)
        return kbps; // the encoder chooses the rate, and with it the table
    return mpeg1(static_cast<uint32_t>(sampleRate)) ? nearest(Mpeg1BitRates, kbps)
                                                    : nearest(Mpeg2BitRates, kbps);
}

std::vector<std::string> ApplyMP3Settings(const TMP3Settings& s, TLameCoder& coder) {
    std::vector<std::string> notes;
    int32_t bitRate = s.BitRates;
    if (s.EnableVBR == 0) {
        bitRate = AllowedBitRate(s.SampleRates, s.BitRates);
        if (bitRate != s.BitRates)
            notes.push_back("bit rate " + std::to_string(s.BitRates) +
                            " kbit/s is not allowed at " + std::to_string(s.SampleRates) +
                            " Hz; using " + std::to_string(bitRate) + " kbit/s");
    }
    // The encoder takes the low byte of Quality; beyond 0 to 3 it is clamped.
    const int32_t quality = std::clamp<int32_t>(s.Quality & 0xFF, NORMAL_QUALITY, VOICE_QUALITY);
    if (quality != (s.Quality & 0xFF))
        notes.push_back("quality " + std::to_string(s.Quality) +
                        " is out of range (0 to 3); using " + std::to_string(quality));
    coder.SetOutSampleRate(static_cast<uint32_t>(s.SampleRates));
    coder.SetBitrate(static_cast<uint32_t>(bitRate));
    coder.SetMaxBitrate(static_cast<uint32_t>(s.MaxBitRates));
    coder.SetMode(static_cast<TLameMode>(s.Mode & 0xFF));
    coder.SetQuality(static_cast<MPEG_QUALITY>(quality));
    coder.SetVBRQuality(s.VBRQuality);
    coder.SetEnableVBR(s.EnableVBR);
    coder.SetWriteVBRHeader(s.WriteVBRHeader);
    coder.SetCopyright(s.CopyRight);
    coder.SetOriginal(s.Original);
    coder.SetCRC(s.CRC);
    coder.SetPrivate(s.bPrivate);
    return notes;
}

int32_t FlacCompressionOf(const TMP3Settings& s, std::vector<std::string>& notes) {
    const int32_t level = std::clamp<int32_t>(s.FlacCompression, 0, 8);
    if (level != s.FlacCompression)
        notes.push_back("FLAC compression level " + std::to_string(s.FlacCompression) +
                        " is out of range (0 to 8); using " + std::to_string(level));
    return level;
}

int32_t OpusBitrateOf(const TMP3Settings& s, uint32_t channels, std::vector<std::string>& notes) {
    const auto most = static_cast<int32_t>(256 * std::max<uint32_t>(channels, 1));
    const int32_t kbps = std::clamp<int32_t>(s.OpusBitrate, 6, most);
    if (kbps != s.OpusBitrate)
        notes.push_back("Opus bit rate " + std::to_string(s.OpusBitrate) +
                        " kbit/s is out of range (6 to " + std::to_string(most) + "); using " +
                        std::to_string(kbps) + " kbit/s");
    return kbps;
}

std::string RefusedMP3Setting(const BE_CONFIG_RECORD& c) {
    const bool vbr = c.enableVBR != 0;
    const auto rate = static_cast<int32_t>(c.outSampleRate);
    if (c.outSampleRate != 0 && !contains(MpegSampleRates, rate))
        return "sample rate " + std::to_string(c.outSampleRate) + " Hz is not an MP3 sample rate";
    if (c.mode < BE_MODE_STEREO || c.mode > BE_MODE_MONO)
        return "mode " + std::to_string(c.mode) + " is not a channel mode (0 to 3)";
    if (c.quality < BE_QUALITY_NORMAL || c.quality > BE_QUALITY_VOICE)
        return "quality " + std::to_string(c.quality) + " is out of range (0 to 3)";
    const auto kbps = static_cast<int32_t>(c.bitrate);
    if (!vbr && c.outSampleRate != 0 && AllowedBitRate(rate, kbps) != kbps)
        return "bit rate " + std::to_string(c.bitrate) + " kbit/s is not allowed at " +
               std::to_string(c.outSampleRate) + " Hz";
    if (!contains(Mpeg1BitRates, kbps) && !contains(Mpeg2BitRates, kbps))
        return "bit rate " + std::to_string(c.bitrate) + " kbit/s is not an MP3 bit rate";
    if (vbr && (c.vbrQuality < 0 || c.vbrQuality > 9))
        return "VBR quality " + std::to_string(c.vbrQuality) + " is out of range (0 to 9)";
    if (vbr && !contains(Mpeg1BitRates, static_cast<int32_t>(c.maxBitrate)) &&
        !contains(Mpeg2BitRates, static_cast<int32_t>(c.maxBitrate)))
        return "maximum bit rate " + std::to_string(c.maxBitrate) +
               " kbit/s is not an MP3 bit rate";
    return {};
}

namespace {

using ProfileIni::Assignment;

constexpr const char* SystemSection = "System";
constexpr const char* Mp3Section = "MP3";
constexpr const char* FlacSection = "FLAC";
constexpr const char* OpusSection = "Opus";

std::string boolText(bool value) {
    return value ? "1" : "0";
}

// A 32-bit boolean as the encoder takes it: -1 (all bits set) for true.
int32_t bool32(bool value) {
    return value ? -1 : 0;
}

bool readBool(const std::string& file, const char* section, const char* key, bool def) {
    return ProfileIni::readInteger(file, section, key, def ? 1 : 0) != 0;
}

int32_t readBool32(const std::string& file, const char* key, bool def) {
    return bool32(readBool(file, Mp3Section, key, def));
}

void readProofKeys(const std::string& file, TMP3Settings& s) {
    // A missing or unreadable offset leaves the choice to the drive.
    constexpr int32_t unset = std::numeric_limits<int32_t>::min();
    const int32_t offset = ProfileIni::readInteger(file, SystemSection, "ReadOffset", unset);
    s.ReadOffset = offset != unset ? std::optional<int32_t>(offset) : std::nullopt;
    s.AccurateRip = readBool(file, SystemSection, "AccurateRip", true);
    s.AccurateRipFirst = readBool(file, SystemSection, "AccurateRipFirst", true);
    s.AccurateRipConfidence = std::clamp(
        ProfileIni::readInteger(file, SystemSection, "AccurateRipConfidence", 2), 1, 1000);
    s.Lookup = readBool(file, SystemSection, "Lookup", true);
    s.CoverArt = readBool(file, SystemSection, "CoverArt", true);
    s.EmbedCover = readBool(file, SystemSection, "EmbedCover", true);
    s.HiddenTrack = readBool(file, SystemSection, "HiddenTrack", false);
}

void readFormatKeys(const std::string& file, TMP3Settings& s) {
    const TMP3Settings defaults;
    s.FlacCompression =
        ProfileIni::readInteger(file, FlacSection, "Compression", defaults.FlacCompression);
    s.OpusBitrate = ProfileIni::readInteger(file, OpusSection, "Bitrate", defaults.OpusBitrate);
    s.ReplayGain = readBool(file, SystemSection, "ReplayGain", defaults.ReplayGain);
}

bool hasKey(const std::string& file, const char* section, const char* key) {
    const std::string none = "\n"; // no value read from a line can hold a line break
    return ProfileIni::readString(file, section, key, none) != none;
}

// The format keys, when they differ from their defaults, or when the file holds them
// already (so that a value set back to its default replaces the old one).
void appendFormatKeys(const std::string& file, const TMP3Settings& s,
                      std::vector<Assignment>& keys) {
    const TMP3Settings defaults;
    const auto add = [&](const char* section, const char* key, bool differs,
                         const std::string& value) {
        if (differs || hasKey(file, section, key)) {
            keys.push_back({section, key, value});
        }
    };
    add(FlacSection, "Compression", s.FlacCompression != defaults.FlacCompression,
        std::to_string(s.FlacCompression));
    add(OpusSection, "Bitrate", s.OpusBitrate != defaults.OpusBitrate,
        std::to_string(s.OpusBitrate));
    add(SystemSection, "ReplayGain", s.ReplayGain != defaults.ReplayGain, boolText(s.ReplayGain));
}

// The keys beyond the fourteen, when they differ from a file without them.
void appendProofKeys(const TMP3Settings& s, std::vector<Assignment>& keys) {
    if (s.ReadOffset) {
        keys.push_back({SystemSection, "ReadOffset", std::to_string(*s.ReadOffset)});
    }
    if (!s.AccurateRip) {
        keys.push_back({SystemSection, "AccurateRip", "0"});
    }
    if (!s.AccurateRipFirst) {
        keys.push_back({SystemSection, "AccurateRipFirst", "0"});
    }
    if (s.AccurateRipConfidence != 2) {
        keys.push_back(
            {SystemSection, "AccurateRipConfidence", std::to_string(s.AccurateRipConfidence)});
    }
    if (!s.Lookup) {
        keys.push_back({SystemSection, "Lookup", "0"});
    }
    if (!s.CoverArt) {
        keys.push_back({SystemSection, "CoverArt", "0"});
    }
    if (!s.EmbedCover) {
        keys.push_back({SystemSection, "EmbedCover", "0"});
    }
    if (s.HiddenTrack) {
        keys.push_back({SystemSection, "HiddenTrack", "1"});
    }
}

// Creates the folder a file is to go into; a failure shows as the write's failure.
void prepareFolder(const std::string& file) {
    Paths::createFolders(Paths::folderOf(file));
}

// Everything but blanks and control characters, as the fallbacks judge emptiness.
bool isBlank(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        c = lowerAscii(c);
    return text;
}

// The section's entries with non-empty values, each key once (its first occurrence).
ProfileIni::Entries discEntries(const std::string& file, const std::string& section) {
    ProfileIni::Entries kept;
    std::set<std::string> seen;
    for (auto& [key, value] : ProfileIni::readSection(file, section))
        if (seen.insert(lowerAscii(key)).second && !value.empty())
            kept.emplace_back(key, value);
    return kept;
}

std::string valueOf(const ProfileIni::Entries& entries, const std::string& key) {
    for (const auto& [name, value] : entries)
        if (lowerAscii(name) == key)
            return value;
    return {};
}

void readDiscSection(const std::string& file, const std::string& section, std::string& artist,
                     std::string& album, std::string& year, std::string& genre,
                     std::vector<std::string>& titles) {
    const ProfileIni::Entries entries = discEntries(file, section);
    // Save writes "album"; files other programs wrote hold "title".
    album = valueOf(entries, "album");
    if (album.empty())
        album = valueOf(entries, "title");
    artist = valueOf(entries, "artist");
    year = valueOf(entries, "year");
    genre = valueOf(entries, "genre");
    // As many titles as the section has non-empty keys, whatever they are called.
    for (std::size_t i = 0; i < entries.size(); ++i)
        titles.push_back(valueOf(entries, std::to_string(i)));
}

void applyFallbacks(std::string& artist, std::string& album, std::string& genre) {
    if (isBlank(album))
        album = "No Title";
    if (isBlank(artist))
        artist = "No Artist";
    if (isBlank(genre))
        genre = "Other";
}

} // namespace

void SetDefaultSettings() {
    Settings = TMP3Settings{};
    Settings.OutDir = Paths::musicFolder();
}

void SetDefaultSettingsKeepConfirm() {
    const TMP3Settings kept = Settings;
    SetDefaultSettings();
    Settings.ConfirmOverwrite = kept.ConfirmOverwrite;
    Settings.ReadOffset = kept.ReadOffset;
    Settings.AccurateRip = kept.AccurateRip;
    Settings.AccurateRipFirst = kept.AccurateRipFirst;
    Settings.AccurateRipConfidence = kept.AccurateRipConfidence;
    Settings.Lookup = kept.Lookup;
    Settings.CoverArt = kept.CoverArt;
    Settings.EmbedCover = kept.EmbedCover;
    Settings.HiddenTrack = kept.HiddenTrack;
}

std::string SettingsFilePath() {
    return Paths::settingsFilePath();
}

std::string CDInfoFilePath() {
    return Paths::configFolder() + "/cdplayer.ini";
}

bool LoadSettings() {
    const std::string file = SettingsFilePath();
    if (!Paths::fileExists(file)) {
        SaveSettings();
        return false;
    }
    // A file that is there but cannot be read would give every key its default without
    // a word: say so, and leave the settings as they are. (Non-blocking: a FIFO in the
    // file's place must not hang the start.)
    if (const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
        ::close(fd);
    } else {
        throw ESettingsReadError(file, errno);
    }
    TMP3Settings& s = Settings;
    s.OutDir = ProfileIni::readString(file, SystemSection, "OutDir", Paths::musicFolder());
    s.OpenWhenDone = readBool(file, SystemSection, "OpenWhenDone", true);
    s.SampleRates = ProfileIni::readInteger(file, Mp3Section, "SampleRates", 44100);
    s.BitRates = ProfileIni::readInteger(file, Mp3Section, "BitRates", 128);
    s.MaxBitRates = ProfileIni::readInteger(file, Mp3Section, "MaxBitRates", 320);
    s.Mode = ProfileIni::readInteger(file, Mp3Section, "Mode", 0);
    s.Quality = ProfileIni::readInteger(file, Mp3Section, "Quality", 0);
    // An existing file without these two keys turns VBR off.
    s.EnableVBR = readBool32(file, "EnableVBR", false);
    s.WriteVBRHeader = readBool32(file, "WriteVBRHeader", false);
    s.VBRQuality = ProfileIni::readInteger(file, Mp3Section, "VBRQuality", 5);
    s.CopyRight = readBool32(file, "CopyRight", false);
    s.Original = readBool32(file, "Original", false);
    s.CRC = readBool32(file, "CRC", true);
    s.bPrivate = readBool32(file, "bPrivate", false);
    readProofKeys(file, s);
    readFormatKeys(file, s);
    return true;
}

void SaveSettings() {
    const std::string file = SettingsFilePath();
    const TMP3Settings& s = Settings;
    std::vector<Assignment> keys = {
        {SystemSection, "OutDir", s.OutDir},
        {SystemSection, "OpenWhenDone", boolText(s.OpenWhenDone)},
        {Mp3Section, "SampleRates", std::to_string(s.SampleRates)},
        {Mp3Section, "BitRates", std::to_string(s.BitRates)},
        {Mp3Section, "MaxBitRates", std::to_string(s.MaxBitRates)},
        {Mp3Section, "Mode", std::to_string(s.Mode)},
        {Mp3Section, "Quality", std::to_string(s.Quality)},
        {Mp3Section, "EnableVBR", boolText(s.EnableVBR != 0)},
        {Mp3Section, "WriteVBRHeader", boolText(s.WriteVBRHeader != 0)},
        {Mp3Section, "VBRQuality", std::to_string(s.VBRQuality)},
        {Mp3Section, "CopyRight", boolText(s.CopyRight != 0)},
        {Mp3Section, "Original", boolText(s.Original != 0)},
        {Mp3Section, "CRC", boolText(s.CRC != 0)},
        {Mp3Section, "bPrivate", boolText(s.bPrivate != 0)},
    };
    appendProofKeys(s, keys);
    appendFormatKeys(file, s, keys);
    prepareFolder(file);
    try {
        // All fifteen keys in one replacement of the file: a failed save leaves the
        // old file as it was instead of half updated.
        ProfileIni::writeStrings(file, keys);
    } catch (const ProfileIni::EProfileWriteError&) {
        throw ESettingsWriteError(file);
    }
}

bool ReadCDInfo(const std::string& section, std::string& artist, std::string& album,
                std::string& year, std::string& genre, std::vector<std::string>& titles) {
    titles.clear();
    bool found = false;
    try {
        const std::string file = CDInfoFilePath();
        found = ProfileIni::sectionExists(file, section);
        if (found)
            readDiscSection(file, section, artist, album, year, genre, titles);
        applyFallbacks(artist, album, genre);
        return true;
    } catch (...) {
        return found;
    }
}

bool WriteCDInfo(const std::string& section, const std::string& artist, const std::string& album,
                 const std::string& year, const std::string& genre,
                 const std::vector<std::string>* titles) {
    try {
        const std::string file = CDInfoFilePath();
        std::vector<Assignment> keys = {{section, "artist", artist},
                                        {section, "album", album},
                                        {section, "year", year},
                                        {section, "genre", genre}};
        if (titles)
            for (std::size_t i = 0; i < titles->size(); ++i)
                keys.push_back({section, std::to_string(i), (*titles)[i]});
        prepareFolder(file);
        ProfileIni::writeStrings(file, keys);
        return true;
    } catch (...) {
        return false;
    }
}

std::string TwoDigits(int value) {
    std::string s = std::to_string(value);
    return s.size() < 2 ? "0" + s : s;
}
