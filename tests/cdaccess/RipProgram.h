#pragma once

// Running the velmora-rip program from a test: where it lies, the environment it gets
// (the settings, cdplayer.ini, the cache and sound pointed into the test's folder), and
// a child process with stdout and stderr into files of that folder.

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// A file's bytes as text.
inline std::string ReadText(const std::string& path) {
    const auto b = ReadBytes(path);
    return {b.begin(), b.end()};
}

struct RipRun {
    int Code = -1; // the exit status; -1 when the program did not exit by itself
    std::string Out;
    std::string Err;
};

// The program lies in VELMORA_TEST_BIN, which is also the test's own folder.
inline std::string RipProgramPath() {
    const char* bin = std::getenv("VELMORA_TEST_BIN");
    return (bin != nullptr && *bin != '\0'
                ? std::string(bin)
                : std::filesystem::read_symlink("/proc/self/exe").parent_path().string()) +
           "/velmora-rip";
}

// The test's environment without the library's variables (CDRIP_*), the user's folders
// (XDG_*) and Velmora's own settings, then those pointed into `folder`: config/ for the
// settings file and cdplayer.ini, cache/ for the drive offsets, no sound. The web
// services' addresses the test chose (VELMORA_MUSICBRAINZ_URL, VELMORA_ACCURATERIP_URL,
// VELMORA_COVERART_URL) pass; `extra` comes last and wins.
inline std::vector<std::string> RipProgramEnvironment(const std::string& folder,
                                                      const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string v = *e;
        const bool service = v.rfind("VELMORA_MUSICBRAINZ_URL=", 0) == 0 ||
                             v.rfind("VELMORA_ACCURATERIP_URL=", 0) == 0 ||
                             v.rfind("VELMORA_COVERART_URL=", 0) == 0;
        if (v.rfind("CDRIP_", 0) != 0 && v.rfind("XDG_", 0) != 0 &&
            (v.rfind("VELMORA_", 0) != 0 || service)) {
            env.push_back(v);
        }
    }
    env.push_back("XDG_CONFIG_HOME=" + folder + "/config");
    env.push_back("XDG_CACHE_HOME=" + folder + "/cache");
    env.push_back("VELMORA_SETTINGS=" + folder + "/config/velmora-ripper.ini");
    env.push_back("CDRIP_AUDIO=none");
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Starts the program with stdout into folder/stdout and stderr into folder/stderr; with
// `closedPipe`, stdout is a pipe whose reading end is already closed, as under
// "| head -1" once head ended. Returns the child's id, -1 when it could not start.
inline pid_t StartRipProgram(const std::string& program, const std::vector<std::string>& args,
                             std::vector<std::string> env, const std::string& folder,
                             bool closedPipe = false) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);
    std::vector<char*> cenv;
    for (std::string& e : env) {
        cenv.push_back(e.data());
    }
    cenv.push_back(nullptr);
    const std::string out = folder + "/stdout";
    const std::string err = folder + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeEnds[2] = {-1, -1};
    if (closedPipe && ::pipe(pipeEnds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        ::close(pipeEnds[0]);
        std::ofstream(out).close();
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0) {
        ::close(pipeEnds[1]);
    }
    EXPECT_EQ(rc, 0) << "cannot start " << program;
    return rc == 0 ? pid : -1;
}

// Waits for the child and reads what it wrote.
inline RipRun WaitRipProgram(pid_t pid, const std::string& folder) {
    RipRun r;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        r.Code = WEXITSTATUS(status);
    }
    r.Out = ReadText(folder + "/stdout");
    r.Err = ReadText(folder + "/stderr");
    return r;
}
