#include "platform/Paths.h"

#include "platform/AppInfo.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Paths {

namespace {

std::string settingsOverride;

std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of a user-dirs.dirs line such as XDG_MUSIC_DIR="$HOME/Music", or "".
std::string userDirValue(const std::string& line, const std::string& name) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, name.size(), name) != 0)
        return {};
    auto pos = line.find_first_not_of(" \t", start + name.size());
    if (pos == std::string::npos || line[pos] != '=')
        return {};
    pos = line.find_first_not_of(" \t", pos + 1);
    if (pos == std::string::npos || line[pos] != '"')
        return {};
    std::string value;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\' && pos + 1 < line.size())
            ++pos;
        value += line[pos];
    }
    return value;
}

// Expands a leading $HOME; only absolute results are taken.
std::string expandUserDir(const std::string& value) {
    std::string path = value;
    if (path.rfind("$HOME", 0) == 0)
        path = homeFolder() + path.substr(5);
    if (path.empty() || path.front() != '/')
        return {};
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

std::string programPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string settingsFileBeside(const std::string& program) {
    const auto slash = program.find_last_of('/');
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    for (char& c : name)
        c = lowerAscii(c);
    const std::string folder = slash == std::string::npos ? "" : program.substr(0, slash + 1);
    return folder + name + ".ini";
}

std::string settingsFilePath() {
    if (!settingsOverride.empty())
        return settingsOverride;
    const std::string fromEnv = envOrEmpty("VELMORA_SETTINGS");
    if (!fromEnv.empty())
        return fromEnv;
    const std::string program = programPath();
    if (!program.empty() && settingsBesideProgram(folderOf(program)))
        return settingsFileBeside(program);
    return configFolder() + "/" + std::string(AppInfo::ProgramName) + ".ini";
}

void setSettingsFileOverride(const std::string& path) {
    settingsOverride = path;
}

std::string homeFolder() {
    std::string home = envOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    if (home.empty())
        home = "/";
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string configFolder() {
    const std::string xdg = envOrEmpty("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/')
        return xdg.size() > 1 && xdg.back() == '/' ? xdg.substr(0, xdg.size() - 1) : xdg;
    const std::string home = homeFolder();
    return (home == "/" ? "" : home) + "/.config";
}

std::string musicFolder() {
    std::ifstream dirs(configFolder() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
        const std::string path = expandUserDir(userDirValue(line, "XDG_MUSIC_DIR"));
        // A value of "$HOME/" alone means the folder is switched off.
        if (!path.empty() && path != homeFolder())
            return path;
    }
    const std::string home = homeFolder();
    return (home == "/" ? "" : home) + "/Music";
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool folderWritable(const std::string& path) {
    return folderExists(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool settingsBesideProgram(const std::string& programFolder) {
    for (const char* system : {"/usr", "/bin", "/sbin", "/opt"}) {
        const std::string root = system;
        if (programFolder == root || programFolder.rfind(root + "/", 0) == 0)
            return false;
    }
    return folderWritable(programFolder);
}

bool createFolders(const std::string& path) {
    if (path.empty())
        return false;
    if (folderExists(path))
        return true;
    const std::string parent = folderOf(path);
    if (parent != path && parent != "." && !createFolders(parent))
        return false;
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && folderExists(path));
}

} // namespace Paths
