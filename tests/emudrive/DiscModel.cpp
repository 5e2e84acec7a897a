#include "DiscModel.h"

#include "../FileBytes.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace emudrive {
namespace {

// "mm:ss:ff" in frames; -1 when malformed.
int msfFrames(const std::string& text) {
    int m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d%c", &m, &s, &f, &tail) != 3 || m < 0 || s < 0 ||
        s > 59 || f < 0 || f > 74)
        return -1;
    return (m * 60 + s) * 75 + f;
}

// The rest of a cue line after its keyword, without the quotes around it.
std::string argument(const std::string& rest) {
    std::string s = rest;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.erase(s.begin());
    while (!s.empty() && (s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    if (s.size() >= 2 && s.front() == '"') {
        const size_t close = s.find('"', 1);
        return s.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return s;
}

struct CueTrack {
    Track track;
    int index0 = -1, index1 = -1; // frames of the .bin
};

bool readBin(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    if (!std::ifstream(path, std::ios::binary)) {
        *error = "cannot open " + path;
        return false;
    }
    *bytes = FileBytesOf(path); // every program started on the drive loads its whole image
    if (bytes->empty() || bytes->size() % kSectorBytes != 0) {
        *error = path + " is not whole 2352-byte sectors";
        return false;
    }
    return true;
}

bool layOut(const std::vector<CueTrack>& cue, bool twoSessions, Disc* disc, std::string* error) {
    const int binSectors = int(disc->bin.size() / kSectorBytes);
    disc->leadout = binSectors;
    disc->audioEnd = binSectors;
    size_t firstData = cue.size();
    for (size_t i = 0; i < cue.size(); ++i) {
        if (cue[i].index1 < 0 || cue[i].index1 >= binSectors) {
            *error = "a track without INDEX 01 inside the image";
            return false;
        }
        if (cue[i].track.data && firstData == cue.size())
            firstData = i;
    }
    if (firstData < cue.size())
        disc->audioEnd = cue[firstData].index0 >= 0 ? cue[firstData].index0 : cue[firstData].index1;
    for (const CueTrack& t : cue) {
        disc->tracks.push_back(t.track);
        disc->tracks.back().start = t.index1;
    }
    if (firstData < cue.size())
        disc->dataStart = cue[firstData].index1;
    disc->dataBin = disc->dataStart;
    if (!twoSessions)
        return true;
    if (firstData + 1 != cue.size()) {
        *error = "a second session needs one data track, the last";
        return false;
    }
    disc->twoSessions = true;
    disc->dataStart = disc->audioEnd + kSessionGap;
    disc->tracks.back().start = disc->dataStart;
    disc->leadout = disc->dataStart + (binSectors - disc->dataBin);
    return true;
}

bool parseCue(const std::string& cuePath, std::vector<CueTrack>* tracks, Disc* disc,
              std::string* binPath, std::string* error) {
    std::ifstream in(cuePath);
    if (!in) {
        *error = "cannot open " + cuePath;
        return false;
    }
    const size_t slash = cuePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : cuePath.substr(0, slash + 1);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        std::string rest;
        std::getline(words, rest);
        if (key == "FILE") {
            std::string name = argument(rest);
            const size_t space = name.rfind(' ');
            if (rest.find('"') == std::string::npos && space != std::string::npos)
                name = name.substr(0, space); // FILE name BINARY
            *binPath = !name.empty() && name[0] == '/' ? name : folder + name;
        } else if (key == "TRACK") {
            CueTrack t;
            std::istringstream args(rest);
            std::string mode;
            args >> t.track.number >> mode;
            t.track.data = mode != "AUDIO";
            tracks->push_back(t);
        } else if (key == "INDEX" && !tracks->empty()) {
            std::istringstream args(rest);
            int number = -1;
            std::string at;
            args >> number >> at;
            (number == 0 ? tracks->back().index0 : tracks->back().index1) = msfFrames(at);
        } else if (key == "PREGAP" || key == "POSTGAP") {
            *error = "PREGAP and POSTGAP are not emulated";
            return false;
        } else if (key == "TITLE" || key == "PERFORMER" || key == "ISRC") {
            std::string* field = nullptr;
            if (tracks->empty())
                field = key == "TITLE"       ? &disc->title
                        : key == "PERFORMER" ? &disc->performer
                                             : nullptr;
            else
                field = key == "TITLE"       ? &tracks->back().track.title
                        : key == "PERFORMER" ? &tracks->back().track.performer
                                             : &tracks->back().track.isrc;
            if (field)
                *field = argument(rest);
        } else if (key == "CATALOG") {
            disc->mcn = argument(rest);
        }
    }
    if (tracks->empty() || binPath->empty()) {
        *error = cuePath + " has no FILE or no TRACK";
        return false;
    }
    return true;
}

bool range(const std::string& text, int* first, int* last) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d-%d%c", first, last, &tail) == 2)
        return *first >= 0 && *last >= *first;
    if (std::sscanf(text.c_str(), "%d%c", first, &tail) == 1) {
        *last = *first;
        return *first >= 0;
    }
    return false;
}

// A fault: RANGE, RANGE:K (burst), RANGE:P:MAX (jitter, slip), RANGE:P (short) or
// RANGE:BYTES (land, later).
bool parseFault(const std::string& kind, const std::string& value, Fault* f) {
    f->kind = kind;
    const size_t colon = value.find(':');
    if (!range(value.substr(0, colon), &f->first, &f->last))
        return false;
    const std::string tail = colon == std::string::npos ? "" : value.substr(colon + 1);
    if (kind == "burst")
        return std::sscanf(tail.c_str(), "%d", &f->count) == 1 && f->count > 0;
    if (kind == "wrong") { // bytes of each sector: 8 unless given, whole samples
        f->count = 8;
        char after = 0;
        return tail.empty() || (std::sscanf(tail.c_str(), "%d%c", &f->count, &after) == 1 &&
                                f->count >= 4 && f->count <= kSectorBytes && f->count % 4 == 0);
    }
    if (kind == "short" || kind == "shortpart")
        return std::sscanf(tail.c_str(), "%d", &f->percent) == 1 && f->percent >= 0 &&
               f->percent <= 100;
    if (kind == "land" || kind == "later") { // a whole number of samples either way
        char after = 0;
        return std::sscanf(tail.c_str(), "%d%c", &f->count, &after) == 1 && f->count != 0 &&
               f->count % 4 == 0 && f->count >= -10 * kSectorBytes && f->count <= 10 * kSectorBytes;
    }
    if (kind == "jitter" || kind == "slip")
        return std::sscanf(tail.c_str(), "%d:%d", &f->percent, &f->count) == 2 && f->percent >= 0 &&
               f->percent <= 100 && f->count > 0;
    return tail.empty();
}

bool number(const std::string& text, long* out) {
    char* end = nullptr;
    *out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

bool setting(const std::string& key, const std::string& value, Model* m) {
    long n = 0;
    const bool isNumber = number(value, &n);
    if (key == "device" || key == "cue" || key == "vendor" || key == "model" || key == "revision" ||
        key == "mcn" || key == "tray" || key == "change_to" || key == "stats" || key == "log") {
        std::string* fields[] = {&m->device, &m->cue,  &m->vendor,   &m->product,   &m->revision,
                                 &m->mcn,    &m->tray, &m->changeTo, &m->statsFile, &m->logFile};
        const char* names[] = {"device", "cue",  "vendor",    "model", "revision",
                               "mcn",    "tray", "change_to", "stats", "log"};
        for (size_t i = 0; i < 10; ++i)
            if (key == names[i])
                *fields[i] = value;
        return key != "tray" || value == "open" || value == "closed" || value == "nodisc";
    }
    if (key.rfind("isrc", 0) == 0) {
        long track = 0;
        if (!number(key.substr(4), &track) || track < 1 || track > 99)
            return false;
        m->isrc[int(track)] = value;
        return true;
    }
    if (key == "bad" || key == "c2bad" || key == "c2quiet" || key == "c2false" || key == "burst" ||
        key == "jitter" || key == "stale" || key == "slip" || key == "short" ||
        key == "shortpart" || key == "wrong" || key == "land" || key == "later" || key == "echo") {
        Fault f;
        if (!parseFault(key, value, &f))
            return false;
        m->faults.push_back(f);
        return true;
    }
    if (!isNumber)
        return false;
    if (key == "offset" && n >= -44100 && n <= 44100)
        m->offset = int(n);
    else if (key == "cache" && n >= 0 && n <= 100000)
        m->cache = int(n);
    else if (key == "cache_report" && n >= 0 && n <= 65535)
        m->cacheReportKB = int(n);
    else if (key == "c2" && (n == 0 || n == 1))
        m->c2 = n == 1;
    else if (key == "fua" && (n == 0 || n == 1))
        m->fuaFlushes = n == 1;
    else if (key == "speed" && n >= 1 && n <= 72)
        m->speed = int(n);
    else if (key == "pace_us" && n >= 0 && n <= 100000)
        m->paceMicros = int(n);
    else if (key == "max_sectors" && n >= 1 && n <= 1000)
        m->maxSectors = int(n);
    else if (key == "max_bytes" && n >= 0 && n <= 16 * 1024 * 1024)
        m->maxBytes = int(n);
    else if (key == "readahead" && n >= 0 && n <= 1000)
        m->readAhead = int(n);
    else if (key == "major" && n >= 1 && n <= 255)
        m->major = int(n);
    else if (key == "minor" && n >= 0 && n <= 255)
        m->minor = int(n);
    else if (key == "sessions" && (n == 1 || n == 2))
        m->twoSessions = n == 2;
    else if (key == "gone_after" && n >= 0)
        m->goneAfterReads = n;
    else if (key == "gone_at" && n >= 0)
        m->goneAt = int(n);
    else if (key == "change_at" && n >= 0)
        m->changeAt = int(n);
    else if (key == "change_after" && n >= 0)
        m->changeAfterReads = n;
    else if (key == "hide_others" && (n == 0 || n == 1))
        m->hideOthers = n == 1;
    else if (key == "seed" && n >= 0)
        m->seed = unsigned(n);
    else
        return false;
    return true;
}

} // namespace

int Disc::binSector(int lsn) const {
    const int binSectors = int(bin.size() / kSectorBytes);
    if (lsn < 0 || lsn >= leadout)
        return -1;
    if (!twoSessions)
        return lsn < binSectors ? lsn : -1;
    if (lsn < audioEnd)
        return lsn;
    if (lsn >= dataStart)
        return dataBin + (lsn - dataStart);
    return -1;
}

bool loadDisc(const std::string& cue, bool twoSessions, Disc* disc, std::string* error) {
    *disc = Disc{};
    std::vector<CueTrack> tracks;
    std::string binPath;
    if (!parseCue(cue, &tracks, disc, &binPath, error) || !readBin(binPath, &disc->bin, error) ||
        !layOut(tracks, twoSessions, disc, error))
        return false;
    disc->present = true;
    return true;
}

bool parseSettings(const std::string& text, Model* model, std::string* error) {
    std::string item;
    std::istringstream all(text);
    while (std::getline(all, item, ';')) {
        std::istringstream lines(item);
        std::string line;
        while (std::getline(lines, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            while (!line.empty() && line.front() == ' ')
                line.erase(line.begin());
            if (line.empty() || line[0] == '#')
                continue;
            const size_t eq = line.find('=');
            if (eq == std::string::npos ||
                !setting(line.substr(0, eq), line.substr(eq + 1), model)) {
                *error = "bad setting: " + line;
                return false;
            }
        }
    }
    return true;
}

} // namespace emudrive
