#pragma once

#include "metadata/DiscTitles.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

class TCDRIP;

// Finds a disc's titles beyond cdplayer.ini for the main window: the local sources
// (cdplayer.ini, CD-TEXT) at once, MusicBrainz on a thread of its own so that the
// window never waits for the network. The answer comes back on the window's thread
// through OnLookup; an answer for a disc that was replaced meanwhile is dropped.
class TTitleSearch {
public:
    // `context`: the object whose thread receives the answers (the window).
    explicit TTitleSearch(QObject* context);
    // Waits for look-ups still running: at most their time limit.
    ~TTitleSearch();
    TTitleSearch(const TTitleSearch&) = delete;
    TTitleSearch& operator=(const TTitleSearch&) = delete;

    // Time limit of one look-up; tests shorten it.
    static long TimeoutSeconds;

    // Starts over for the disc in the ripper's active drive and returns its titles from
    // the local sources. With `lookup` the MusicBrainz look-up starts in the background.
    Metadata::DiscTitles Start(const TCDRIP& ripper, bool lookup);

    // Called on the context's thread with the titles of every source and what the
    // look-up said.
    std::function<void(const Metadata::DiscTitles&, const Metadata::LookupResult&)> OnLookup;

    // The titles found so far for the current disc.
    const Metadata::DiscTitles& Found() const { return Current; }
    // Takes another of the releases the look-up listed (a number into Found().Releases
    // from 1, or an MBID) and joins the titles again; false when it is not listed.
    bool ChooseRelease(const std::string& wanted);
    // True while the current disc's look-up runs.
    bool Busy() const { return Running; }
    // With `fetch`, the front cover of the release taken is fetched in the background
    // once the look-up found one (and again when another release is taken); it shows in
    // Found().Cover when it came. Off: no cover is asked for.
    void FetchCovers(bool fetch) { CoversWanted = fetch; }
    // True while a cover is being fetched for the current disc.
    bool FetchingCover() const { return CoverRunning; }
    // Why the current release has no cover, once the archive answered ("" otherwise).
    const std::string& CoverMessage() const { return CoverNote; }

private:
    void Finished(unsigned generation, const Metadata::LookupResult& result);
    void StartCover();
    void Prune();

    QObject* Context;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
    std::vector<std::unique_ptr<QThread>> Threads;
    unsigned Generation = 0;
    bool Running = false;
    bool CoversWanted = false;
    bool CoverRunning = false;
    std::string CoverNote;
    Metadata::LocalTitles Local;
    Metadata::LookupResult Result; // the current disc's look-up, once it answered
    std::string Wanted;            // the release the user chose; empty: none
    Metadata::DiscTitles Current;
};
