#pragma once

// Reads an MP3 file's ID3v2 tag with mutagen, a reader independent of TagLib.

#include "platform/Paths.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

// Runs the Python script `text` (written to `script`) on the file at `path` and takes
// what it prints as JSON; null, with a test failure naming what was printed, when it is
// not JSON.
inline nlohmann::json RunMutagenScript(const std::string& script, const std::string& text,
                                       const std::string& path) {
    std::ofstream(script) << text;
    // Debian's python3-mutagen belongs to the system's interpreter, which a python3
    // earlier on PATH (a virtual environment, pyenv) may lack.
    const std::string python =
        Paths::fileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    FILE* p = ::popen((python + " '" + script + "' '" + path + "' 2>&1").c_str(), "r");
    if (p == nullptr)
        return nullptr;
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p))
        out.append(buffer, n);
    ::pclose(p);
    const nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded())
        ADD_FAILURE() << "mutagen says: " << out;
    return j.is_discarded() ? nlohmann::json(nullptr) : j;
}

// Every frame of the file's ID3v2 tag (ID3v2 alone) as mutagen reads it: {"version": [2, 4, 0],
// "frames": {"TIT2": ["text", encoding], "TXXX:desc": [...], ...}}; null on failure.
inline nlohmann::json MutagenFrames(const std::string& path) {
    return RunMutagenScript(path + ".py",
                            "import json, sys\n"
                            "from mutagen.id3 import ID3\n"
                            "t = ID3(sys.argv[1], load_v1=False)\n"
                            "print(json.dumps({'version': list(t.version), 'frames': "
                            "{k: [str(f), int(f.encoding)] for k, f in t.items()}}))\n",
                            path);
}

// Every frame of the file's ID3v2 tag as mutagen reads it, each kind with all it holds:
// {"version": [2, 4, 0], "frames": {"TIT2": {"text": ["a"], "encoding": 3},
// "UFID:owner": {"owner": ..., "data": ...}, "APIC:": {"mime": ..., "type": 3, "desc": "",
// "encoding": 3, "data": "89504e47..." (hex)}}}; null on failure.
inline nlohmann::json MutagenTags(const std::string& path) {
    return RunMutagenScript(
        path + ".tags.py",
        "import json, sys\n"
        "from mutagen.id3 import ID3\n"
        "t = ID3(sys.argv[1], load_v1=False)\n"
        "out = {}\n"
        "for k, f in t.items():\n"
        "    if f.FrameID == 'UFID':\n"
        "        out[k] = {'owner': f.owner, 'data': f.data.decode('utf-8', 'replace')}\n"
        "    elif f.FrameID == 'APIC':\n"
        "        out[k] = {'mime': f.mime, 'type': int(f.type), 'desc': f.desc,\n"
        "                  'encoding': int(f.encoding), 'data': f.data.hex()}\n"
        "    else:\n"
        "        out[k] = {'text': [str(x) for x in f.text], 'encoding': int(f.encoding)}\n"
        "print(json.dumps({'version': list(t.version), 'frames': out}))\n",
        path);
}
