#include "metadata/DiscTitles.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/CdRip_dll.h"
#include "settings/globals.h"

namespace Metadata {

namespace {

bool Blank(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

std::string Entry(const std::vector<std::string>& list, std::size_t i) {
    return i < list.size() ? list[i] : std::string();
}

// The first source in order with a non-blank text; false when none has one.
struct Pick {
    std::string Text;
    TitleSource Source = TitleSource::TrackName;
};

bool First(std::initializer_list<std::pair<std::string, TitleSource>> candidates, Pick& out) {
    for (const auto& [text, source] : candidates)
        if (!Blank(text)) {
            out = {text, source};
            return true;
        }
    return false;
}

std::string CdTextField(int32_t track, int32_t field) {
    char buffer[1024] = {};
    if (CdRipDll().CR_GetCdText(track, field, buffer, int32_t(sizeof buffer)) == CRFailure)
        return {};
    return buffer;
}

} // namespace

const char* SourceName(TitleSource source) {
    switch (source) {
    case TitleSource::CommandLine:
        return "command line";
    case TitleSource::CdPlayerIni:
        return "cdplayer.ini";
    case TitleSource::CdText:
        return "CD-TEXT";
    case TitleSource::MusicBrainz:
        return "MusicBrainz";
    case TitleSource::TrackName:
        break;
    }
    return "track number";
}

DiscTitles ChooseTitles(const std::vector<std::string>& trackNames,
                        const CommandLineTitles& commandLine, const SourceTitles& cdPlayerIni,
                        const SourceTitles& cdText, const SourceTitles& musicBrainz) {
    using S = TitleSource;
    DiscTitles d;
    Pick p;
    if (First({{commandLine.Artist, S::CommandLine},
               {cdPlayerIni.Artist, S::CdPlayerIni},
               {cdText.Artist, S::CdText},
               {musicBrainz.Artist, S::MusicBrainz}},
              p))
        d.Artist = p.Text, d.ArtistSource = p.Source;
    if (First({{commandLine.Album, S::CommandLine},
               {cdPlayerIni.Album, S::CdPlayerIni},
               {cdText.Album, S::CdText},
               {musicBrainz.Album, S::MusicBrainz}},
              p))
        d.Album = p.Text, d.AlbumSource = p.Source;
    if (First({{cdPlayerIni.Year, S::CdPlayerIni}, {musicBrainz.Year, S::MusicBrainz}}, p))
        d.Year = p.Text;
    for (std::size_t i = 0; i < trackNames.size(); ++i) {
        TrackTitle t{trackNames[i], {}, S::TrackName};
        const auto given = commandLine.Titles.find(int(i) + 1);
        if (First({{given != commandLine.Titles.end() ? given->second : "", S::CommandLine},
                   {Entry(cdPlayerIni.Titles, i), S::CdPlayerIni},
                   {Entry(cdText.Titles, i), S::CdText},
                   {Entry(musicBrainz.Titles, i), S::MusicBrainz}},
                  p))
            t.Title = p.Text, t.Source = p.Source;
        if (First({{Entry(cdText.TrackArtists, i), S::CdText},
                   {Entry(musicBrainz.TrackArtists, i), S::MusicBrainz}},
                  p))
            t.Artist = p.Text;
        d.Tracks.push_back(std::move(t));
    }
    return d;
}

SourceTitles FromRelease(const Release& release, const std::vector<TocTrack>& tracks) {
    SourceTitles s;
    s.Artist = release.Artist;
    s.Album = release.Title;
    s.Year = release.Year();
    s.Titles.resize(tracks.size());
    s.TrackArtists.resize(tracks.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < tracks.size() && next < release.Tracks.size(); ++i) {
        if (!tracks[i].Audio)
            continue;
        s.Titles[i] = release.Tracks[next].Title;
        s.TrackArtists[i] = release.Tracks[next].Artist;
        ++next;
    }
    return s;
}

std::vector<TocTrack> TrackTable(const TCDRIP& ripper) {
    std::vector<TocTrack> tracks;
    for (int i = 0; i < ripper.Tracks.Count(); ++i)
        tracks.push_back({ripper.Tracks.Objects(i).StartSector, ripper.IsAudioTrack(i)});
    return tracks;
}

int32_t LeadOut(const TCDRIP& ripper) {
    const int n = ripper.Tracks.Count();
    return n == 0 ? 0 : ripper.Tracks.Objects(n - 1).EndSector + 1;
}

DiscToc MusicBrainzToc(const TCDRIP& ripper) {
    return MusicBrainzToc(TrackTable(ripper), LeadOut(ripper));
}

SourceTitles ReadCdPlayerIni(const TCDRIP& ripper) {
    SourceTitles s;
    std::string genre;
    if (!ReadCDInfo(ripper.GetDiscID(), s.Artist, s.Album, s.Year, genre, s.Titles))
        return {};
    // ReadCDInfo's stand-ins for a section without them: not titles of the user's.
    if (s.Artist == "No Artist")
        s.Artist.clear();
    if (s.Album == "No Title")
        s.Album.clear();
    return s;
}

SourceTitles ReadCdText(const TCDRIP& ripper) {
    SourceTitles s;
    if (ripper.Tracks.Count() == 0 || CdRipDll().CR_ReadCdText() == CRFailure)
        return s;
    s.Album = CdTextField(0, CDTextTitle);
    s.Artist = CdTextField(0, CDTextPerformer);
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        const int32_t number = ripper.Tracks.Objects(i).TrackNum;
        s.Titles.push_back(CdTextField(number, CDTextTitle));
        s.TrackArtists.push_back(CdTextField(number, CDTextPerformer));
    }
    return s;
}

LocalTitles ReadLocalTitles(const TCDRIP& ripper) {
    LocalTitles l;
    for (int i = 0; i < ripper.Tracks.Count(); ++i)
        l.TrackNames.push_back(ripper.Tracks.Strings(i));
    l.CdPlayerIni = ReadCdPlayerIni(ripper);
    l.CdText = ReadCdText(ripper);
    l.Tracks = TrackTable(ripper);
    l.Toc = MusicBrainzToc(l.Tracks, LeadOut(ripper));
    return l;
}

DiscTitles JoinTitles(const LocalTitles& local, const LookupResult& lookup,
                      const CommandLineTitles& commandLine) {
    const SourceTitles found =
        lookup.Found ? FromRelease(lookup.Best, local.Tracks) : SourceTitles{};
    DiscTitles d =
        ChooseTitles(local.TrackNames, commandLine, local.CdPlayerIni, local.CdText, found);
    d.DiscId = MusicBrainzDiscId(local.Toc);
    if (lookup.Found) {
        d.ReleaseId = lookup.Best.Id;
        d.Release = lookup.Best.Description();
    }
    return d;
}

TagFields TrackTags(const DiscTitles& titles, const TCDRIP& ripper, int index) {
    TagFields f;
    const TrackTitle& t = titles.Tracks.at(static_cast<std::size_t>(index));
    f.Title = t.Title;
    f.Artist = t.Artist.empty() ? titles.Artist : t.Artist;
    f.Album = titles.Album;
    f.AlbumArtist = titles.Artist;
    f.Year = titles.Year;
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        if (ripper.IsAudioTrack(i)) {
            ++f.TrackTotal;
        }
    }
    f.Track = ripper.Tracks.Objects(index).TrackNum;
    f.ReleaseId = titles.ReleaseId;
    f.DiscId = titles.DiscId;
    return f;
}

} // namespace Metadata
