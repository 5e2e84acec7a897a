#pragma once

// A stand-in for a web service: Python's http.server on 127.0.0.1 at a free port,
// answering every GET with what the test chose. It serves at most `maxRequests`
// requests and stops by itself after `lifeSeconds` whatever happens; the object
// also ends it (by its process id) when it goes. Each request's path and
// User-Agent are appended to a log the test reads, and the time it came to another.

#include "TempFolder.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

class LocalHttpServer {
public:
    enum class Mode { Answer, Hang };

    // Answers with `status` and `body` (Mode::Answer), or accepts and never answers
    // (Mode::Hang) until it stops.
    LocalHttpServer(Mode mode, int status, const std::string& body, int maxRequests = 4,
                    int lifeSeconds = 20)
        : Folder("httpd") {
        std::ofstream(Folder / "body", std::ios::binary) << body;
        std::ofstream(Folder / "server.py") << Script;
        const std::string script = Folder / "server.py", dir = Folder.path(),
                          modeText = mode == Mode::Hang ? "hang" : "answer",
                          statusText = std::to_string(status),
                          maxText = std::to_string(maxRequests),
                          lifeText = std::to_string(lifeSeconds);
        std::vector<const char*> argv = {
            "python3",          script.c_str(),  dir.c_str(),      modeText.c_str(),
            statusText.c_str(), maxText.c_str(), lifeText.c_str(), nullptr};
        if (::posix_spawnp(&Pid, "python3", nullptr, nullptr, const_cast<char**>(argv.data()),
                           environ) != 0)
            throw std::runtime_error("cannot start python3");
        // The server writes its port once it listens.
        for (int i = 0; i < 200 && Port == 0; ++i) {
            std::ifstream in(Folder / "port");
            in >> Port;
            if (Port == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        if (Port == 0)
            throw std::runtime_error("the test server did not start");
    }
    ~LocalHttpServer() {
        ::kill(Pid, SIGTERM);
        int status = 0;
        ::waitpid(Pid, &status, 0);
    }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port); }

    // One line per request: "PATH\tUSER-AGENT".
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::ifstream in(Folder / "log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // When each request came, in the order of Requests().
    std::vector<std::chrono::system_clock::time_point> RequestTimes() const {
        std::vector<std::chrono::system_clock::time_point> times;
        std::ifstream in(Folder / "times");
        for (long long micros = 0; in >> micros;)
            times.emplace_back(std::chrono::microseconds(micros));
        return times;
    }

private:
    static constexpr const char* Script = R"PY(
import http.server, os, sys, threading, time
folder, mode, status, max_requests, life = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
with open(os.path.join(folder, "body"), "rb") as f:
    body = f.read()
threading.Timer(life, lambda: os._exit(0)).start()
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(os.path.join(folder, "log"), "a") as log:
            log.write(self.path + "\t" + self.headers.get("User-Agent", "") + "\n")
        with open(os.path.join(folder, "times"), "a") as times:
            times.write(str(time.time_ns() // 1000) + "\n")
        if mode == "hang":
            time.sleep(life)
            return
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(os.path.join(folder, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
for _ in range(max_requests):
    server.handle_request()
time.sleep(2)  # lets the last answer finish
os._exit(0)
)PY";

    TempFolder Folder;
    pid_t Pid = 0;
    int Port = 0;
};
