#pragma once

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

} // namespace riptool
