#include "DriveFixture.h"
#include "FileBytes.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

extern char** environ;

// Read by LeakSanitizer in the sanitizer build: libcdio's device driver keeps what it
// allocates for a drive's CD-TEXT. Not ours to fix; everything else must be leak-free.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcdio.so\n";
}

namespace drivetest {

std::string DriveTest::dir_;
DiscFiles DriveTest::music_;
DiscFiles DriveTest::enhanced_;

int Emu(const std::string& settings) {
    using Control = int (*)(const char*);
    static auto control =
        reinterpret_cast<Control>(dlsym(RTLD_DEFAULT, "velmora_emudrive_control"));
    if (!control) {
        ADD_FAILURE() << "the emulated drive is not preloaded";
        return -1;
    }
    return control(settings.c_str());
}

std::string EmuStats() {
    using Stats = int (*)(char*, int);
    static auto stats = reinterpret_cast<Stats>(dlsym(RTLD_DEFAULT, "velmora_emudrive_stats"));
    char text[1024] = {};
    if (!stats || stats(text, sizeof text) != 0)
        return {};
    return text;
}

namespace {

// A statistic's value as a number (-1: not there).
double StatValue(const std::string& key) {
    const std::string json = EmuStats(), look = "\"" + key + "\":";
    const size_t at = json.find(look);
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + look.size());
}

} // namespace

long EmuStat(const std::string& key) {
    return std::lround(StatValue(key));
}

double EmuSeconds() {
    return StatValue("clock_seconds");
}

std::string AsBuilt(std::string model) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
    const std::string key = "pace_us=";
    if (const size_t at = model.find(key); at != std::string::npos) {
        const size_t from = at + key.size();
        const size_t to = model.find(';', from);
        const long pace = std::stol(model.substr(from, to - from));
        model.replace(from, to == std::string::npos ? std::string::npos : to - from,
                      std::to_string(3 * pace));
    }
#endif
    return model;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    return FileBytesOf(path);
}

DiscFiles DriveTest::WriteDisc(const std::string& name, const discgen::DiscSpec& plan) {
    DiscFiles d;
    const std::string base = dir_ + "/" + name;
    std::string error;
    EXPECT_TRUE(discgen::writeDisc(base, plan, &error)) << error;
    d.cue = base + ".cue";
    d.bin = ReadFile(base + ".bin");
    d.layout = discgen::layoutOf(plan);
    d.audioEnd = d.layout.leadout;
    if (!plan.tracks.empty() && plan.tracks.back().data)
        d.audioEnd = d.layout.starts.back() - plan.tracks.back().pregap;
    return d;
}

DiscFiles DriveTest::NoiseDisc(const std::string& name, uint32_t seed, int32_t sectors) {
    DiscFiles d;
    const std::string base = dir_ + "/" + name;
    std::mt19937 noise(seed);
    d.bin.resize(size_t(sectors) * kSector);
    for (uint8_t& b : d.bin)
        b = uint8_t(noise());
    std::ofstream(base + ".bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(d.bin.data()), std::streamsize(d.bin.size()));
    std::ofstream(base + ".cue") << "FILE \"" << name << ".bin\" BINARY\n"
                                 << "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    d.cue = base + ".cue";
    d.layout.starts = {0};
    d.layout.leadout = sectors;
    d.audioEnd = sectors;
    return d;
}

std::string DriveTest::TestHome(const char* extra) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "-" + test->name();
    for (char& c : name)
        if (c == '/')
            c = '-';
    const std::string home = dir_ + "/" + name;
    std::filesystem::create_directories(home + "/config");
    std::filesystem::create_directories(home + "/cache");
    if (extra)
        std::filesystem::create_directories(home + "/" + extra);
    return home;
}

void DriveTest::SetUpTestSuite() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/emudrive-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    discgen::DiscSpec plan = discgen::simpleDisc(31, 3, 0);
    // Odd lengths: no track is a whole number of reads.
    plan.tracks = {{211, 0, false}, {157, 0, false}, {233, 0, false}};
    plan.title = "Caf\xc3\xa9 Songs"; // é: Latin-1 in the cue sheet and in CD-TEXT
    plan.performer = "The Testers";
    plan.trackTitles = {"One", "Two", "Three"};
    // Every track has a performer: libcdio's CD-TEXT reader skips an empty text without
    // moving on to the next track.
    plan.trackPerformers = {"A", "Bee", "C"};
    music_ = WriteDisc("music", plan);
    discgen::DiscSpec enhanced = discgen::simpleDisc(32, 3, 0);
    enhanced.tracks = {{180, 0, false}, {140, 0, false}, {160, 0, false}, {300, 150, true}};
    enhanced_ = WriteDisc("enhanced", enhanced);
}

void DriveTest::TearDownTestSuite() {
    CR_DeInit();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void DriveTest::TearDown() {
    CR_DeInit();
}

void DriveTest::Load(const std::string& settings) {
    CR_DeInit();
    ASSERT_EQ(Emu("reset=1;" + settings), 0) << settings;
    unsetenv("CDRIP_IMAGES");
    ASSERT_EQ(CR_Init(), CR_STATUS_OK);
    ASSERT_GE(CR_GetNumCDROM(), 1);
    ASSERT_EQ(CR_SetActiveCDROM(0), CR_STATUS_OK);
}

std::string DriveTest::StatusText() {
    char text[256] = "unset";
    EXPECT_EQ(CR_GetDriveStatusText(text, sizeof text), CR_STATUS_OK);
    return text;
}

Ripped DriveTest::Rip(int32_t first, int32_t last, bool paranoia, int32_t offset) {
    Ripped r;
    CR_DRIVE_PARAMS p{};
    EXPECT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.jitterCorrection = paranoia ? CR_TRUE : CR_FALSE;
    p.readOffset = offset;
    p.outputFormat = CR_STEREO44100;
    EXPECT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    int32_t size = 0;
    r.open = CR_OpenRipper(&size, first, last);
    if (r.open != CR_STATUS_OK)
        return r;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    for (int guard = 0; guard < 10000; ++guard) {
        int32_t n = 0;
        const CR_STATUS s = CR_RipChunk(buffer.data(), &n, CR_TRUE);
        ++r.chunks;
        if (s == CR_STATUS_FAIL) {
            r.failed = true;
            break;
        }
        r.bytes.insert(r.bytes.end(), buffer.begin(), buffer.begin() + n);
        r.damaged = r.damaged || s == CR_STATUS_JITTER;
        if (s == CR_STATUS_JITTER) {
            uint32_t a = 0, b = 0;
            EXPECT_EQ(CR_GetLastJitterErrorPosition(&a, &b), CR_STATUS_OK);
            r.listed.emplace_back(a, b);
        }
        if (s == CR_STATUS_DONE)
            break;
    }
    r.errors = CR_GetNumberOfJitterErrors();
    CR_CloseRipper();
    return r;
}

std::vector<uint8_t> DriveTest::Expected(const DiscFiles& disc, int32_t first, int32_t last,
                                         int32_t offset) {
    std::vector<uint8_t> out(size_t(last - first + 1) * kSector, 0);
    const int64_t samples = int64_t(disc.audioEnd) * 588;
    for (size_t i = 0; i < out.size() / 4; ++i) {
        const int64_t sample = int64_t(first) * 588 + int64_t(i);
        const int64_t at = sample + offset; // where a drive without offset reads it
        if (at >= 0 && at < samples)
            std::memcpy(&out[i * 4], &disc.bin[size_t(sample) * 4], 4);
    }
    return out;
}

std::string DriveTest::Bin(const std::string& program) {
    const char* bin = std::getenv("VELMORA_TEST_BIN");
    return std::string(bin ? bin : ".") + "/" + program;
}

ProgramResult DriveTest::Run(const std::vector<std::string>& argv, const std::string& emu,
                             const std::map<std::string, std::string>& env, int seconds) {
    ProgramResult result;
    const std::string out = dir_ + "/run.out", err = dir_ + "/run.err";
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string item = *e;
        const std::string key = item.substr(0, item.find('='));
        if (key != "VELMORA_EMU" && !env.count(key))
            envText.push_back(item);
    }
    envText.push_back("VELMORA_EMU=" + emu);
    for (const auto& [key, value] : env)
        envText.push_back(key + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : envText)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << argv[0] << " ran longer than " << seconds << " s";
            break;
        }
        poll(nullptr, 0, 10);
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto o = ReadFile(out), e = ReadFile(err);
    result.out.assign(o.begin(), o.end());
    result.err.assign(e.begin(), e.end());
    return result;
}

} // namespace drivetest
