#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the object goes, read-only leftovers included.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "velmora") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX"));
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        Path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        for (auto& entry : std::filesystem::recursive_directory_iterator(Path, ec)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(Path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return Path; }
    std::string file(const std::string& name) const { return Path + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

    std::string Path;
};
