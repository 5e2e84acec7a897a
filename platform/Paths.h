#pragma once

#include <string>

// Where the program and its files live on this system.
namespace Paths {

// The running program's full path (/proc/self/exe), or "" when it cannot be found.
std::string programPath();

// The folder part of path ("/a/b" for "/a/b/c"; "/" for "/c"; "." for "c").
std::string folderOf(const std::string& path);

// The settings file beside a program: its folder (case kept), then its file name
// lower-cased with the extension replaced by ".ini" (/opt/V/RIPPER.EXE gives
// /opt/V/ripper.ini; /usr/bin/velmora-ripper gives /usr/bin/velmora-ripper.ini).
std::string settingsFileBeside(const std::string& program);

// The settings file: the override when one is set (setSettingsFileOverride, else the
// environment variable VELMORA_SETTINGS), else the file beside the program when its
// folder is writable, else velmora-ripper.ini in the configuration folder.
std::string settingsFilePath();

// Makes settingsFilePath() return path; "" removes the override.
void setSettingsFileOverride(const std::string& path);

// The user's home folder: $HOME, else the password database's entry.
std::string homeFolder();

// The configuration folder that stands for the Windows directory: $XDG_CONFIG_HOME
// when it is an absolute path, else ~/.config.
std::string configFolder();

// The user's music folder: XDG_MUSIC_DIR from user-dirs.dirs in the configuration
// folder ($HOME expanded), else ~/Music.
std::string musicFolder();

bool fileExists(const std::string& path);
bool folderExists(const std::string& path);

// Whether files can be created in the folder (it exists and allows writing).
bool folderWritable(const std::string& path);
// True when a program's settings file may live in the program's folder: the folder is
// writable and is not one of the system's program folders (/usr, /bin, /sbin, /opt),
// where a package manager owns every file and root would otherwise write one.
bool settingsBesideProgram(const std::string& programFolder);

// Creates the folder and every missing parent (mkdir -p); true when the folder exists
// afterwards.
bool createFolders(const std::string& path);

} // namespace Paths
