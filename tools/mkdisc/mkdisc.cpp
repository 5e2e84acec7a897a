// mkdisc: writes a deterministic disc image (<base>.cue + <base>.bin) for tests,
// benchmarks and the demo disc.
#include "discgen.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* const kUsage =
    "usage: mkdisc [options] OUTPUT[.cue]\n"
    "  --seed N         seed of the synthetic music (default 1)\n"
    "  --tracks N       number of audio tracks (default 3)\n"
    "  --sectors A,B,.. length of each audio track in sectors (75 a second); a single\n"
    "                   value applies to every track (default 1500)\n"
    "  --pregap N       INDEX 00 pregap of N sectors before tracks 2 and on (default 0)\n"
    "  --data N         add a MODE1/2352 data track of N sectors at the end\n"
    "  --tone HZ        every audio track is a pure sine tone of HZ (e.g. 1000)\n"
    "  --title TEXT     CD-TEXT album title\n"
    "  --performer TEXT CD-TEXT album performer\n"
    "  --track-titles FILE      CD-TEXT track titles, one a line (an empty line: none)\n"
    "  --track-performers FILE  CD-TEXT track performers, one a line\n"
    "  CD-TEXT is UTF-8 here and goes into the cue sheet as ISO-8859-1: text outside\n"
    "  that character set, double quotes and control characters are refused.\n"
    "  --demo           the demo disc: six audio tracks of 15 to 45 s and a data track\n";

bool parseInt(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseLengths(const std::string& text, std::vector<int32_t>& out) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string item =
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        long v = 0;
        if (!parseInt(item.c_str(), 1, 450000, v))
            return false;
        out.push_back(int32_t(v));
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return !out.empty();
}

// The lines of a text file, without their line ends; false when it cannot be read.
bool readLines(const char* path, std::vector<std::string>& out) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
    }
    return !in.bad();
}

struct Options {
    discgen::DiscSpec plan;
    std::string base;
};

int usageError(const char* what) {
    std::fprintf(stderr, "mkdisc: %s\n%s", what, kUsage);
    return 2;
}

// Returns 0 on success, else the exit code.
int parseArgs(int argc, char** argv, Options& o) {
    long tracks = 3, pregap = 0, data = 0, seed = 1;
    std::vector<int32_t> lengths;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](long lo, long hi, long& out) {
            return i + 1 < argc && parseInt(argv[++i], lo, hi, out);
        };
        long hz = 0;
        bool ok = true;
        if (a == "--seed")
            ok = value(0, 0xffffffffL, seed);
        else if (a == "--tracks")
            ok = value(1, 99, tracks);
        else if (a == "--pregap")
            ok = value(0, 45000, pregap);
        else if (a == "--data")
            ok = value(1, 450000, data);
        else if (a == "--tone")
            ok = value(1, 20000, hz), o.plan.toneHz = double(hz);
        else if (a == "--sectors")
            ok = i + 1 < argc && parseLengths(argv[++i], lengths);
        else if (a == "--title")
            ok = i + 1 < argc, o.plan.title = ok ? argv[++i] : "";
        else if (a == "--performer")
            ok = i + 1 < argc, o.plan.performer = ok ? argv[++i] : "";
        else if (a == "--track-titles")
            ok = i + 1 < argc && readLines(argv[++i], o.plan.trackTitles);
        else if (a == "--track-performers")
            ok = i + 1 < argc && readLines(argv[++i], o.plan.trackPerformers);
        else if (a == "--demo")
            demo = true;
        else if (a == "--help" || a == "-h")
            return std::printf("%s", kUsage), 1;
        else if (!a.empty() && a[0] != '-' && o.base.empty())
            o.base = a;
        else
            return usageError(("unknown argument " + a).c_str());
        if (!ok)
            return usageError(("bad value for " + a).c_str());
    }
    if (o.base.empty())
        return usageError("no output name");
    if (o.base.size() > 4 && o.base.compare(o.base.size() - 4, 4, ".cue") == 0)
        o.base.resize(o.base.size() - 4);
    if (lengths.empty())
        lengths.push_back(1500);
    if (lengths.size() != 1 && long(lengths.size()) != tracks) {
        if (tracks != 3)
            return usageError("--sectors needs one value or one per track");
        tracks = long(lengths.size());
    }
    double hz = o.plan.toneHz;
    if (demo) {
        o.plan = discgen::demoDisc();
        return 0;
    }
    o.plan.seed = uint32_t(seed);
    o.plan.toneHz = hz;
    for (long t = 0; t < tracks; ++t)
        o.plan.tracks.push_back({lengths.size() == 1 ? lengths[0] : lengths[size_t(t)],
                                 int32_t(t == 0 ? 0 : pregap), false});
    if (data > 0)
        o.plan.tracks.push_back({int32_t(data), 150, true});
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (int rc = parseArgs(argc, argv, o); rc != 0)
        return rc == 1 ? 0 : rc;
    std::string error;
    if (!discgen::writeDisc(o.base, o.plan, &error)) {
        std::fprintf(stderr, "mkdisc: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
