#pragma once

#include "metadata/DiscTitles.h"

#include <string>
#include <vector>

class TCDRIP;

// Track titles and output file names, formed as the GUI forms them.
namespace riptool {

// The text without leading and trailing characters of code 0 to 32.
std::string TrimControl(const std::string& text);

// Output folder + "/" (unless it ends in one) + title + ".wav" or ".mp3"; both
// trimmed first. A "/" in the title puts the file into a sub-folder.
std::string OutputFileName(const std::string& outDir, const std::string& title, bool mp3);

// One title per entry of the ripper's track table: the entry's name ("Track01"),
// replaced by the title stored in cdplayer.ini under the disc's key when there is
// one that is not blank.
std::vector<std::string> TrackTitles(const TCDRIP& ripper);

// The disc's titles from their sources in order: the command line, cdplayer.ini,
// CD-TEXT, MusicBrainz (asked only when `lookup`), the track table's names. When the
// look-up found nothing, `note` receives its one-line reason; else it is cleared.
Metadata::DiscTitles FindDiscTitles(const TCDRIP& ripper, const Metadata::CommandLineTitles& given,
                                    bool lookup, std::string& note);

// The titles alone, one per entry of the track table.
std::vector<std::string> TitleList(const Metadata::DiscTitles& titles);

} // namespace riptool
