#include "metadata/MusicBrainz.h"

#include "platform/HttpClient.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>

namespace Metadata {

namespace {

using Json = nlohmann::json;

// Members are reached through pointers into the one parsed document: nothing of it is
// ever copied (a copy of a deep value recurses once per level).
const Json* Member(const Json* j, const char* key) {
    if (j == nullptr || !j->is_object())
        return nullptr;
    auto it = j->find(key);
    return it != j->end() ? &*it : nullptr;
}

// A missing or mistyped member reads as empty: the answer comes from outside.
std::string Text(const Json* j, const char* key) {
    const Json* m = Member(j, key);
    return m != nullptr && m->is_string() ? m->get<std::string>() : std::string();
}

const Json& List(const Json* j, const char* key) {
    static const Json empty = Json::array();
    const Json* m = Member(j, key);
    return m != nullptr && m->is_array() ? *m : empty;
}

int64_t Number(const Json* j, const char* key, int64_t fallback) {
    const Json* m = Member(j, key);
    if (m == nullptr || !m->is_number())
        return fallback;
    const double v = m->get<double>();
    return v >= 0 && v < 1e12 ? int64_t(v) : fallback;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "Artist A & Artist B": each credited name with its join phrase; the sort names the
// same way (a credit's artist without a sort name sorts by the credited name).
ArtistCredit CreditOf(const Json* owner) {
    ArtistCredit c;
    for (const Json& part : List(owner, "artist-credit")) {
        const Json* artist = Member(&part, "artist");
        std::string name = Text(&part, "name");
        if (name.empty())
            name = Text(artist, "name");
        std::string sort = Text(artist, "sort-name");
        if (sort.empty())
            sort = name;
        const std::string join = Text(&part, "joinphrase");
        c.Text += name + join;
        c.SortText += sort + join;
        const std::string id = Text(artist, "id");
        if (!id.empty())
            c.Ids.push_back(id);
    }
    return c;
}

bool CarriesDisc(const Json& medium, const std::string& discId) {
    for (const Json& disc : List(&medium, "discs"))
        if (!discId.empty() && Text(&disc, "id") == discId)
            return true;
    return false;
}

std::string FirstText(const Json& list) {
    for (const Json& entry : list)
        if (entry.is_string() && !entry.get<std::string>().empty())
            return entry.get<std::string>();
    return {};
}

ReleaseTrack TrackOf(const Json& track) {
    ReleaseTrack t;
    const Json* recording = Member(&track, "recording");
    t.Title = Text(&track, "title");
    if (t.Title.empty())
        t.Title = Text(recording, "title");
    ArtistCredit credit = CreditOf(&track);
    if (credit.Text.empty())
        credit = CreditOf(recording);
    t.Artist = std::move(credit.Text);
    t.ArtistSort = std::move(credit.SortText);
    t.ArtistIds = std::move(credit.Ids);
    t.Id = Text(&track, "id");
    t.RecordingId = Text(recording, "id");
    t.Isrc = FirstText(List(recording, "isrcs"));
    t.LengthMs = Number(&track, "length", Number(recording, "length", -1));
    return t;
}

// The date as given when it is a year, a year and month or a full date in digits;
// only its year when the rest is not; empty when not even that.
std::string CheckedDate(const std::string& date) {
    auto digits = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if (i >= date.size() || date[i] < '0' || date[i] > '9')
                return false;
        return true;
    };
    if (!digits(0, 4))
        return {};
    if (date.size() == 4 || (date.size() == 7 && date[4] == '-' && digits(5, 2)) ||
        (date.size() == 10 && date[4] == '-' && date[7] == '-' && digits(5, 2) && digits(8, 2)))
        return date;
    return date.substr(0, 4);
}

// "album", or "album; live; compilation": the primary type, then the secondary ones.
std::string AlbumTypeOf(const Json* group) {
    std::string type = Lower(Text(group, "primary-type"));
    for (const Json& other : List(group, "secondary-types"))
        if (other.is_string() && !other.get<std::string>().empty())
            type += (type.empty() ? "" : "; ") + Lower(other.get<std::string>());
    return type;
}

std::string CatalogNumberOf(const Json& release) {
    for (const Json& info : List(&release, "label-info")) {
        const std::string number = Text(&info, "catalog-number");
        if (!number.empty())
            return number;
    }
    return {};
}

Release ReleaseOf(const Json& release) {
    Release r;
    r.Id = Text(&release, "id");
    r.Title = Text(&release, "title");
    ArtistCredit credit = CreditOf(&release);
    r.Artist = std::move(credit.Text);
    r.ArtistSort = std::move(credit.SortText);
    r.ArtistIds = std::move(credit.Ids);
    r.Date = CheckedDate(Text(&release, "date"));
    r.Country = Text(&release, "country");
    r.Status = Lower(Text(&release, "status"));
    r.Barcode = Text(&release, "barcode");
    r.Asin = Text(&release, "asin");
    r.CatalogNumber = CatalogNumberOf(release);
    const Json* group = Member(&release, "release-group");
    r.ReleaseGroupId = Text(group, "id");
    r.AlbumType = AlbumTypeOf(group);
    r.MediumCount = int(List(&release, "media").size());
    return r;
}

// A missing track or track length counts as this far off.
constexpr int64_t UnknownMs = 30000;
// A track count that differs outweighs any difference of lengths.
constexpr int64_t CountMismatch = int64_t(1) << 40;

int64_t DistanceOf(const std::vector<ReleaseTrack>& tracks, const DiscToc& toc) {
    const std::size_t n = toc.Offsets.size();
    int64_t d = 0;
    if (tracks.size() != n)
        d += CountMismatch * int64_t(tracks.size() > n ? tracks.size() - n : n - tracks.size());
    for (std::size_t i = 0; i < n && i < tracks.size(); ++i)
        d += tracks[i].LengthMs < 0 ? UnknownMs : std::llabs(tracks[i].LengthMs - toc.TrackMs(i));
    return d;
}

bool Better(const Release& a, const Release& b) {
    if (a.DiscIdMatch != b.DiscIdMatch)
        return a.DiscIdMatch;
    return a.Distance < b.Distance;
}

// The deepest nesting of objects and arrays in `json`, counted without parsing (so
// without recursion), strings skipped; stops counting once past `limit`.
int NestingDepth(const std::string& json, int limit) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > deepest)
                deepest = depth;
            if (deepest > limit)
                return deepest;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// Every medium of the document as a candidate; the best medium of each release is
// kept in `releases`, in the answer's order.
void ReadReleases(const Json& doc, const DiscToc& toc, const std::string& discId, LookupResult& r) {
    for (const Json& release : List(&doc, "releases")) {
        const Release base = ReleaseOf(release);
        bool kept = false;
        for (const Json& medium : List(&release, "media")) {
            Release m = base;
            m.Medium = int(Number(&medium, "position", 1));
            for (const Json& track : List(&medium, "tracks"))
                m.Tracks.push_back(TrackOf(track));
            m.DiscIdMatch = CarriesDisc(medium, discId);
            m.Distance = DistanceOf(m.Tracks, toc);
            ++r.Candidates;
            if (m.Tracks.empty() || m.Id.empty())
                continue;
            if (!kept)
                r.Releases.push_back(std::move(m));
            else if (Better(m, r.Releases.back()))
                r.Releases.back() = std::move(m);
            kept = true;
        }
    }
}

// Keeps the releases as good as the best: those that carry the disc ID, else those
// with the disc's track count, else the nearest alone; Best is the first nearest.
void KeepFitting(LookupResult& r) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < r.Releases.size(); ++i)
        if (Better(r.Releases[i], r.Releases[best]))
            best = i;
    const Release top = r.Releases[best];
    std::vector<Release> fitting;
    for (Release& m : r.Releases) {
        const bool fits = top.DiscIdMatch                ? m.DiscIdMatch
                          : top.Distance < CountMismatch ? m.Distance < CountMismatch
                                                         : m.Id == top.Id;
        if (fits)
            fitting.push_back(std::move(m));
    }
    r.Releases = std::move(fitting);
    r.Best = top;
    r.Found = true;
}

} // namespace

std::string Release::Description() const {
    return Artist.empty() ? Title : Artist + " - " + Title;
}

std::string Release::Year() const {
    const std::string checked = CheckedDate(Date);
    return checked.substr(0, 4);
}

std::string LookupUrl(const std::string& base, const std::string& discId, const DiscToc& toc) {
    // A disc ID holds only letters, digits and ".", "_", "-": nothing to escape.
    return base + "/ws/2/discid/" + (discId.empty() ? "-" : discId) + "?toc=" + TocQuery(toc) +
           "&cdstubs=no&inc=artist-credits+recordings+release-groups+labels+isrcs&fmt=json";
}

LookupResult ParseLookupAnswer(const std::string& json, const DiscToc& toc,
                               const std::string& discId) {
    LookupResult r;
    if (json.size() > MaxAnswerBytes) {
        r.Message = "MusicBrainz: the answer is larger than " +
                    std::to_string(MaxAnswerBytes >> 20) + " MB; no titles from there";
        return r;
    }
    if (NestingDepth(json, MaxAnswerDepth) > MaxAnswerDepth) {
        r.Message = "MusicBrainz: the answer nests deeper than " + std::to_string(MaxAnswerDepth) +
                    " levels; no titles from there";
        return r;
    }
    const Json doc = Json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        r.Message = "MusicBrainz: the answer is not a JSON document; no titles from there";
        return r;
    }
    ReadReleases(doc, toc, discId, r);
    if (r.Releases.empty()) {
        r.Message = "MusicBrainz: no release for this disc";
        return r;
    }
    KeepFitting(r);
    r.Message = "MusicBrainz: " + r.Best.Description();
    if (r.Candidates > 1)
        r.Message += " (best of " + std::to_string(r.Candidates) + " matches)";
    return r;
}

std::string MusicBrainzBase() {
    return Http::BaseAddress("VELMORA_MUSICBRAINZ_URL", "https://musicbrainz.org");
}

void WaitForRequestSlot(std::chrono::milliseconds interval) {
    using Clock = std::chrono::steady_clock;
    static std::mutex lock;          // guards `next`
    static Clock::time_point next{}; // when the next request may go out
    // Holding the lock while sleeping queues the callers: each gets its own slot.
    std::lock_guard<std::mutex> guard(lock);
    const Clock::time_point now = Clock::now();
    if (now < next)
        std::this_thread::sleep_for(next - now);
    next = Clock::now() + interval;
}

namespace {

// Why the service gave nothing, as a whole sentence.
std::string FailureText(const Http::Response& answer, long timeoutSeconds) {
    if (answer.TimedOut)
        return "MusicBrainz did not answer within " + std::to_string(timeoutSeconds) + " s";
    if (answer.Status == 0)
        return "MusicBrainz could not be reached (" + answer.Error + ")";
    if (answer.Status == 404)
        return "MusicBrainz: no release for this disc";
    if (answer.Status == 503)
        return "MusicBrainz is busy (it answered HTTP 503)";
    if (answer.Status != 200)
        return "MusicBrainz: the service answered HTTP " + std::to_string(answer.Status);
    return "MusicBrainz: " + answer.Error;
}

} // namespace

LookupResult LookUpDisc(const DiscToc& toc, long timeoutSeconds) {
    LookupResult r;
    const std::string discId = MusicBrainzDiscId(toc);
    if (discId.empty()) {
        r.Message = "MusicBrainz: the disc has no audio table of contents to look up";
        return r;
    }
    try {
        WaitForRequestSlot();
        const Http::Response answer =
            Http::Get(LookupUrl(MusicBrainzBase(), discId, toc), timeoutSeconds, MaxAnswerBytes);
        if (answer.Status != 200 || !answer.Error.empty()) {
            r.Message = FailureText(answer, timeoutSeconds);
            return r;
        }
        return ParseLookupAnswer(answer.Body, toc, discId);
    } catch (const std::exception& e) {
        r.Message = std::string("MusicBrainz: ") + e.what();
        return r;
    }
}

} // namespace Metadata
