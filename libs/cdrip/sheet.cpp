#include "sheet.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace cdrip {
namespace {

// Windows-1252 bytes 0x80..0x9F as Unicode; the five bytes it leaves undefined keep
// their C1 control code points.
constexpr std::array<uint16_t, 32> kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void putUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool allDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "MM:SS:FF" as sectors (minutes up to 999, seconds below 60, frames below 75); -1 when
// the text is not such a time.
int64_t msfSectors(const std::string& text) {
    const auto a = text.find(':');
    const auto b = a == std::string::npos ? a : text.find(':', a + 1);
    if (b == std::string::npos || text.find(':', b + 1) != std::string::npos)
        return -1;
    const std::string m = text.substr(0, a), s = text.substr(a + 1, b - a - 1),
                      f = text.substr(b + 1);
    if (!allDigits(m) || !allDigits(s) || !allDigits(f) || m.size() > 3 || s.size() > 2 ||
        f.size() > 2)
        return -1;
    const int64_t mm = std::stoll(m), ss = std::stoll(s), ff = std::stoll(f);
    if (ss >= 60 || ff >= 75)
        return -1;
    return (mm * 60 + ss) * 75 + ff;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file name as a sheet writes it, as a path to open: `\` is a separator, a name
// with a drive letter ("C:/Rips/x.wav", written on another machine) is looked for
// beside the sheet, and a relative name is taken from the sheet's folder.
std::string resolve(const std::string& sheetPath, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.size() > 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
        name[2] == '/')
        name = baseName(name);
    if (!name.empty() && name[0] == '/')
        return name;
    const std::string folder = folderOf(sheetPath);
    return folder == "." ? name : folder + "/" + name;
}

std::string sectorsText(int64_t n) {
    return std::to_string(n) + (n == 1 ? " sector" : " sectors");
}

// What both readers share: the disc being built, piece by piece, and the errors.
class Builder {
public:
    Builder(const std::string& sheetPath, const ProbeFn& probe, SheetDisc& disc)
        : sheet_(baseName(sheetPath)), sheetPath_(sheetPath), probe_(probe), disc_(disc) {}

    bool fail(int line, const std::string& why) {
        if (error_.empty())
            error_ = sheet_ + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + why;
        return false;
    }
    const std::string& error() const { return error_; }

    int64_t frames() const { return frames_; }
    bool aligned() const { return frames_ % kFramesPerSector == 0; }
    int32_t sector() const { return int32_t(frames_ / kFramesPerSector); }

    bool addSilence(int line, int64_t frames) {
        return frames == 0 || add(line, Piece{Piece::Silence, -1, 0, frames, 2352});
    }
    bool addAudio(int line, int file, uint64_t at, int64_t frames) {
        return frames == 0 || add(line, Piece{Piece::Audio, file, at, frames, 2352});
    }
    bool addData(int line, int file, uint64_t at, int64_t sectors, int32_t unit) {
        return sectors == 0 ||
               add(line, Piece{Piece::Data, file, at, sectors * kFramesPerSector, unit});
    }

    // Opens the file a FILE line names; -1 (and the error) when it cannot be used.
    int openFile(int line, const std::string& named, DeclaredType type) {
        SheetFile f;
        f.named = named;
        f.path = resolve(sheetPath_, named);
        f.line = line;
        f.facts = probe_(f.path, type);
        if (!f.facts.error.empty())
            return fail(line, f.facts.error), -1;
        disc_.files.push_back(std::move(f));
        return int(disc_.files.size() - 1);
    }

    // The file's sample data must hold `end` bytes.
    bool fileHolds(int line, int file, uint64_t end, int32_t unit) {
        const SheetFile& f = disc_.files[size_t(file)];
        if (end <= f.facts.payloadBytes)
            return true;
        return fail(line, f.named + " holds " +
                              sectorsText(int64_t(f.facts.payloadBytes / uint64_t(unit))) + " (" +
                              std::to_string(f.facts.payloadBytes) + " bytes), the sheet needs " +
                              sectorsText(int64_t((end + uint64_t(unit) - 1) / uint64_t(unit))) +
                              " (" + std::to_string(end) + " bytes)");
    }

    // The disc's end: the last sector made whole with silence, the lead-out after it.
    bool finish() {
        if (disc_.tracks.empty())
            return fail(0, "no tracks");
        // The last track needs a whole sector of its own before the end is made whole.
        const SheetTrack& last = disc_.tracks.back();
        if (last.start >= 0 && frames_ - int64_t(last.start) * kFramesPerSector < kFramesPerSector)
            return fail(last.line, "track " + std::to_string(last.number) +
                                       " holds no whole sector after its INDEX 01");
        if (!aligned() && !addSilence(0, kFramesPerSector - frames_ % kFramesPerSector))
            return false;
        disc_.leadout = sector();
        for (size_t i = 0; i < disc_.tracks.size(); ++i) {
            const SheetTrack& t = disc_.tracks[i];
            const int32_t end =
                i + 1 < disc_.tracks.size() ? disc_.tracks[i + 1].pregap : disc_.leadout;
            if (t.start >= end)
                return fail(t.line, "track " + std::to_string(t.number) +
                                        " holds no whole sector after its INDEX 01");
            for (int32_t at : t.indexes)
                if (at >= end)
                    return fail(t.line, "track " + std::to_string(t.number) +
                                            " has an index point beyond its end");
        }
        if (disc_.tracks.front().start < 0 || disc_.leadout < 1)
            return fail(0, "no audio");
        return true;
    }

private:
    bool add(int line, const Piece& p) {
        if (p.frames < 0)
            return fail(line, "a negative length");
        if (frames_ + p.frames > int64_t(kSheetMaxSectors) * kFramesPerSector)
            return fail(line, "the disc would be longer than 100 minutes");
        frames_ += p.frames;
        // A piece that goes on where the last one ended joins it.
        if (!disc_.pieces.empty()) {
            Piece& last = disc_.pieces.back();
            const uint64_t lastEnd =
                last.kind == Piece::Data
                    ? last.at + uint64_t(last.frames / kFramesPerSector) * uint64_t(last.unit)
                    : last.at + uint64_t(last.frames) * 4;
            if (last.kind == p.kind && last.file == p.file && last.unit == p.unit &&
                (p.kind == Piece::Silence || lastEnd == p.at)) {
                last.frames += p.frames;
                return true;
            }
        }
        disc_.pieces.push_back(p);
        return true;
    }

    std::string sheet_, sheetPath_;
    const ProbeFn& probe_;
    SheetDisc& disc_;
    int64_t frames_ = 0;
    std::string error_;
};

// ---- Cue sheets ----

struct Word {
    std::string text;
    bool quoted = false;
};

std::vector<Word> splitLine(const std::string& line) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        Word w;
        if (line[i] == '"') {
            const auto close = line.find('"', i + 1);
            w.quoted = true;
            w.text =
                line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
            i = close == std::string::npos ? line.size() : close + 1;
        } else {
            const auto end = line.find_first_of(" \t", i);
            w.text = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? line.size() : end;
        }
        words.push_back(std::move(w));
    }
    return words;
}

// Bytes one sector of a cue track mode takes in its file; 0 for an unknown mode.
int32_t cueUnit(const std::string& mode) {
    static const std::pair<const char*, int32_t> modes[] = {
        {"AUDIO", 2352},      {"CDG", 2448},        {"MODE1/2352", 2352}, {"MODE1/2048", 2048},
        {"MODE2/2352", 2352}, {"MODE2/2336", 2336}, {"CDI/2352", 2352},   {"CDI/2336", 2336}};
    for (const auto& [name, unit] : modes)
        if (mode == name)
            return unit;
    return 0;
}

class CueReader {
public:
    CueReader(Builder& b, SheetDisc& d) : b_(b), d_(d) {}

    bool line(int n, const std::string& text) {
        std::vector<Word> w = splitLine(text);
        if (w.empty())
            return true;
        const std::string key = upper(w[0].text);
        if (key == "REM" || key == "ARRANGER" || key == "COMPOSER" || key == "MESSAGE" ||
            key == "DISC_ID" || key == "GENRE" || key == "TOC_INFO1" || key == "TOC_INFO2" ||
            key == "UPC_EAN" || key == "SIZE_INFO")
            return true;
        if (key == "FILE")
            return file(n, w);
        if (key == "TRACK")
            return track(n, w);
        if (key == "INDEX")
            return index(n, w);
        if (key == "TITLE" || key == "PERFORMER" || key == "SONGWRITER")
            return cdText(n, key, w);
        if (key == "CATALOG")
            return catalog(n, w);
        if (key == "CDTEXTFILE")
            return d_.cdTextFile = w.size() > 1 ? w[1].text : "", true;
        if (key == "FLAGS" || key == "ISRC" || key == "PREGAP" || key == "POSTGAP")
            return trackLine(n, key, w);
        return b_.fail(n, "unknown keyword " + w[0].text);
    }

    bool end(int lastLine) {
        if (!closeTrack(lastLine) || !flushFile(lastLine))
            return false;
        return b_.addSilence(lastLine, int64_t(postgap_) * kFramesPerSector);
    }

private:
    SheetTrack* current() { return d_.tracks.empty() ? nullptr : &d_.tracks.back(); }

    bool file(int n, const std::vector<Word>& w) {
        if (w.size() < 3)
            return b_.fail(n, "FILE needs a name and a type");
        std::string name = w[1].text;
        if (!w[1].quoted)
            for (size_t i = 2; i + 1 < w.size(); ++i)
                name += " " + w[i].text; // an unquoted name with spaces
        const std::string type = upper(w.back().text);
        DeclaredType declared;
        if (type == "BINARY")
            declared = DeclaredType::Binary;
        else if (type == "MOTOROLA")
            declared = DeclaredType::Motorola;
        else if (type == "WAVE" || type == "FLAC")
            declared = DeclaredType::Wave;
        else if (type == "AIFF" || type == "MP3")
            return b_.fail(n, type + " files are not read: only BINARY, MOTOROLA, WAVE and FLAC");
        else
            return b_.fail(n, "unknown file type " + w.back().text);
        if (!flushFile(n))
            return false;
        const int f = b_.openFile(n, name, declared);
        if (f < 0)
            return false;
        file_ = f;
        fileSector_ = 0;
        fileByte_ = 0;
        return true;
    }

    bool track(int n, const std::vector<Word>& w) {
        if (file_ < 0)
            return b_.fail(n, "TRACK before any FILE");
        if (w.size() < 3 || !allDigits(w[1].text) || w[1].text.size() > 2)
            return b_.fail(n, "TRACK needs a number and a mode");
        const int number = std::stoi(w[1].text);
        if (!closeTrack(n))
            return false;
        if (number < 1 || number > 99 || (current() && number != current()->number + 1))
            return b_.fail(n, "track " + w[1].text + " out of order");
        const std::string mode = upper(w[2].text);
        const int32_t unit = cueUnit(mode);
        if (unit == 0 || unit == 2448)
            return b_.fail(n, "unknown track mode " + w[2].text);
        SheetTrack t;
        t.number = number;
        t.audio = mode == "AUDIO";
        t.mode = mode;
        t.line = n;
        t.start = t.pregap = -1;
        d_.tracks.push_back(t);
        unit_ = unit;
        indexSeen_ = -1;
        return true;
    }

    // A track must have its INDEX 01 before the next TRACK line or the end.
    bool closeTrack(int n) {
        SheetTrack* t = current();
        if (t && t->start < 0)
            return b_.fail(n, "track " + std::to_string(t->number) + " has no INDEX 01");
        return true;
    }

    // The rest of the file belongs to the track whose audio runs at its end.
    bool flushFile(int n) {
        if (file_ < 0)
            return true;
        const SheetFile& f = d_.files[size_t(file_)];
        const uint64_t rest = f.facts.payloadBytes - std::min(fileByte_, f.facts.payloadBytes);
        // Bytes of a last partial sample are left out.
        if (runningUnit_ != 2352 || !runningAudio_) {
            if (rest % uint64_t(runningUnit_) != 0)
                return b_.fail(n, f.named + " ends in the middle of a sector");
            if (!b_.addData(n, file_, fileByte_, int64_t(rest / uint64_t(runningUnit_)),
                            runningUnit_))
                return false;
        } else if (!b_.addAudio(n, file_, fileByte_, int64_t(rest / 4))) {
            return false;
        }
        fileByte_ = f.facts.payloadBytes;
        file_ = -1;
        return true;
    }

    // Hands the file's sectors up to `sector` (of the file) to the track running there.
    bool emitTo(int n, int64_t sector) {
        if (sector < fileSector_)
            return b_.fail(n, "INDEX goes back in its file");
        const uint64_t end = fileByte_ + uint64_t(sector - fileSector_) * uint64_t(runningUnit_);
        if (!b_.fileHolds(n, file_, end, runningUnit_))
            return false;
        const int64_t count = sector - fileSector_;
        const bool ok = runningAudio_ && runningUnit_ == 2352
                            ? b_.addAudio(n, file_, fileByte_, count * kFramesPerSector)
                            : b_.addData(n, file_, fileByte_, count, runningUnit_);
        fileByte_ = end;
        fileSector_ = sector;
        return ok;
    }

    bool index(int n, const std::vector<Word>& w) {
        SheetTrack* t = current();
        if (!t)
            return b_.fail(n, "INDEX before any TRACK");
        if (file_ < 0)
            return b_.fail(n, "INDEX after the end of its FILE");
        if (w.size() < 3 || !allDigits(w[1].text) || w[1].text.size() > 2)
            return b_.fail(n, "INDEX needs a number and a time");
        const int number = std::stoi(w[1].text);
        const int64_t at = msfSectors(w[2].text);
        if (at < 0)
            return b_.fail(n, "not a time (MM:SS:FF): " + w[2].text);
        if (number > 99 || (indexSeen_ < 0 ? number > 1 : number != indexSeen_ + 1))
            return b_.fail(n, "INDEX " + w[1].text + " out of order");
        const bool first = indexSeen_ < 0;
        if (!emitTo(n, at))
            return false;
        if (first) {
            // The track's first point: the audio before it ends the previous track; the
            // previous track's POSTGAP and this track's PREGAP are silence in between.
            if (!b_.addSilence(n, int64_t(postgap_) * kFramesPerSector))
                return false;
            postgap_ = 0;
            t->pregap = d_.tracks.size() == 1 ? 0 : b_.sector();
            if (!b_.addSilence(n, int64_t(t->pregapSilence) * kFramesPerSector))
                return false;
            runningAudio_ = t->audio;
            runningUnit_ = unit_;
        }
        if (!b_.aligned())
            return b_.fail(n, "INDEX falls inside a sector: the audio before it is not a whole "
                              "number of sectors");
        if (number == 1)
            t->start = b_.sector();
        else if (number > 1)
            t->indexes.push_back(b_.sector());
        indexSeen_ = number;
        return true;
    }

    bool cdText(int n, const std::string& key, const std::vector<Word>& w) {
        if (w.size() < 2)
            return b_.fail(n, key + " needs a text");
        std::string text = w[1].text;
        if (!w[1].quoted)
            for (size_t i = 2; i < w.size(); ++i)
                text += " " + w[i].text;
        SheetTrack* t = current();
        std::string& field = key == "TITLE"       ? (t ? t->title : d_.title)
                             : key == "PERFORMER" ? (t ? t->performer : d_.performer)
                                                  : (t ? t->songwriter : d_.songwriter);
        field = text;
        return true;
    }

    // A malformed number is left out, as a malformed ISRC is.
    bool catalog(int, const std::vector<Word>& w) {
        const bool valid = w.size() > 1 && w[1].text.size() == 13 && allDigits(w[1].text);
        d_.catalog = valid && w[1].text != std::string(13, '0') ? w[1].text : "";
        return true;
    }

    bool trackLine(int n, const std::string& key, const std::vector<Word>& w) {
        SheetTrack* t = current();
        if (!t)
            return b_.fail(n, key + " before any TRACK");
        if (key == "FLAGS") {
            for (size_t i = 1; i < w.size(); ++i) {
                const std::string f = upper(w[i].text);
                t->dcp |= f == "DCP";
                t->pre |= f == "PRE";
                t->fourChannel |= f == "4CH";
                t->scms |= f == "SCMS";
            }
            return true;
        }
        if (key == "ISRC") {
            // A malformed code is left out: it says nothing of where the audio is.
            const std::string code = w.size() > 1 ? upper(w[1].text) : "";
            const bool valid =
                code.size() == 12 && std::all_of(code.begin(), code.end(), [](char c) {
                    return std::isalnum(static_cast<unsigned char>(c));
                });
            t->isrc = valid && code != std::string(12, '0') ? code : "";
            return true;
        }
        const int64_t length = w.size() > 1 ? msfSectors(w[1].text) : -1;
        if (length < 0)
            return b_.fail(n, key + " needs a time (MM:SS:FF)");
        if (key == "PREGAP") {
            if (indexSeen_ >= 0)
                return b_.fail(n, "PREGAP after an INDEX of its track");
            t->pregapSilence = int32_t(length);
        } else {
            if (indexSeen_ < 0)
                return b_.fail(n, "POSTGAP before the INDEX lines of its track");
            t->postgapSilence = int32_t(length);
            postgap_ = int32_t(length);
        }
        return true;
    }

    Builder& b_;
    SheetDisc& d_;
    int file_ = -1;
    int64_t fileSector_ = 0;
    uint64_t fileByte_ = 0;
    int32_t unit_ = 2352;        // of the track last named
    int32_t runningUnit_ = 2352; // of the track whose sectors run in the file now
    bool runningAudio_ = true;
    int indexSeen_ = -1;
    int32_t postgap_ = 0; // POSTGAP sectors waiting for the end of their track
};

bool parseCue(const std::string& text, Builder& b, SheetDisc& d) {
    CueReader reader(b, d);
    int n = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find_first_of("\r\n", pos);
        std::string line =
            text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        ++n;
        if (!reader.line(n, line))
            return false;
        if (eol == std::string::npos)
            break;
        pos = eol + (text.compare(eol, 2, "\r\n") == 0 ? 2 : 1);
    }
    return reader.end(n);
}

// ---- cdrdao TOC files ----

struct Token {
    std::string text;
    bool quoted = false;
    int line = 0;
    bool escaped = false; // held octal escapes: its bytes are decoded on their own
};

// Words, quoted strings (with \" \\ and octal escapes), braces and colons; `//` starts a
// comment to the end of the line.
bool tokenize(const std::string& text, std::vector<Token>& out, Builder& b) {
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line, ++i;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
            ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '{' || c == '}' || c == ':') {
            out.push_back({std::string(1, c), false, line});
            ++i;
        } else if (c == '"') {
            Token t{"", true, line};
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\n')
                    return b.fail(line, "a text runs past the end of its line");
                if (text[i] == '\\' && i + 1 < text.size()) {
                    ++i;
                    if (text[i] >= '0' && text[i] <= '7') {
                        t.escaped = true;
                        int v = 0, k = 0;
                        while (k < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7')
                            v = v * 8 + (text[i++] - '0'), ++k;
                        t.text += char(v & 0xFF);
                        continue;
                    }
                }
                t.text += text[i++];
            }
            if (i >= text.size())
                return b.fail(line, "a text has no closing quote");
            ++i;
            out.push_back(std::move(t));
        } else {
            Token t{"", false, line};
            while (i < text.size() && !std::strchr(" \t\r\n{}\",", text[i]) &&
                   !(text[i] == '/' && i + 1 < text.size() && text[i + 1] == '/'))
                t.text += text[i++];
            // "0 : EN" and "00:02:00": a colon alone is a token, one inside a word is not.
            out.push_back(std::move(t));
        }
    }
    return true;
}

// Data track modes of a TOC file and the bytes a sector takes in the data file.
int32_t tocUnit(const std::string& mode) {
    static const std::pair<const char*, int32_t> modes[] = {
        {"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
        {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
        {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2336}, {"MODE2_RAW", 2352}};
    for (const auto& [name, unit] : modes)
        if (mode == name)
            return unit;
    return 0;
}

class TocReader {
public:
    TocReader(const std::vector<Token>& t, Builder& b, SheetDisc& d) : t_(t), b_(b), d_(d) {}

    bool run() {
        while (more()) {
            const Token& k = next();
            const std::string key = upper(k.text);
            bool ok = true;
            if (key == "CD_DA" || key == "CD_ROM" || key == "CD_ROM_XA" || key == "CD_I")
                ok = !track_;
            else if (key == "CATALOG" && !track_)
                ok = catalog(k);
            else if (key == "CD_TEXT")
                ok = cdTextBlock(k);
            else if (key == "TRACK")
                ok = startTrack(k);
            else if (track_)
                ok = trackStatement(k, key);
            else
                return b_.fail(k.line, "unknown keyword " + k.text);
            if (!ok)
                return b_.fail(k.line, "misplaced " + k.text);
        }
        return endTrack(lastLine());
    }

private:
    bool more() const { return pos_ < t_.size(); }
    const Token& next() { return t_[pos_++]; }
    const Token* peek() const { return more() ? &t_[pos_] : nullptr; }
    int lastLine() const { return t_.empty() ? 0 : t_.back().line; }
    SheetTrack& track() { return d_.tracks.back(); }

    // A length or position: MM:SS:FF (sectors) or a number of samples. -1 when absent.
    int64_t timeFrames(const Token* t) const {
        if (!t || t->quoted)
            return -1;
        const int64_t s = msfSectors(t->text);
        if (s >= 0)
            return s * kFramesPerSector;
        if (allDigits(t->text) && t->text.size() <= 10)
            return std::stoll(t->text);
        return -1;
    }

    bool catalog(const Token& k) {
        const Token* v = peek();
        if (!v || !v->quoted)
            return b_.fail(k.line, "CATALOG needs a number in quotes");
        const std::string number = next().text;
        d_.catalog = number.size() == 13 && allDigits(number) && number != std::string(13, '0')
                         ? number
                         : "";
        return true;
    }

    // CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE 0 { TITLE "..." ... } ... }: the fields of
    // the first language block; binary fields ({ 0, 1, ... }) and the rest skipped.
    bool cdTextBlock(const Token& k) {
        if (!more() || next().text != "{")
            return b_.fail(k.line, "CD_TEXT needs a block in braces");
        int blocks = 0;
        while (more()) {
            const Token& w = next();
            const std::string key = upper(w.text);
            if (w.text == "}")
                return true;
            if (key == "LANGUAGE_MAP") {
                if (!skipBlock(w))
                    return false;
            } else if (key == "LANGUAGE") {
                if (!more() || !allDigits(next().text))
                    return b_.fail(w.line, "LANGUAGE needs a number");
                if (!languageBlock(w, blocks++ == 0))
                    return false;
            } else {
                return b_.fail(w.line, "unknown CD_TEXT item " + w.text);
            }
        }
        return b_.fail(k.line, "CD_TEXT block not closed");
    }

    bool skipBlock(const Token& k) {
        if (!more() || next().text != "{")
            return b_.fail(k.line, k.text + " needs a block in braces");
        for (int depth = 1; more();) {
            const std::string& w = next().text;
            depth += w == "{" ? 1 : w == "}" ? -1 : 0;
            if (depth == 0)
                return true;
        }
        return b_.fail(k.line, k.text + " block not closed");
    }

    bool languageBlock(const Token& k, bool keep) {
        if (!more() || next().text != "{")
            return b_.fail(k.line, "LANGUAGE needs a block in braces");
        while (more()) {
            const Token& field = next();
            if (field.text == "}")
                return true;
            const Token* v = peek();
            if (!v)
                break;
            if (v->text == "{" && !v->quoted) {
                if (!skipBlock(field))
                    return false;
                continue;
            }
            if (!v->quoted)
                return b_.fail(field.line, field.text + " needs a text");
            const std::string value = next().text, key = upper(field.text);
            if (!keep)
                continue;
            const bool disc = !track_;
            if (key == "TITLE")
                (disc ? d_.title : track().title) = value;
            else if (key == "PERFORMER")
                (disc ? d_.performer : track().performer) = value;
            else if (key == "SONGWRITER")
                (disc ? d_.songwriter : track().songwriter) = value;
            else if (key == "ISRC" && !disc && track().isrc.empty())
                track().isrc = value;
        }
        return b_.fail(k.line, "LANGUAGE block not closed");
    }

    bool startTrack(const Token& k) {
        if (!endTrack(k.line))
            return false;
        const Token* m = peek();
        const std::string mode = m ? upper(m->text) : "";
        if (tocUnit(mode) == 0)
            return b_.fail(k.line, "unknown track mode " + (m ? m->text : std::string()));
        next();
        if (const Token* sub = peek();
            sub && (upper(sub->text) == "RW" || upper(sub->text) == "RW_RAW"))
            next();
        if (d_.tracks.size() == 99)
            return b_.fail(k.line, "more than 99 tracks");
        if (!b_.aligned())
            return b_.fail(k.line, "track " + std::to_string(d_.tracks.size() + 1) +
                                       " does not begin on a sector: the audio before it is not a "
                                       "whole number of sectors");
        SheetTrack t;
        t.number = int(d_.tracks.size()) + 1;
        t.audio = mode == "AUDIO";
        t.mode = mode;
        t.line = k.line;
        t.pregap = b_.sector();
        t.start = -1;
        d_.tracks.push_back(t);
        track_ = true;
        begin_ = b_.frames();
        unit_ = tocUnit(mode);
        return true;
    }

    // The track's INDEX 01 is its START, or its beginning without one.
    bool endTrack(int line) {
        if (!track_)
            return true;
        SheetTrack& t = track();
        if (t.start < 0)
            t.start = t.pregap;
        if (t.number == 1)
            t.pregap = 0;
        for (int64_t at : pendingIndexes_) {
            const int64_t frames = int64_t(t.start) * kFramesPerSector + at;
            if (frames % kFramesPerSector != 0)
                return b_.fail(line, "INDEX inside a sector");
            t.indexes.push_back(int32_t(frames / kFramesPerSector));
        }
        pendingIndexes_.clear();
        return true;
    }

    bool flag(const Token& k, const std::string& key) {
        SheetTrack& t = track();
        if (key == "NO") {
            const std::string what = more() ? upper(next().text) : "";
            if (what == "COPY")
                t.dcp = false;
            else if (what == "PRE_EMPHASIS")
                t.pre = false;
            else
                return b_.fail(k.line, "NO needs COPY or PRE_EMPHASIS");
        } else if (key == "COPY") {
            t.dcp = true;
        } else if (key == "PRE_EMPHASIS") {
            t.pre = true;
        } else {
            t.fourChannel = key == "FOUR_CHANNEL_AUDIO";
        }
        return true;
    }

    bool trackStatement(const Token& k, const std::string& key) {
        if (key == "NO" || key == "COPY" || key == "PRE_EMPHASIS" || key == "TWO_CHANNEL_AUDIO" ||
            key == "FOUR_CHANNEL_AUDIO")
            return flag(k, key);
        if (key == "ISRC") {
            const Token* v = peek();
            if (!v || !v->quoted)
                return b_.fail(k.line, "ISRC needs a code in quotes");
            const std::string code = upper(next().text);
            track().isrc = code.size() == 12 ? code : "";
            return true;
        }
        if (key == "SILENCE" || key == "PREGAP")
            return silence(k, key);
        if (key == "ZERO") {
            if (const Token* m = peek(); m && tocUnit(upper(m->text)) != 0)
                next();
            if (const Token* s = peek();
                s && (upper(s->text) == "RW" || upper(s->text) == "RW_RAW"))
                next();
            return silence(k, key);
        }
        if (key == "FILE" || key == "AUDIOFILE" || key == "DATAFILE")
            return fileStatement(k, key);
        if (key == "START")
            return start(k);
        if (key == "INDEX") {
            const int64_t at = timeFrames(peek());
            if (at <= 0)
                return b_.fail(k.line, "INDEX needs a time after the track's start");
            next();
            pendingIndexes_.push_back(at);
            return true;
        }
        if (key == "FIFO")
            return b_.fail(k.line, "FIFO statements are not read");
        return b_.fail(k.line, "unknown keyword " + k.text);
    }

    bool silence(const Token& k, const std::string& key) {
        const int64_t frames = timeFrames(peek());
        if (frames < 0)
            return b_.fail(k.line, key + " needs a length");
        next();
        if (key == "PREGAP") {
            if (b_.frames() != begin_ || track().start >= 0)
                return b_.fail(k.line, "PREGAP must come first in its track");
            track().pregapSilence = int32_t(frames / kFramesPerSector);
        }
        if (!b_.addSilence(k.line, frames))
            return false;
        if (key == "PREGAP")
            return markStart(k);
        return true;
    }

    bool markStart(const Token& k) {
        if (track().start >= 0)
            return b_.fail(k.line, "a second START in one track");
        if (!b_.aligned())
            return b_.fail(k.line, "START inside a sector");
        track().start = b_.sector();
        return true;
    }

    bool start(const Token& k) {
        const int64_t at = timeFrames(peek());
        if (at < 0)
            return markStart(k);
        next();
        if (begin_ + at > b_.frames())
            return b_.fail(k.line, "START beyond the audio given so far");
        if (track().start >= 0)
            return b_.fail(k.line, "a second START in one track");
        if ((begin_ + at) % kFramesPerSector != 0)
            return b_.fail(k.line, "START inside a sector");
        track().start = int32_t((begin_ + at) / kFramesPerSector);
        return true;
    }

    bool fileStatement(const Token& k, const std::string& key) {
        const Token* name = peek();
        if (!name || !name->quoted)
            return b_.fail(k.line, key + " needs a file name in quotes");
        const std::string named = next().text;
        bool swap = false;
        if (const Token* s = peek(); s && !s->quoted && upper(s->text) == "SWAP")
            swap = true, next();
        uint64_t offset = 0;
        if (const Token* o = peek(); o && !o->quoted && o->text.size() > 1 && o->text[0] == '#') {
            if (!allDigits(o->text.substr(1)) || o->text.size() > 13)
                return b_.fail(k.line, "not a byte offset: " + o->text);
            offset = std::stoull(o->text.substr(1));
            next();
        }
        const bool data = key == "DATAFILE" || !track().audio;
        const DeclaredType type = data && !track().audio ? DeclaredType::TocData
                                  : swap                 ? DeclaredType::Motorola
                                                         : DeclaredType::TocAudio;
        int64_t startFrames = 0;
        if (key != "DATAFILE") {
            startFrames = timeFrames(peek());
            if (startFrames < 0)
                return b_.fail(k.line, key + " needs a start (MM:SS:FF or samples)");
            next();
        }
        int64_t length = timeFrames(peek());
        if (length >= 0)
            next();
        const int f = openOrReuse(k.line, named, type);
        if (f < 0)
            return false;
        const uint64_t payload = d_.files[size_t(f)].facts.payloadBytes;
        if (!track().audio) {
            const uint64_t from = offset;
            const uint64_t bytes = length >= 0
                                       ? uint64_t(length / kFramesPerSector) * uint64_t(unit_)
                                       : (payload > from ? payload - from : 0);
            if (bytes % uint64_t(unit_) != 0)
                return b_.fail(k.line, named + ": not a whole number of sectors");
            return b_.fileHolds(k.line, f, from + bytes, unit_) &&
                   b_.addData(k.line, f, from, int64_t(bytes / uint64_t(unit_)), unit_);
        }
        const uint64_t from = offset + uint64_t(startFrames) * 4;
        if (length < 0) {
            if (payload < from)
                return b_.fileHolds(k.line, f, from, 4);
            length = int64_t((payload - from) / 4);
        }
        return b_.fileHolds(k.line, f, from + uint64_t(length) * 4, 2352) &&
               b_.addAudio(k.line, f, from, length);
    }

    int openOrReuse(int line, const std::string& named, DeclaredType type) {
        for (size_t i = 0; i < d_.files.size(); ++i)
            if (d_.files[i].named == named)
                return int(i);
        return b_.openFile(line, named, type);
    }

    const std::vector<Token>& t_;
    Builder& b_;
    SheetDisc& d_;
    size_t pos_ = 0;
    bool track_ = false;
    int64_t begin_ = 0; // frames before the current track
    int32_t unit_ = 2352;
    std::vector<int64_t> pendingIndexes_; // INDEX positions after START, in frames
};

} // namespace

bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = uint8_t(s[i]);
        const int extra = b < 0x80             ? 0
                          : (b & 0xE0) == 0xC0 ? 1
                          : (b & 0xF0) == 0xE0 ? 2
                          : (b & 0xF8) == 0xF0 ? 3
                                               : -1;
        if (extra < 0 || i + size_t(extra) >= s.size() + (extra == 0 ? 1 : 0))
            return false;
        uint32_t cp = extra == 0 ? b : b & (0x3Fu >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto c = uint8_t(s[i + size_t(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (c & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += size_t(extra) + 1;
    }
    return true;
}

std::string sheetText(std::string_view bytes, std::string* encoding) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    if (validUtf8(bytes)) {
        if (encoding)
            *encoding = "UTF-8";
        return std::string(bytes);
    }
    if (encoding)
        *encoding = "Windows-1252";
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        const auto b = uint8_t(c);
        putUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252[b - 0x80] : b);
    }
    return out;
}

bool parseSheet(std::string_view bytes, const std::string& sheetPath, bool toc,
                const ProbeFn& probe, SheetDisc* disc, std::string* error) {
    SheetDisc d;
    d.toc = toc;
    Builder b(sheetPath, probe, d);
    auto done = [&](bool ok) {
        if (!ok) {
            if (error)
                *error = b.error();
            return false;
        }
        *disc = std::move(d);
        return true;
    };
    if (bytes.size() > kSheetMaxBytes)
        return done(b.fail(0, "larger than 1 MiB: not a sheet"));
    if (bytes.find('\0') != std::string_view::npos)
        return done(b.fail(0, "holds NUL bytes: not a text file"));
    const std::string text = sheetText(bytes, &d.encoding);
    if (toc) {
        std::vector<Token> tokens;
        if (!tokenize(text, tokens, b))
            return done(false);
        // cdrdao writes CD-TEXT bytes beyond ASCII as octal escapes, in ISO-8859-1.
        for (Token& t : tokens)
            if (t.escaped && !validUtf8(t.text))
                t.text = sheetText(t.text, &d.encoding);
        TocReader reader(tokens, b, d);
        if (!reader.run())
            return done(false);
    } else if (!parseCue(text, b, d)) {
        return done(false);
    }
    return done(b.finish());
}

} // namespace cdrip
