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
    "  --demo           the demo disc: six audio tracks of 15 to 45 s and a data track\n"
    "  --catalog DIGITS catalog number (13 digits)\n"
    "  --isrc N=CODE    ISRC of track N (repeatable)\n"
    "  --pre N, --dcp N FLAGS PRE or DCP on track N (repeatable)\n"
    "  --hidden N       N sectors of audio before track 1's INDEX 01\n"
    "  --hidden-silent  ... of digital silence\n"
    "How the image is written (default: one .bin, a cue sheet in ISO-8859-1):\n"
    "  --toc            a cdrdao TOC file (OUTPUT.toc) instead of a cue sheet\n"
    "  --container bin|motorola|wav|wav-as-bin|flac   the data files' format\n"
    "  --files one|per-track|per-track-gaps-as-silence one file, one a track with the\n"
    "                   pregaps at the end of the previous file, or one a track with the\n"
    "                   pregaps written as PREGAP (SILENCE in a TOC)\n"
    "  --text latin1|cp1252|utf8|utf8-bom   the sheet's CD-TEXT bytes\n"
    "  --lower-case, --crlf   lower-case keywords, CR LF line ends\n"
    "  --sub-folder DIR [--backslashes]   data files in DIR (named with \\)\n"
    "  --data-name NAME base name of the data files\n";

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
    discgen::SheetStyle style;
    std::string base;
};

// "N=TEXT" with 1 <= N <= 99.
bool parseTrackValue(const char* text, size_t& track, std::string& value) {
    const char* eq = std::strchr(text, '=');
    long n = 0;
    if (!eq || !parseInt(std::string(text, size_t(eq - text)).c_str(), 1, 99, n))
        return false;
    track = size_t(n - 1);
    value = eq + 1;
    return true;
}

template <typename T> void setAt(std::vector<T>& list, size_t i, T value) {
    if (list.size() <= i)
        list.resize(i + 1);
    list[i] = value;
}

// The style options; false when `a` is none of them (`ok` says whether its value parsed).
bool styleOption(const std::string& a, int argc, char** argv, int& i, Options& o, bool& ok) {
    using S = discgen::SheetStyle;
    auto pick = [&](std::initializer_list<const char*> names, auto apply) {
        ok = false;
        if (i + 1 >= argc)
            return;
        const std::string v = argv[++i];
        int k = 0;
        for (const char* n : names) {
            if (v == n) {
                apply(k);
                ok = true;
            }
            ++k;
        }
    };
    ok = true;
    if (a == "--toc")
        o.style.sheet = S::Sheet::Toc;
    else if (a == "--container")
        pick({"bin", "motorola", "wav", "wav-as-bin", "flac"},
             [&](int k) { o.style.container = S::Container(k); });
    else if (a == "--files")
        pick({"one", "per-track", "per-track-gaps-as-silence"},
             [&](int k) { o.style.files = S::Files(k); });
    else if (a == "--text")
        pick({"latin1", "cp1252", "utf8", "utf8-bom"}, [&](int k) { o.style.text = S::Text(k); });
    else if (a == "--lower-case")
        o.style.lowerCase = true;
    else if (a == "--crlf")
        o.style.crlf = true;
    else if (a == "--backslashes")
        o.style.backslashes = true;
    else if (a == "--sub-folder" || a == "--data-name" || a == "--catalog")
        ok = i + 1 < argc, (a == "--sub-folder"  ? o.style.subFolder
                            : a == "--data-name" ? o.style.dataName
                                                 : o.plan.catalog) = ok ? argv[++i] : "";
    else
        return false;
    return true;
}

int usageError(const char* what) {
    std::fprintf(stderr, "mkdisc: %s\n%s", what, kUsage);
    return 2;
}

// Returns 0 on success, else the exit code.
int parseArgs(int argc, char** argv, Options& o) {
    long tracks = 3, pregap = 0, data = 0, seed = 1, hidden = 0;
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
        else if (styleOption(a, argc, argv, i, o, ok))
            ;
        else if (a == "--isrc" || a == "--pre" || a == "--dcp") {
            size_t t = 0;
            std::string v;
            ok = i + 1 < argc;
            if (ok && a == "--isrc")
                ok = parseTrackValue(argv[++i], t, v), setAt(o.plan.isrcs, t, v);
            else if (ok && parseInt(argv[++i], 1, 99, hz))
                setAt(a == "--pre" ? o.plan.preEmphasis : o.plan.copyPermitted, size_t(hz - 1),
                      true);
            else
                ok = false;
        } else if (a == "--hidden")
            ok = value(1, 45000, hidden);
        else if (a == "--hidden-silent")
            o.plan.hiddenSilent = true;
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
    if (o.base.size() > 4 && (o.base.compare(o.base.size() - 4, 4, ".cue") == 0 ||
                              o.base.compare(o.base.size() - 4, 4, ".toc") == 0))
        o.base.resize(o.base.size() - 4);
    o.plan.hiddenSectors = int32_t(hidden);
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
    if (o.plan.isrcs.size() > size_t(tracks) || o.plan.preEmphasis.size() > size_t(tracks) ||
        o.plan.copyPermitted.size() > size_t(tracks))
        return usageError("a track number beyond the last track");
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
    if (!discgen::writeDisc(o.base, o.plan, o.style, &error)) {
        std::fprintf(stderr, "mkdisc: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
