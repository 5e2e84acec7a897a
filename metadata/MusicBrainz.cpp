#include "metadata/MusicBrainz.h"

#include "platform/HttpClient.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>

namespace Metadata {

namespace {

using Json = nlohmann::json;

// A missing or mistyped member reads as empty: the answer comes from outside.
std::string Text(const Json& j, const char* key) {
    if (!j.is_object())
        return {};
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const Json& List(const Json& j, const char* key) {
    static const Json empty = Json::array();
    if (!j.is_object())
        return empty;
    auto it = j.find(key);
    return it != j.end() && it->is_array() ? *it : empty;
}

int64_t Number(const Json& j, const char* key, int64_t fallback) {
    if (!j.is_object())
        return fallback;
    auto it = j.find(key);
    if (it == j.end() || !it->is_number())
        return fallback;
    const double v = it->get<double>();
    return v >= 0 && v < 1e12 ? int64_t(v) : fallback;
}

// "Artist A & Artist B": each credited name with its join phrase.
std::string Credit(const Json& owner) {
    std::string text;
    for (const Json& part : List(owner, "artist-credit")) {
        std::string name = Text(part, "name");
        if (name.empty())
            name = Text(part.is_object() ? part.value("artist", Json::object()) : Json(), "name");
        text += name + Text(part, "joinphrase");
    }
    return text;
}

bool CarriesDisc(const Json& medium, const std::string& discId) {
    for (const Json& disc : List(medium, "discs"))
        if (!discId.empty() && Text(disc, "id") == discId)
            return true;
    return false;
}

ReleaseTrack TrackOf(const Json& track) {
    ReleaseTrack t;
    t.Title = Text(track, "title");
    const Json recording = track.is_object() ? track.value("recording", Json::object()) : Json();
    if (t.Title.empty())
        t.Title = Text(recording, "title");
    t.Artist = Credit(track);
    if (t.Artist.empty())
        t.Artist = Credit(recording);
    t.LengthMs = Number(track, "length", Number(recording, "length", -1));
    return t;
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

} // namespace

std::string Release::Description() const {
    return Artist.empty() ? Title : Artist + " - " + Title;
}

std::string Release::Year() const {
    if (Date.size() < 4)
        return {};
    for (std::size_t i = 0; i < 4; ++i)
        if (Date[i] < '0' || Date[i] > '9')
            return {};
    return Date.substr(0, 4);
}

std::string LookupUrl(const std::string& base, const std::string& discId, const DiscToc& toc) {
    // A disc ID holds only letters, digits and ".", "_", "-": nothing to escape.
    return base + "/ws/2/discid/" + (discId.empty() ? "-" : discId) + "?toc=" + TocQuery(toc) +
           "&cdstubs=no&inc=artist-credits+recordings&fmt=json";
}

LookupResult ParseLookupAnswer(const std::string& json, const DiscToc& toc,
                               const std::string& discId) {
    LookupResult r;
    const Json doc = Json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        r.Message = "MusicBrainz: the answer is not a JSON document; no titles from there";
        return r;
    }
    for (const Json& release : List(doc, "releases")) {
        Release candidate;
        candidate.Id = Text(release, "id");
        candidate.Title = Text(release, "title");
        candidate.Artist = Credit(release);
        candidate.Date = Text(release, "date");
        for (const Json& medium : List(release, "media")) {
            Release m = candidate;
            m.Medium = int(Number(medium, "position", 1));
            for (const Json& track : List(medium, "tracks"))
                m.Tracks.push_back(TrackOf(track));
            m.DiscIdMatch = CarriesDisc(medium, discId);
            m.Distance = DistanceOf(m.Tracks, toc);
            ++r.Candidates;
            if (m.Tracks.empty() || m.Id.empty())
                continue;
            if (!r.Found || Better(m, r.Best)) {
                r.Best = std::move(m);
                r.Found = true;
            }
        }
    }
    if (!r.Found) {
        r.Message = "MusicBrainz: no release for this disc";
        return r;
    }
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
    static std::mutex lock;
    static Clock::time_point next{};
    // Holding the lock while sleeping queues the callers: each gets its own slot.
    std::lock_guard<std::mutex> guard(lock);
    const Clock::time_point now = Clock::now();
    if (now < next)
        std::this_thread::sleep_for(next - now);
    next = Clock::now() + interval;
}

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
            Http::Get(LookupUrl(MusicBrainzBase(), discId, toc), timeoutSeconds);
        if (answer.Status == 404) {
            r.Message = "MusicBrainz: no release for this disc";
            return r;
        }
        if (answer.Status != 200) {
            r.Message = answer.Status == 0 ? "MusicBrainz: no answer (" + answer.Error + ")"
                                           : "MusicBrainz: the service answered HTTP " +
                                                 std::to_string(answer.Status);
            return r;
        }
        if (!answer.Error.empty()) {
            r.Message = "MusicBrainz: " + answer.Error;
            return r;
        }
        return ParseLookupAnswer(answer.Body, toc, discId);
    } catch (const std::exception& e) {
        r.Message = std::string("MusicBrainz: ") + e.what();
        return r;
    }
}

} // namespace Metadata
