#pragma once

// MusicBrainz-shaped answers built by the tests: the disc document of a disc ID look-up
// with its releases, media and tracks.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace mbjson {

struct Track {
    std::string title;
    int64_t lengthMs;
    std::string artist; // empty: no artist credit of its own
};

struct Medium {
    int position = 1;
    std::vector<Track> tracks;
    std::vector<std::string> discIds;
};

struct Release {
    std::string id, title, artist, date;
    std::vector<Medium> media;
};

inline nlohmann::json Credit(const std::string& name) {
    return nlohmann::json::array(
        {{{"name", name}, {"joinphrase", ""}, {"artist", {{"name", name}}}}});
}

inline std::string Document(const std::string& discId, const std::vector<Release>& releases) {
    nlohmann::json doc = {{"id", discId}, {"releases", nlohmann::json::array()}};
    for (const Release& r : releases) {
        nlohmann::json release = {{"id", r.id},
                                  {"title", r.title},
                                  {"date", r.date},
                                  {"artist-credit", Credit(r.artist)},
                                  {"media", nlohmann::json::array()}};
        for (const Medium& m : r.media) {
            nlohmann::json medium = {{"position", m.position},
                                     {"format", "CD"},
                                     {"track-count", m.tracks.size()},
                                     {"discs", nlohmann::json::array()},
                                     {"tracks", nlohmann::json::array()}};
            for (const std::string& id : m.discIds)
                medium["discs"].push_back({{"id", id}});
            int n = 0;
            for (const Track& t : m.tracks) {
                nlohmann::json track = {
                    {"position", ++n},
                    {"number", std::to_string(n)},
                    {"title", t.title},
                    {"length", t.lengthMs},
                    {"recording", {{"title", t.title}, {"length", t.lengthMs}}}};
                if (!t.artist.empty())
                    track["artist-credit"] = Credit(t.artist);
                medium["tracks"].push_back(track);
            }
            release["media"].push_back(medium);
        }
        doc["releases"].push_back(release);
    }
    return doc.dump();
}

} // namespace mbjson
