#pragma once

#include "metadata/DiscTitles.h"

#include <string>
#include <vector>

class TCDRIP;

// Track titles as the GUI lists them; names and their checks are in
// cdaccess/OutputFiles.h, shared with the GUI.
namespace riptool {

// One title per entry of the ripper's track table: the entry's name ("Track01"),
// replaced by the title stored in cdplayer.ini under the disc's key when there is
// one that is not blank.
std::vector<std::string> TrackTitles(const TCDRIP& ripper);

// The disc's titles from their sources in order: the command line, cdplayer.ini,
// CD-TEXT, MusicBrainz (asked only when `lookup`), the track table's names. When the
// look-up found nothing, `note` receives its one-line reason; else it is cleared. Of
// several releases, `wantedRelease` (--release) picks one.
Metadata::DiscTitles FindDiscTitles(const TCDRIP& ripper, const Metadata::CommandLineTitles& given,
                                    bool lookup, std::string& note,
                                    const std::string& wantedRelease = std::string());

// The titles alone, one per entry of the track table.
std::vector<std::string> TitleList(const Metadata::DiscTitles& titles);

} // namespace riptool
