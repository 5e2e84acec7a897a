#pragma once

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

// A Python helper started for one test: its first line of output is read back (the
// port a server listens on), and it is stopped when the object goes. The helpers stop
// by themselves after a while too, so a crashed test leaves nothing running.
class LocalServer {
public:
    explicit LocalServer(std::vector<std::string> args) {
        // The helper runs without the test's preloads (the emulated drive, the sanitizers'
        // runtimes): it needs neither, and under the sanitizers every process of its start
        // (a launcher script, the interpreter) would pay for them.
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string(*e).rfind("LD_PRELOAD=", 0) != 0) {
                env.push_back(*e);
            }
        }
        env.push_back(nullptr);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) {
            throw std::runtime_error("pipe failed");
        }
        Pid = ::fork();
        if (Pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::execvpe(argv[0], argv.data(), env.data());
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* f = ::fdopen(out[0], "r");
        char line[64] = {};
        if (f == nullptr || std::fgets(line, sizeof line, f) == nullptr) {
            if (f != nullptr) {
                std::fclose(f);
            }
            Stop();
            throw std::runtime_error("the helper printed no port");
        }
        std::fclose(f);
        Port = std::stoi(line);
    }
    ~LocalServer() { Stop(); }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port); }
    int Port = 0;

private:
    void Stop() {
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            ::waitpid(Pid, nullptr, 0);
            Pid = -1;
        }
    }
    pid_t Pid = -1;
};
