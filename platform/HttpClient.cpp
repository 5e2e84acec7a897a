#include "platform/HttpClient.h"

#include "platform/AppInfo.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

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

extern "C" int OnTransferInfo(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const StopCheck check = Stop.load();
    return check != nullptr && check() ? 1 : 0; // nonzero ends the transfer
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
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    const CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
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

std::string BaseAddress(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    std::string base = value != nullptr && *value != '\0' ? value : fallback;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

} // namespace Http
