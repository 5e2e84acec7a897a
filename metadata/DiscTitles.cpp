#include "metadata/DiscTitles.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/CdRip_dll.h"
#include "platform/ProfileIni.h"
#include "settings/globals.h"

#include <algorithm>

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
        TrackTitle t;
        t.Title = trackNames[i];
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

namespace {

// The disc's media catalogue number and its tracks' ISRCs, where the drive or the
// image gives them ("" where not).
void ReadDiscCodes(const TCDRIP& ripper, LocalTitles& l) {
    if (ripper.Tracks.Count() == 0)
        return;
    char mcn[MCNSize] = {};
    if (CdRipDll().CR_GetMcn(mcn, MCNSize) != CRFailure)
        l.Mcn = mcn;
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        char isrc[ISRCSize] = {};
        const int32_t number = ripper.Tracks.Objects(i).TrackNum;
        const bool read = ripper.IsAudioTrack(i) &&
                          CdRipDll().CR_GetTrackIsrc(number, isrc, ISRCSize) != CRFailure;
        l.Isrcs.push_back(read ? isrc : "");
    }
}

} // namespace

LocalTitles ReadLocalTitles(const TCDRIP& ripper) {
    LocalTitles l;
    for (int i = 0; i < ripper.Tracks.Count(); ++i)
        l.TrackNames.push_back(ripper.Tracks.Strings(i));
    l.CdPlayerIni = ReadCdPlayerIni(ripper);
    l.CdText = ReadCdText(ripper);
    l.Tracks = TrackTable(ripper);
    l.Toc = MusicBrainzToc(l.Tracks, LeadOut(ripper));
    ReadDiscCodes(ripper, l);
    try {
        l.SavedRelease =
            ProfileIni::readString(CDInfoFilePath(), ripper.GetDiscID(), SavedReleaseKey, "");
    } catch (...) {
        // An unreadable cdplayer.ini keeps no choice.
    }
    return l;
}

namespace {

DiscEvidence EvidenceOf(const LocalTitles& local) {
    DiscEvidence e;
    e.Mcn = local.Mcn;
    e.Album = local.CdText.Album;
    for (std::size_t i = 0; i < local.Tracks.size(); ++i)
        if (local.Tracks[i].Audio)
            e.Titles.push_back(Entry(local.CdText.Titles, i));
    e.Country = LocaleCountry();
    return e;
}

// The chosen release's tracks laid over the track table, audio tracks in order.
void AddReleaseTracks(DiscTitles& d, const Release& release, const std::vector<TocTrack>& tracks) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < tracks.size() && i < d.Tracks.size(); ++i)
        if (tracks[i].Audio && next < release.Tracks.size())
            d.Tracks[i].Found = release.Tracks[next++];
}

// The year of the chosen source, as the full date when the release's date has it.
std::string DateOf(const std::string& year, const Release& release) {
    return !release.Date.empty() && release.Year() == year ? release.Date : year;
}

bool TakeRelease(DiscTitles& d, const LocalTitles& local, const LookupResult& lookup,
                 const std::string& wanted) {
    if (!lookup.Found)
        return false;
    d.Releases = lookup.Releases.empty() ? std::vector<Release>{lookup.Best} : lookup.Releases;
    const DiscEvidence evidence = EvidenceOf(local);
    ReleasePick pick = ChooseRelease(d.Releases, evidence, wanted);
    d.ReleaseError = pick.Error;
    // Then the saved choice; one that the service no longer lists gives way to the
    // evidence.
    if ((wanted.empty() || !pick.Error.empty()) && !local.SavedRelease.empty()) {
        const ReleasePick saved = ChooseRelease(d.Releases, evidence, local.SavedRelease);
        if (saved.Error.empty())
            pick = {saved.Index, "saved in cdplayer.ini", {}};
    }
    d.ChosenIndex = pick.Index;
    d.ChosenBy = pick.Reason;
    d.Chosen = d.Releases[pick.Index];
    return true;
}

} // namespace

DiscTitles JoinTitles(const LocalTitles& local, const LookupResult& lookup,
                      const CommandLineTitles& commandLine, const std::string& wantedRelease) {
    DiscTitles chosen;
    const bool found = TakeRelease(chosen, local, lookup, wantedRelease);
    const SourceTitles mb = found ? FromRelease(chosen.Chosen, local.Tracks) : SourceTitles{};
    DiscTitles d = ChooseTitles(local.TrackNames, commandLine, local.CdPlayerIni, local.CdText, mb);
    d.DiscId = MusicBrainzDiscId(local.Toc);
    for (std::size_t i = 0; i < d.Tracks.size(); ++i)
        d.Tracks[i].Isrc = Entry(local.Isrcs, i);
    d.Date = d.Year;
    if (found) {
        d.Chosen = std::move(chosen.Chosen);
        d.Releases = std::move(chosen.Releases);
        d.ChosenIndex = chosen.ChosenIndex;
        d.ChosenBy = std::move(chosen.ChosenBy);
        d.ReleaseError = std::move(chosen.ReleaseError);
        d.ReleaseId = d.Chosen.Id;
        d.Release = d.Chosen.Description();
        d.Date = DateOf(d.Year, d.Chosen);
        AddReleaseTracks(d, d.Chosen, local.Tracks);
    }
    return d;
}

namespace {

// The release's facts, and the album artist's sort name and IDs when the album
// artist is the release's credit.
void AddReleaseFacts(TagFields& f, const Release& r) {
    f.Disc = r.Medium;
    f.DiscTotal = r.MediumCount;
    f.ReleaseGroupId = r.ReleaseGroupId;
    f.AlbumType = r.AlbumType;
    f.AlbumStatus = r.Status;
    f.Country = r.Country;
    f.Barcode = r.Barcode;
    f.CatalogNumber = r.CatalogNumber;
    f.Asin = r.Asin;
    if (!f.AlbumArtist.empty() && f.AlbumArtist == r.Artist) {
        f.AlbumArtistSort = r.ArtistSort;
        f.AlbumArtistIds = r.ArtistIds;
    }
}

// The track's IDs, its ISRC, and the artist's sort name and IDs when the artist is
// MusicBrainz's credit of the track (or of the release, for a track without its own).
void AddTrackFacts(TagFields& f, const TrackTitle& t, const Release& r) {
    const ReleaseTrack& found = t.Found;
    f.RecordingId = found.RecordingId;
    f.ReleaseTrackId = found.Id;
    f.Isrc = !t.Isrc.empty() ? t.Isrc : found.Isrc;
    if (f.Artist.empty())
        return;
    if (!found.Artist.empty() && f.Artist == found.Artist) {
        f.ArtistSort = found.ArtistSort;
        f.ArtistIds = found.ArtistIds;
    } else if (found.Artist.empty() && f.Artist == r.Artist) {
        f.ArtistSort = r.ArtistSort;
        f.ArtistIds = r.ArtistIds;
    }
}

} // namespace

TagFields TrackTags(const DiscTitles& titles, const std::vector<TocTrack>& tracks,
                    const std::vector<int>& trackNumbers, int index) {
    TagFields f;
    const TrackTitle& t = titles.Tracks.at(static_cast<std::size_t>(index));
    f.Title = t.Title;
    f.Artist = t.Artist.empty() ? titles.Artist : t.Artist;
    f.Album = titles.Album;
    f.AlbumArtist = titles.Artist;
    f.Date = titles.Date.empty() ? titles.Year : titles.Date;
    for (const TocTrack& track : tracks)
        f.TrackTotal += track.Audio ? 1 : 0;
    f.Track = trackNumbers.at(static_cast<std::size_t>(index));
    f.ReleaseId = titles.ReleaseId;
    f.DiscId = titles.DiscId;
    if (titles.EmbedCover)
        f.Cover = titles.Cover;
    if (!titles.Chosen.Id.empty())
        AddReleaseFacts(f, titles.Chosen);
    AddTrackFacts(f, t, titles.Chosen);
    return f;
}

TagFields TrackTags(const DiscTitles& titles, const TCDRIP& ripper, int index) {
    std::vector<int> numbers;
    for (int i = 0; i < ripper.Tracks.Count(); ++i)
        numbers.push_back(ripper.Tracks.Objects(i).TrackNum);
    return TrackTags(titles, TrackTable(ripper), numbers, index);
}

std::string ReleaseLine(const Release& r) {
    std::string line = r.Title.empty() ? std::string("(no title)") : r.Title;
    if (!r.Artist.empty())
        line += " (" + r.Artist + ")";
    if (r.MediumCount > 1)
        line += "; disc " + std::to_string(r.Medium) + " of " + std::to_string(r.MediumCount);
    for (const std::string& part :
         {r.Date.empty() ? std::string("no date") : r.Date,
          r.Country.empty() ? std::string("no country") : r.Country,
          r.Barcode.empty() ? std::string() : "barcode " + r.Barcode,
          r.CatalogNumber.empty() ? std::string() : "catalog number " + r.CatalogNumber, r.Id})
        if (!part.empty())
            line += "; " + part;
    return line;
}

std::string LookupNote(const LookupResult& lookup, const DiscTitles& titles) {
    if (lookup.Found)
        return {};
    std::vector<std::string> sources;
    for (const TrackTitle& t : titles.Tracks) {
        const std::string name =
            t.Source == TitleSource::TrackName ? "track numbers" : SourceName(t.Source);
        if (std::find(sources.begin(), sources.end(), name) == sources.end())
            sources.push_back(name);
    }
    std::string from;
    for (std::size_t i = 0; i < sources.size(); ++i)
        from += (i == 0 ? "" : i + 1 == sources.size() ? " and " : ", ") + sources[i];
    return lookup.Message + (from.empty() ? std::string() : "; titles from " + from);
}

} // namespace Metadata
