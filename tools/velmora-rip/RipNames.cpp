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

} // namespace riptool
