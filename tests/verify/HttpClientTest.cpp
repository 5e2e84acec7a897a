#include "platform/HttpClient.h"

#include "LocalServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>

namespace {

std::string Server() {
    return std::string(VERIFY_TEST_DIR) + "/dbar_server.py";
}

class HttpGet : public testing::Test {
protected:
    void SetUp() override {
        std::ofstream(root / "doc.bin", std::ios::binary) << std::string(5000, 'z');
        server.emplace(std::vector<std::string>{"python3", Server(), root.Path, "30", "10"});
    }
    TempFolder root{"http"};
    std::optional<LocalServer> server;
};

TEST_F(HttpGet, ReturnsTheDocument) {
    const Http::Response r = Http::Get(server->Url() + "/doc.bin", 5);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, std::string(5000, 'z'));
    EXPECT_EQ(r.Error, "");
}

TEST_F(HttpGet, ReportsAMissingDocument) {
    const Http::Response r = Http::Get(server->Url() + "/missing.bin", 5);
    EXPECT_EQ(r.Status, 404);
}

TEST_F(HttpGet, CutsOffALongAnswer) {
    const Http::Response r = Http::Get(server->Url() + "/doc.bin", 5, 1000);
    EXPECT_EQ(r.Body.size(), 1000u);
    EXPECT_NE(r.Error, "");
}

TEST_F(HttpGet, SendsTheProgramsUserAgent) {
    const Http::Response r = Http::Get(server->Url() + "/echo-agent", 5);
    EXPECT_EQ(r.Body, Http::UserAgent());
    EXPECT_EQ(r.Body.rfind("velmora-ripper/", 0), 0u);
}

TEST(HttpGetSilent, TimesOut) {
    LocalServer server({"python3", Server(), "/nonexistent", "20", "1", "silent"});
    const auto start = std::chrono::steady_clock::now();
    const Http::Response r = Http::Get(server.Url() + "/x", 1);
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Error, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

} // namespace
