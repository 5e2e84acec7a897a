#include "platform/HttpClient.h"

#include "platform/AppInfo.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include <sys/socket.h>
#include <unistd.h>

namespace Http {
namespace {

struct Sink {
    std::string* Body;
    std::size_t MaxBytes;
    bool CutOff = false;
};

extern "C" size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    const std::size_t room = sink->MaxBytes - sink->Body->size();
    if (n > room) {
        sink->Body->append(data, room);
        sink->CutOff = true;
        return 0; // ends the transfer
    }
    sink->Body->append(data, n);
    return n;
}

std::atomic<StopCheck> Stop{nullptr};

// StopRunning: every request remembers the round it started in; a request of an
// earlier round than the current one is stopped. The open sockets, with the round of
// their request, are shut when a round ends.
std::atomic<unsigned> Round{0};
std::mutex SocketsMutex;
std::map<curl_socket_t, unsigned> Sockets;

extern "C" int OnTransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const unsigned started = *static_cast<const unsigned*>(user);
    if (started != Round.load()) {
        return 1;
    }
    const StopCheck check = Stop.load();
    return check != nullptr && check() ? 1 : 0; // nonzero ends the transfer
}

extern "C" curl_socket_t OpenSocket(void* user, curlsocktype, struct curl_sockaddr* address) {
    const unsigned started = *static_cast<const unsigned*>(user);
    std::lock_guard lock(SocketsMutex);
    if (started != Round.load()) {
        return CURL_SOCKET_BAD; // stopped before it connected
    }
    const curl_socket_t fd =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd != CURL_SOCKET_BAD) {
        Sockets[fd] = started;
    }
    return fd;
}

extern "C" int CloseSocket(void*, curl_socket_t fd) {
    {
        std::lock_guard lock(SocketsMutex);
        Sockets.erase(fd);
    }
    return ::close(fd);
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlCloser {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

} // namespace

std::string UserAgent() {
    return std::string(AppInfo::ProgramName) + "/" + std::string(AppInfo::Version) + " ( " +
           std::string(AppInfo::HomePage) + " )";
}

Response Get(const std::string& url, long timeoutSeconds, std::size_t maxBytes) {
    GlobalInit();
    Response r;
    std::unique_ptr<CURL, CurlCloser> curl(curl_easy_init());
    if (!curl) {
        r.Error = "cannot start the HTTP client";
        return r;
    }
    Sink sink{&r.Body, maxBytes};
    const std::string agent = UserAgent();
    char message[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // safe in threads; no SIGALRM
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
    unsigned started = Round.load();
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &started);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &started);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    const CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_ABORTED_BY_CALLBACK || started != Round.load()) {
        r.Status = 0;
        r.Body.clear();
        r.Error = "stopped";
        return r;
    }
    if (sink.CutOff) {
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.Status);
        r.Error = "the answer is longer than " + std::to_string(maxBytes) + " bytes";
        return r;
    }
    if (rc != CURLE_OK) {
        r.Status = 0;
        r.Body.clear();
        r.TimedOut = rc == CURLE_OPERATION_TIMEDOUT;
        r.Error = message[0] != '\0' ? message : curl_easy_strerror(rc);
        return r;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.Status);
    return r;
}

void SetStopCheck(StopCheck check) {
    Stop.store(check);
}

void StopRunning() {
    std::lock_guard lock(SocketsMutex);
    const unsigned ended = Round.fetch_add(1);
    for (const auto& [fd, round] : Sockets) {
        if (round == ended) {
            ::shutdown(fd, SHUT_RDWR); // the request's wait ends; curl closes the socket
        }
    }
}

std::string BaseAddress(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    std::string base = value != nullptr && *value != '\0' ? value : fallback;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

} // namespace Http
