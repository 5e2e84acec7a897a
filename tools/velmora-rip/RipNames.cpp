#include "RipNames.h"

#include "cdaccess/CDRIP.h"
#include "settings/globals.h"

namespace riptool {

std::vector<std::string> TrackTitles(const TCDRIP& ripper) {
    std::vector<std::string> titles;
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        titles.push_back(ripper.Tracks.Strings(i));
    }
    std::string artist, album, year, genre;
    std::vector<std::string> stored;
    if (!ReadCDInfo(ripper.GetDiscID(), artist, album, year, genre, stored)) {
        return titles;
    }
    for (std::size_t i = 0; i < stored.size() && i < titles.size(); ++i) {
        // A blank title would name a file ".mp3"; such a track keeps its default name.
        if (!OutputFiles::TrimControl(stored[i]).empty()) {
            titles[i] = stored[i];
        }
    }
    return titles;
}

Metadata::DiscTitles FindDiscTitles(const TCDRIP& ripper, const Metadata::CommandLineTitles& given,
                                    bool lookup, std::string& note,
                                    const std::string& wantedRelease) {
    const Metadata::LocalTitles local = Metadata::ReadLocalTitles(ripper);
    Metadata::LookupResult found;
    note.clear();
    if (lookup)
        found = Metadata::LookUpDisc(local.Toc);
    Metadata::DiscTitles titles = Metadata::JoinTitles(local, found, given, wantedRelease);
    if (lookup)
        note = Metadata::LookupNote(found, titles);
    return titles;
}

std::vector<std::string> TitleList(const Metadata::DiscTitles& titles) {
    std::vector<std::string> list;
    for (const Metadata::TrackTitle& t : titles.Tracks)
        list.push_back(t.Title);
    return list;
}

} // namespace riptool
