#pragma once

// Small helpers shared by the tests of the INI file layer and the settings store:
// a temporary folder, whole-file access and an independent strict INI reader.

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace IniTest {

using TempFolder = ::TempFolder;

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline int modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return static_cast<int>(st.st_mode & 07777);
}

// The names in a folder, to see that no temporary file was left behind.
inline std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using IniMap = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

// A strict reader written independently of the code under test: every line must be
// blank, a comment, "[section]" or "key=value" inside a section, LF line ends only.
// Fails the test on anything else and on a repeated section or key.
inline IniMap strictRead(const std::string& text) {
    IniMap sections;
    std::string current;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.find('\r'), std::string::npos) << "CR in: " << line;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[') {
            EXPECT_EQ(line.back(), ']') << line;
            current = line.substr(1, line.size() - 2);
            EXPECT_EQ(sections.count(current), 0u) << "repeated section " << current;
            sections[current];
            continue;
        }
        const auto eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << "no '=' in: " << line;
        EXPECT_FALSE(current.empty()) << "key outside a section: " << line;
        if (eq == std::string::npos)
            continue;
        auto& entries = sections[current];
        const std::string key = line.substr(0, eq);
        for (auto& [k, v] : entries)
            EXPECT_NE(k, key) << "repeated key " << key;
        entries.emplace_back(key, line.substr(eq + 1));
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "last line not ended";
    return sections;
}

// Runs Python's configparser (strict, no interpolation, names kept as written) on the
// file and returns its "section|key=value" lines, or "" when python3 is missing.
inline std::string configParserDump(const std::string& path) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0)
        return {};
    const std::string script = "import configparser,sys\n"
                               "p=configparser.ConfigParser(interpolation=None,strict=True)\n"
                               "p.optionxform=str\n"
                               "p.read_file(open(sys.argv[1],encoding='utf-8'))\n"
                               "for s in p.sections():\n"
                               "  for k,v in p.items(s,raw=True): print(s+'|'+k+'='+v)\n";
    const std::string scriptPath = path + ".py";
    writeFile(scriptPath, script);
    const std::string command = "python3 '" + scriptPath + "' '" + path + "' 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        ::pclose(pipe);
    }
    std::remove(scriptPath.c_str());
    return output;
}

} // namespace IniTest
