#pragma once

#include <string>

// One HTTP GET through libcurl, with a bounded time and the program's User-Agent.
// Used by the web-service look-ups; their base addresses can be replaced through the
// environment so that tests talk to a server on 127.0.0.1.
namespace Http {

struct Response {
    long Status = 0;       // the HTTP status; 0 when no answer came (network error, time-out)
    std::string Body;      // the document, up to MaxBytes
    std::string Error;     // why no answer came, or why the body was cut off; empty on success
    bool TimedOut = false; // no (whole) answer came within the time limit
};

// "velmora-ripper/2.3.0 ( https://velmora.example.org/ )"
std::string UserAgent();

// Fetches url. Gives up after timeoutSeconds in all (connecting included). A body
// longer than maxBytes is cut off there and Error says so.
Response Get(const std::string& url, long timeoutSeconds = 10, std::size_t maxBytes = 4 << 20);

// A check that a look-up in progress polls (about once a second, and while it waits
// for an answer): when it returns true the request ends at once with Error "stopped".
// velmora-rip's Ctrl-C sets it. Null: none.
using StopCheck = bool (*)();
void SetStopCheck(StopCheck check);

// Ends every request in progress at once (their sockets are shut, so that a server that
// accepted and never answers holds none of them), with Error "stopped"; requests
// started afterwards go on as usual. The window calls it when it closes.
void StopRunning();

// The value of the environment variable `variable` when it is set and not empty,
// else fallback; a trailing '/' is removed.
std::string BaseAddress(const char* variable, const std::string& fallback);

} // namespace Http
