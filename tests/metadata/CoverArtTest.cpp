// The front cover from a local stand-in for the Cover Art Archive: its real type from
// the bytes, a missing cover, a server that never answers, the size limit on both
// sides, the rate limit, and the cover file written beside the tracks.
#include "metadata/CoverArt.h"
#include "LocalHttpServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

const std::string ReleaseId = "1b000000-0000-4000-8000-000000000002";

// A 1x1 PNG image, 70 bytes: signature (8), IHDR (25), IDAT (25), IEND (12).
const std::string
    Png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4"
        "\x89\0\0\0\x0dIDATx\xda\x63\x64\xf8\xcf\x50\x0f\0\x03\x86\x01\x80\x5a\x34"
        "\x7d\x6b\0\0\0\0IEND\xae\x42\x60\x82",
        70);
// The start of a JFIF file (start of image, APP0) and its end.
const std::string Jpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\xff\xd9", 22);

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

struct CoverCase {
    const char* name;
    LocalHttpServer::Mode mode;
    int status;
    std::string body;
    std::string mime, extension; // empty: no cover
    bool missing;
    std::string message;
};

void PrintTo(const CoverCase& row, std::ostream* os) {
    *os << row.name;
}

class FrontCover : public testing::TestWithParam<CoverCase> {
protected:
    void TearDown() override { ::unsetenv("VELMORA_COVERART_URL"); }
};

TEST_P(FrontCover, FetchedAndTypedByItsBytes) {
    const CoverCase& row = GetParam();
    LocalHttpServer server(row.mode, row.status, row.body);
    ::setenv("VELMORA_COVERART_URL", (server.Url() + "/").c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    const Metadata::CoverResult r = Metadata::FetchFrontCover(ReleaseId, 1);
    // One second for the request, up to one for the rate limit, slack for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6000));
    EXPECT_EQ(r.Missing, row.missing);
    EXPECT_EQ(r.Message, row.message);
    if (row.mime.empty()) {
        EXPECT_EQ(r.Image, nullptr);
    } else {
        ASSERT_NE(r.Image, nullptr);
        EXPECT_EQ(r.Image->Mime, row.mime);
        EXPECT_EQ(r.Image->Extension, row.extension);
        EXPECT_EQ(r.Image->Bytes, Bytes(row.body));
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')),
              "/release/" + ReleaseId + "/front-500");
    EXPECT_EQ(requests[0].find("\tvelmora-ripper/"), requests[0].find('\t'));
}

using Mode = LocalHttpServer::Mode;

INSTANTIATE_TEST_SUITE_P(
    Answers, FrontCover,
    testing::Values(
        CoverCase{"Jpeg", Mode::Answer, 200, Jpeg, "image/jpeg", "jpg", false, ""},
        CoverCase{"PngThoughAskedAsJpeg", Mode::Answer, 200, Png, "image/png", "png", false, ""},
        CoverCase{"NotFound", Mode::Answer, 404, "not found", "", "", true,
                  "the Cover Art Archive has no front cover for this release"},
        CoverCase{"NotAnImage", Mode::Answer, 200, "<html>busy</html>", "", "", false,
                  "the Cover Art Archive's answer is not a JPEG or PNG image; no cover"},
        CoverCase{"CutOffSignature", Mode::Answer, 200, Png.substr(0, 7), "", "", false,
                  "the Cover Art Archive's answer is not a JPEG or PNG image; no cover"},
        CoverCase{"Empty", Mode::Answer, 200, "", "", "", false,
                  "the Cover Art Archive's answer is not a JPEG or PNG image; no cover"},
        CoverCase{"ServerError", Mode::Answer, 503, "busy", "", "", false,
                  "the Cover Art Archive answered HTTP 503; no cover"},
        CoverCase{"NeverAnswers", Mode::Hang, 0, "", "", "", false,
                  "the Cover Art Archive did not answer within 1 s; no cover"},
        // The size limit, both sides.
        CoverCase{"SizeAtTheLimit", Mode::Answer, 200,
                  Jpeg + std::string(Metadata::MaxCoverBytes - Jpeg.size(), '\0'), "image/jpeg",
                  "jpg", false, ""},
        CoverCase{"SizeOneBeyondTheLimit", Mode::Answer, 200,
                  Jpeg + std::string(Metadata::MaxCoverBytes + 1 - Jpeg.size(), '\0'), "", "",
                  false, "the cover is larger than 8 MB; not used"}),
    [](const testing::TestParamInfo<CoverCase>& row) { return row.param.name; });

TEST(FrontCoverRequests, AtMostOneASecond) {
    using Clock = std::chrono::steady_clock;
    Metadata::WaitForCoverSlot();
    const auto first = Clock::now();
    std::thread other([] { Metadata::WaitForCoverSlot(); });
    Metadata::WaitForCoverSlot();
    other.join();
    EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(1990));
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CoverFile, WrittenByItsRealTypeAndNeverReplacedWithoutOverwrite) {
    TempFolder dir("cover");
    const auto png = Metadata::CoverFromBytes(Bytes(Png));
    ASSERT_NE(png, nullptr);
    std::string path, error;
    ASSERT_TRUE(Metadata::SaveCoverFile(dir.path(), *png, false, &path, &error)) << error;
    EXPECT_EQ(path, dir / "cover.png");
    EXPECT_EQ(Read(path), Png);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // A second job into the same folder keeps the file there, unless told to replace it.
    const auto other = Metadata::CoverFromBytes(Bytes(Png + "trailing"));
    EXPECT_FALSE(Metadata::SaveCoverFile(dir.path(), *other, false, &path, &error));
    EXPECT_EQ(error, dir / "cover.png" + " is already there; it was kept");
    EXPECT_EQ(Read(path), Png);
    ASSERT_TRUE(Metadata::SaveCoverFile(dir.path(), *other, true, &path, &error)) << error;
    EXPECT_EQ(Read(path), Png + "trailing");
    // No partial file is left behind either way.
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"cover.png"});
}

TEST(CoverFile, FolderThatIsAFileSaysWhy) {
    TempFolder dir("cover");
    std::ofstream(dir / "plain") << "a file, not a folder";
    const auto jpeg = Metadata::CoverFromBytes(Bytes(Jpeg));
    std::string path, error;
    EXPECT_FALSE(Metadata::SaveCoverFile(dir / "plain", *jpeg, false, &path, &error));
    EXPECT_EQ(error, "cannot write the cover into " + dir / "plain" + ": Not a directory");
}

TEST(CoverFile, NameTakenByAFolderSaysWhy) {
    TempFolder dir("cover");
    std::filesystem::create_directory(dir / "cover.jpg");
    const auto jpeg = Metadata::CoverFromBytes(Bytes(Jpeg));
    std::string path, error;
    EXPECT_FALSE(Metadata::SaveCoverFile(dir.path(), *jpeg, true, &path, &error));
    EXPECT_EQ(error, "cannot write " + dir / "cover.jpg" + ": Is a directory");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"cover.jpg"}) << "no partial left";
}

TEST(CoverFile, MissingFolderSaysWhy) {
    TempFolder dir("cover");
    const auto jpeg = Metadata::CoverFromBytes(Bytes(Jpeg));
    std::string path, error;
    EXPECT_FALSE(Metadata::SaveCoverFile(dir / "gone", *jpeg, false, &path, &error));
    EXPECT_EQ(error, "cannot write the cover into " + dir / "gone" + ": No such file or directory");
}

struct JobCase {
    const char* name;
    Metadata::CoverChoice choice;
    std::string releaseId;
    bool cover, embedded;
    std::size_t requests;
};

void PrintTo(const JobCase& row, std::ostream* os) {
    *os << row.name;
}

class JobCover : public testing::TestWithParam<JobCase> {
protected:
    void TearDown() override { ::unsetenv("VELMORA_COVERART_URL"); }
};

TEST_P(JobCover, FetchedOnceWhenAskedFor) {
    const JobCase& row = GetParam();
    LocalHttpServer server(Mode::Answer, 200, Png);
    ::setenv("VELMORA_COVERART_URL", server.Url().c_str(), 1);
    Metadata::DiscTitles titles;
    titles.Chosen.Id = row.releaseId;
    titles.Tracks.resize(1);
    EXPECT_EQ(Metadata::FetchJobCover(titles, row.choice, 2), "");
    EXPECT_EQ(titles.Cover != nullptr, row.cover);
    EXPECT_EQ(server.Requests().size(), row.requests);
    const Metadata::TagFields f = Metadata::TrackTags(titles, {{0, true}}, {1}, 0);
    EXPECT_EQ(f.Cover != nullptr, row.embedded);
    TempFolder dir("jobcover");
    EXPECT_EQ(Metadata::SaveJobCover(titles, dir.path(), false), "");
    EXPECT_EQ(std::filesystem::exists(dir / "cover.png"), row.cover);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, JobCover,
    testing::Values(JobCase{"EmbeddedAndFile", {true, true}, ReleaseId, true, true, 1},
                    JobCase{"FileOnly", {true, false}, ReleaseId, true, false, 1},
                    JobCase{"Off", {false, true}, ReleaseId, false, false, 0},
                    JobCase{"NoRelease", {true, true}, "", false, false, 0}),
    [](const testing::TestParamInfo<JobCase>& row) { return row.param.name; });

} // namespace
