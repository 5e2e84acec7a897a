// velmora-rip on the emulated drive with AccurateRip first: a track the database
// confirms is read once, its edges securely; anything else gets the secure reading.
#include "DriveFixture.h"

#include "../verify/DbarBuilder.h"
#include "verify/ArChecksum.h"
#include "verify/ArLookup.h"
#include "verify/DiscIds.h"
#include "verify/LocalServer.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace drivetest {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

const std::string kTitles[3] = {"One", "Two", "Three"}; // the music disc's CD-TEXT

class ArFirst : public DriveTest {
protected:
    static void SetUpTestSuite() {
        DriveTest::SetUpTestSuite();
        // The music disc at a real disc's scale: more than three times the drive cache
        // the reader takes (8 MB, 3,567 sectors), so that the one pass itself is what
        // makes the drive forget the edges between their reads.
        discgen::DiscSpec plan = discgen::simpleDisc(33, 3, 0);
        plan.tracks = {{3951, 0, false}, {3949, 0, false}, {3950, 0, false}};
        plan.title = "Long Songs";
        plan.performer = "The Testers";
        plan.trackTitles = {"One", "Two", "Three"};
        plan.trackPerformers = {"A", "Bee", "C"};
        long_ = WriteDisc("long", plan);
    }
    void SetUp() override { home_ = TestHome("db"); }

    static DiscToc TocOf(const DiscFiles& disc) {
        DiscToc toc;
        for (int32_t start : disc.layout.starts)
            toc.Tracks.push_back({start, true});
        toc.LeadOut = disc.layout.leadout;
        return toc;
    }
    static int32_t TrackFirst(const DiscFiles& disc, int t) {
        return disc.layout.starts[size_t(t)];
    }
    static int32_t TrackLast(const DiscFiles& disc, int t) {
        return (size_t(t + 1) < disc.layout.starts.size() ? disc.layout.starts[size_t(t + 1)]
                                                          : disc.layout.leadout) -
               1;
    }
    // The v2 checksum of track t (from 0) of these disc bytes.
    static uint32_t V2Of(const DiscFiles& disc, const std::vector<uint8_t>& bin, int t) {
        const int32_t first = TrackFirst(disc, t), last = TrackLast(disc, t);
        ArChecksum ar(uint64_t(last - first + 1) * 588, t == 0,
                      size_t(t + 1) == disc.layout.starts.size());
        ar.Update(bin.data() + size_t(first) * kSector, size_t(last - first + 1) * kSector);
        return ar.V2();
    }
    // The disc's dBAR file, one record of these checksums, served from db/.
    void Serve(const DiscFiles& disc, const std::vector<BuiltTrack>& tracks) {
        const AccurateRipIds ids = AccurateRipDiscIds(TocOf(disc));
        const std::string path = home_ + "/db" + DbarUrl("", ids);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary)
            << DbarRecordBytes(ids.Id1, ids.Id2, ids.Cddb, tracks);
    }
    // The disc's true checksums of its three tracks, each at confidence 5.
    void ServeTrue(const DiscFiles& disc) {
        std::vector<BuiltTrack> tracks;
        for (int t = 0; t < 3; ++t)
            tracks.push_back({5, V2Of(disc, disc.bin, t)});
        Serve(disc, tracks);
    }

    struct Outcome {
        ProgramResult run;
        nlohmann::json report;
        nlohmann::json stats;
        std::string log;
    };
    // One read of the reader's own log (CDRIP_READ_LOG): why, where, how many.
    struct ReaderRead {
        std::string why;
        int32_t lsn = 0, count = 0, got = 0;
    };
    // `answerAfter`: the seconds the local server waits before each answer.
    Outcome RipDisc(const DiscFiles& disc, const std::string& out, bool secure,
                    const std::string& emu = {}, std::vector<ReaderRead>* reads = nullptr,
                    const std::string& answerAfter = "0") {
        LocalServer server({"python3", std::string(VERIFY_TEST_DIR) + "/dbar_server.py",
                            home_ + "/db", "30", "4", "delay=" + answerAfter});
        const std::string stats = home_ + "/stats.json";
        std::filesystem::remove(stats);
        std::vector<std::string> argv{
            Bin("velmora-rip"), "rip", "--no-lookup", "--format",   "wav", "--out", out,
            "--offset",         "0",   "--report",    out + ".json"};
        if (secure)
            argv.push_back("--secure");
        Outcome o;
        std::map<std::string, std::string> env{
            {"VELMORA_SETTINGS", home_ + "/config/velmora-ripper.ini"},
            {"XDG_CONFIG_HOME", home_ + "/config"},
            {"XDG_CACHE_HOME", home_ + "/cache"},
            {"CDRIP_AUDIO", "none"},
            {"CDRIP_IMAGES", ""},
            {"VELMORA_ACCURATERIP_URL", server.Url()}};
        const std::string readLog = home_ + "/reads.log";
        std::filesystem::remove(readLog);
        if (reads != nullptr)
            env["CDRIP_READ_LOG"] = readLog;
        o.run =
            Run(argv, "cue=" + disc.cue + ";stats=" + stats + (emu.empty() ? "" : ";" + emu), env);
        if (reads != nullptr) {
            reads->clear();
            std::ifstream in(readLog);
            for (ReaderRead r; in >> r.why >> r.lsn >> r.count >> r.got;) {
                reads->push_back(r);
                in.ignore(1 << 20, '\n');
            }
        }
        const std::vector<uint8_t> report = ReadFile(out + ".json");
        o.report = nlohmann::json::parse(report.begin(), report.end(), nullptr, false);
        const std::vector<uint8_t> json = ReadFile(stats);
        o.stats = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(out, ec))
            if (e.path().extension() == ".log") {
                const std::vector<uint8_t> text = ReadFile(e.path().string());
                o.log.assign(text.begin(), text.end());
            }
        return o;
    }
    // Each track's WAV file holds the disc's bytes.
    static void ExpectTracks(const DiscFiles& disc, const std::vector<uint8_t>& bin,
                             const std::string& out) {
        for (int t = 0; t < 3; ++t) {
            const std::vector<uint8_t> b = ReadFile(out + "/" + kTitles[t] + ".wav");
            const int32_t first = TrackFirst(disc, t), last = TrackLast(disc, t);
            ASSERT_EQ(b.size(), 44 + size_t(last - first + 1) * kSector) << "track " << t + 1;
            EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), bin.begin() + first * kSector))
                << "track " << t + 1;
        }
    }
    // The one pass's reads (the reader's plain reads) that start within first..last.
    static std::vector<ReaderRead> PlainIn(const std::vector<ReaderRead>& reads, int32_t first,
                                           int32_t last) {
        std::vector<ReaderRead> in;
        for (const ReaderRead& r : reads)
            if (r.why == "plain" && r.lsn >= first && r.lsn <= last)
                in.push_back(r);
        return in;
    }
    static std::string ProvenBy(const Outcome& o, int t) {
        const auto& p = o.report["tracks"][size_t(t)]["proven_by"];
        return p.is_string() ? p.get<std::string>() : "(none)";
    }

    std::string home_;
    static DiscFiles long_;
};

DiscFiles ArFirst::long_;

TEST_F(ArFirst, KnownDiscIsReadOncePerSectorItsEdgesSecurely) {
    ServeTrue(long_);
    const std::string out = home_ + "/out";
    const std::string driveLog = home_ + "/drive.log";
    const Outcome o = RipDisc(long_, out, false, "log=" + driveLog);
    ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
    ExpectTracks(long_, long_.bin, out);
    EXPECT_THAT(o.run.out, HasSubstr("3 exact, 0 damaged, 0 failed"));
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(ProvenBy(o, t), "AccurateRip, one pass, confidence 5") << "track " << t + 1;
        EXPECT_EQ(o.report["tracks"][size_t(t)]["accuraterip"]["result"], "accurate");
    }
    EXPECT_THAT(o.log, HasSubstr("  Proven by: AccurateRip, one pass, confidence 5\n"));
    // Every sector read once, and the first and last track's five edge sectors again
    // by the secure reading.
    const long sectors = long_.layout.leadout;
    ASSERT_TRUE(o.stats.is_object()) << o.stats;
    EXPECT_GE(o.stats["sectors_read"].get<long>(), sectors);
    EXPECT_EQ(o.stats["sectors_from_cache"].get<long>(), 0);
    // The edges' reads are made while the one pass goes by: the pass makes one of each
    // edge's three, short reads away from it the others, and nothing else is read: no
    // cache's worth of reading elsewhere for them. On a disc of three caches' worth the
    // others go in two trips, each from the pass to the first edge, to the last and back
    // (three seeks). One more seek: the pass's start. None between the tracks, and none
    // when the drive is opened: nothing is read then (a probe in the middle of the first
    // track would cost a seek there and one back).
    EXPECT_LE(o.stats["sectors_read"].get<long>(), sectors + 4 * 13) << o.stats;
    EXPECT_LE(o.stats["seeks"].get<long>(), 1 + 2 * 3) << o.stats;
    // The first edge's last read waits for the pass to end, a cache's worth before the
    // disc's end: from there one seek to it, and no trip back. The drive's log ("read
    // START COUNT ..."): the pass's read of the last sector, then that read.
    std::vector<std::pair<long, long>> reads;
    std::ifstream log(driveLog);
    for (std::string word; log >> word;) {
        long start = 0, count = 0;
        if (word == "read" && log >> start >> count)
            reads.emplace_back(start, count);
    }
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[reads.size() - 2].first + reads[reads.size() - 2].second, sectors);
    EXPECT_LT(reads.back().first, 5);
    EXPECT_GT(reads.back().first + reads.back().second, 4);

    // The secure-only mode writes the same bytes, reading far more.
    const std::string secureOut = home_ + "/secure";
    const Outcome s = RipDisc(long_, secureOut, true);
    ASSERT_EQ(s.run.code, 0) << s.run.out << s.run.err;
    ExpectTracks(long_, long_.bin, secureOut);
    for (int t = 0; t < 3; ++t) {
        EXPECT_THAT(ProvenBy(s, t), StartsWith("secure reading, ")) << "track " << t + 1;
        EXPECT_THAT(ProvenBy(s, t), testing::EndsWith(" re-reads"));
    }
    EXPECT_GT(s.stats["sectors_read"].get<long>(), 2 * sectors) << s.stats;
    // The edges' secure reading defeats the drive's cache (taken as 8 MB, here half the
    // disc) by reading elsewhere; the rest is one read a sector.
    EXPECT_LT(o.stats["sectors_read"].get<long>(), s.stats["sectors_read"].get<long>()) << o.stats;
}

TEST_F(ArFirst, UnknownDiscIsReadSecurely) {
    // Nothing served: the database does not know the disc.
    const std::string out = home_ + "/out";
    const Outcome o = RipDisc(music_, out, false);
    ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
    ExpectTracks(music_, music_.bin, out);
    for (int t = 0; t < 3; ++t) {
        EXPECT_THAT(ProvenBy(o, t), StartsWith("secure reading, ")) << "track " << t + 1;
        EXPECT_EQ(o.report["tracks"][size_t(t)]["accuraterip"]["result"], "not in database");
    }
    // Only the first track was read once before the answer came: the others at once
    // securely.
    const long sectors = music_.layout.leadout;
    EXPECT_GT(o.stats["sectors_read"].get<long>(), 2 * sectors);
}

// The look-up answers while the first track's one pass runs (the drive here takes 64 us
// a sector from the disc, a track's 2,500 sectors 0.16 s): the pass ends as soon as the answer says
// the disc is unknown, and the track is read securely; it is not read whole twice. The
// server holds its answer back 20 ms (about 300 sectors): an answer at once came before
// the pass's first read on a busy machine, and then there was no pass to end.
TEST_F(ArFirst, UnknownDiscEndsTheFirstPassOnceTheAnswerComes) {
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const std::string driveLog = home_ + "/drive.log";
    const Outcome o = RipDisc(long_, out, false, "pace_us=64;log=" + driveLog, &reads, "0.02");
    ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
    ExpectTracks(long_, long_.bin, out);
    for (int t = 0; t < 3; ++t) {
        EXPECT_THAT(ProvenBy(o, t), StartsWith("secure reading, ")) << "track " << t + 1;
        EXPECT_EQ(o.report["tracks"][size_t(t)]["accuraterip"]["result"], "not in database");
    }
    // The drive's log ("read START COUNT cache HITS ..."): the reads that start at the
    // disc's first sector, with the sectors the drive answered from its cache.
    std::vector<long> hitsAtZero;
    {
        std::ifstream log(driveLog);
        for (std::string line; std::getline(log, line);) {
            std::istringstream in(line);
            std::string word, cache;
            long start = -1, count = 0, hits = -1;
            if (in >> word >> start >> count >> cache >> hits && word == "read" && start == 0 &&
                cache == "cache")
                hitsAtZero.push_back(hits);
        }
    }
    const int32_t first = TrackFirst(long_, 0), last = TrackLast(long_, 0);
    const std::vector<ReaderRead> pass = PlainIn(reads, first, last);
    int32_t passed = 0;
    for (const ReaderRead& r : pass)
        passed += r.count;
    RecordProperty("one_pass_sectors_of_track_1", std::to_string(passed));
    // Less than half the track went by before the answer (a lot of time for a local
    // look-up), and nothing after the first track is read once first.
    EXPECT_GT(passed, 0);
    EXPECT_LT(passed, (last - first + 1) / 2);
    EXPECT_EQ(PlainIn(reads, last + 1, long_.layout.leadout).size(), 0u);
    // The secure reading's first vote takes the pass's first read (from the disc: the
    // drive had read nothing before it) as its copy from the first sector, and reads its
    // two other places. Of the first sector itself it reads a second copy only, one
    // sector after the drive delivered others: every read of that sector begins a command
    // there, where a drive may echo what it delivered before, so one copy proves nothing.
    ASSERT_EQ(first, 0);
    std::vector<int32_t> votesAtZero;
    for (const ReaderRead& r : reads)
        if (r.why == "vote" && r.lsn == 0)
            votesAtZero.push_back(r.count);
    EXPECT_EQ(votesAtZero, std::vector<int32_t>{1});
    EXPECT_TRUE(std::any_of(reads.begin(), reads.end(),
                            [](const ReaderRead& r) { return r.why == "vote" && r.lsn == 1; }));
    // The drive read from there twice, from the disc both times: the pass's first read
    // was no answer of its cache (a copy it held would be no copy of its own), and
    // neither was the secure reading's one sector.
    EXPECT_EQ(hitsAtZero, (std::vector<long>{0, 0}));
}

// However long the first track's one pass ran before the answer said the disc is unknown,
// the default mode costs the drive no more sectors than the secure-only mode plus those the
// pass read: the pass's reads are the secure reading's first copies, not read again.
// Rows: the answer at once (a few of the pass's reads before it), and one that comes after
// the whole first track was read once (the drive paced at 64 us a sector from the disc, a
// track's 2,500 sectors 0.16 s).
TEST_F(ArFirst, UnknownDiscCostsTheSecureReadingPlusWhatThePassReadFirst) {
    const int32_t first = TrackFirst(long_, 0), last = TrackLast(long_, 0);
    const int32_t track1 = last - first + 1;
    const long sectors = long_.layout.leadout;
    const Outcome secure = RipDisc(long_, home_ + "/secure", true);
    ASSERT_EQ(secure.run.code, 0) << secure.run.out << secure.run.err;
    const long secureRead = secure.stats["sectors_read"].get<long>();
    EXPECT_GE(secureRead, 2 * sectors);
    EXPECT_LE(secureRead, 2 * sectors + 2 * 3568);
    struct Row {
        const char* name;
        const char* answerAfter; // seconds
        int32_t passLo, passHi;  // sectors of track 1 the pass reads before the answer
    };
    const Row rows[] = {
        {"AnswerAtOnce", "0", 1, track1 / 2 - 1},
        {"AnswerAfterTheFirstTrack", "1", track1, track1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = home_ + "/" + row.name;
        std::vector<ReaderRead> reads;
        const Outcome o = RipDisc(long_, out, false, "pace_us=64", &reads, row.answerAfter);
        ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
        ExpectTracks(long_, long_.bin, out);
        for (int t = 0; t < 3; ++t) {
            EXPECT_THAT(ProvenBy(o, t), StartsWith("secure reading, ")) << "track " << t + 1;
            EXPECT_EQ(o.report["tracks"][size_t(t)]["accuraterip"]["result"], "not in database");
        }
        int32_t passed = 0;
        for (const ReaderRead& r : PlainIn(reads, first, last))
            passed += r.count;
        EXPECT_GE(passed, row.passLo);
        EXPECT_LE(passed, row.passHi);
        EXPECT_EQ(PlainIn(reads, last + 1, sectors).size(), 0u);
        const long read = o.stats["sectors_read"].get<long>();
        RecordProperty(std::string(row.name) + "_sectors_read", std::to_string(read));
        EXPECT_GE(read, 2 * sectors);
        EXPECT_LE(read, secureRead + passed);
    }
}

TEST_F(ArFirst, TrackWithOneAlteredSectorInTheDatabaseGetsTheSecureReading) {
    std::vector<uint8_t> altered = music_.bin;
    const int32_t sector = TrackFirst(music_, 1) + 40;
    altered[size_t(sector) * kSector + 100] ^= 0x5a;
    std::vector<BuiltTrack> tracks;
    for (int t = 0; t < 3; ++t)
        tracks.push_back({5, V2Of(music_, t == 1 ? altered : music_.bin, t)});
    Serve(music_, tracks);
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const Outcome o = RipDisc(music_, out, false, {}, &reads);
    // The disc's own bytes, securely read, match no entry: not accurate, status 3.
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    // The secure reading of the second track starts from the first track's proven end
    // (sound there, not silence): its first sectors are checked against it, not put to
    // a vote.
    const int32_t second = TrackFirst(music_, 1);
    for (const ReaderRead& r : reads)
        EXPECT_FALSE(r.why == "vote" && r.lsn >= second - 8 && r.lsn < second + 32)
            << r.lsn << " " << r.count;
    EXPECT_TRUE(std::any_of(reads.begin(), reads.end(), [&](const ReaderRead& r) {
        return r.why == "check" && r.lsn < second && r.lsn + r.count > second;
    }));
    ExpectTracks(music_, music_.bin, out);
    EXPECT_EQ(ProvenBy(o, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_THAT(ProvenBy(o, 1), StartsWith("secure reading, "));
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(o.report["tracks"][1]["accuraterip"]["result"], "not accurate");
    EXPECT_EQ(o.report["tracks"][1]["outcome"], "not accurate");
}

TEST_F(ArFirst, SilentTrackIsNeverProvenByAccurateRip) {
    // The music disc with its second track digital silence, whose checksum 0 the
    // database lists with a high confidence.
    DiscFiles silent = music_;
    silent.cue = home_ + "/silent.cue";
    const std::string bin = home_ + "/silent.bin";
    std::fill(silent.bin.begin() + TrackFirst(music_, 1) * kSector,
              silent.bin.begin() + (TrackLast(music_, 1) + 1) * kSector, uint8_t(0));
    std::ofstream(bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(silent.bin.data()),
               std::streamsize(silent.bin.size()));
    {
        const std::vector<uint8_t> cue = ReadFile(music_.cue);
        std::string text(cue.begin(), cue.end());
        const std::string from = std::filesystem::path(music_.cue).stem().string() + ".bin";
        text.replace(text.find(from), from.size(), "silent.bin");
        std::ofstream(silent.cue) << text;
    }
    ASSERT_EQ(V2Of(silent, silent.bin, 1), 0u);
    Serve(silent, {{5, V2Of(silent, silent.bin, 0)}, {200, 0}, {5, V2Of(silent, silent.bin, 2)}});
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const Outcome o = RipDisc(silent, out, false, {}, &reads);
    ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
    ExpectTracks(silent, silent.bin, out);
    // The answer came with the first track: the silent track, which nothing in it could
    // prove, is read securely at once, never first once.
    EXPECT_EQ(PlainIn(reads, TrackFirst(silent, 1), TrackLast(silent, 1)).size(), 0u);
    EXPECT_FALSE(PlainIn(reads, TrackFirst(silent, 2), TrackLast(silent, 2)).empty());
    EXPECT_EQ(ProvenBy(o, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_THAT(ProvenBy(o, 1), StartsWith("secure reading, "));
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
}

TEST_F(ArFirst, UnreadableSectorsSendTheirTrackToTheSecureReading) {
    ServeTrue(music_);
    // Three sectors of track 2 never read.
    const int32_t bad = TrackFirst(music_, 1) + 60;
    const std::string out = home_ + "/out";
    const std::string damage = "bad=" + std::to_string(bad) + "-" + std::to_string(bad + 2);
    const std::string driveLog = home_ + "/drive.log";
    std::vector<ReaderRead> reads;
    const Outcome o = RipDisc(music_, out, false, damage + ";log=" + driveLog, &reads);
    // The one pass of the track ends with the chunk (26 sectors) that met the bad
    // sectors: the rest of it is read by the secure reading alone.
    const std::vector<ReaderRead> pass = PlainIn(reads, bad, TrackLast(music_, 1));
    ASSERT_FALSE(pass.empty());
    for (const ReaderRead& r : pass)
        EXPECT_LT(r.lsn, bad + 2 + 26) << r.lsn;
    // The reads that reached each bad sector (the drive's log: "read START COUNT ...").
    auto readsOfBad = [&] {
        std::vector<long> n(3, 0);
        std::ifstream in(driveLog);
        for (std::string word; in >> word;) {
            if (word != "read")
                continue;
            long start = 0, count = 0;
            if (!(in >> start >> count))
                break;
            for (int32_t s = 0; s < 3; ++s)
                n[size_t(s)] += start <= bad + s && bad + s < start + count ? 1 : 0;
        }
        std::filesystem::remove(driveLog);
        return n;
    };
    const std::vector<long> mine = readsOfBad();
    const Outcome secure = RipDisc(music_, home_ + "/secure", true, damage + ";log=" + driveLog);
    const std::vector<long> theirs = readsOfBad();
    // The damage costs the default no more than the secure reading alone: the one pass's
    // two reads of each bad sector (its run, then the sector alone), and no secure
    // reading of its stretch on top of the track's. (The secure reading goes on from the
    // pass's first copies, so that its reads near the damage may start a sector off from
    // the secure-only mode's, and one or two more of them reach a bad sector: 118 reads of
    // the last one here against 114.)
    for (size_t s = 0; s < 3; ++s) {
        EXPECT_GT(mine[s], 0);
        EXPECT_LE(mine[s], theirs[s] + 4) << "sector " << bad + int32_t(s);
        RecordProperty("reads_of_bad_sector_" + std::to_string(s), std::to_string(mine[s]));
    }
    EXPECT_EQ(secure.run.code, 3);
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    EXPECT_EQ(ProvenBy(o, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(o, 1), "damaged");
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
    EXPECT_GE(o.report["tracks"][1]["damaged_sectors"].get<int>(), 3);
    EXPECT_EQ(o.report["tracks"][1]["outcome"], "damaged");
    EXPECT_EQ(o.report["tracks"][0]["damaged_sectors"], 0);
    EXPECT_GT(o.stats["failed_reads"].get<long>(), 0) << o.stats;
}

// A drive that says it holds 8 MB, on a disc shorter than that: no reading elsewhere makes
// it forget a sector, so the edges AccurateRip leaves out cannot be proven by re-reading
// (their re-reads all came from the cache, "proven by secure reading", before). They are
// listed, the log and the report say why, and the tracks' checksums prove the rest.
TEST_F(ArFirst, ACacheLargerThanTheDiscListsTheEdgesAndSaysWhy) {
    ServeTrue(music_);
    const Outcome o = RipDisc(music_, home_ + "/out", false, "cache=3567");
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    EXPECT_THAT(o.run.out, HasSubstr("1 exact, 2 damaged, 0 failed"));
    const std::string why = "8 MB, too large to defeat on this disc: nothing was proven by "
                            "re-reading, and what AccurateRip did not prove is listed as damaged";
    EXPECT_EQ(o.report["settings"]["Drive cache"], why);
    EXPECT_THAT(o.log, HasSubstr("  Drive cache: " + why + "\n"));
    const int32_t edges[][2] = {{0, 4}, {TrackLast(music_, 2) - 4, TrackLast(music_, 2)}};
    for (const int t : {0, 2}) {
        const auto& track = o.report["tracks"][size_t(t)];
        EXPECT_EQ(ProvenBy(o, t), "damaged") << "track " << t + 1;
        EXPECT_EQ(track["accuraterip"]["result"], "accurate") << "track " << t + 1;
        ASSERT_EQ(track["damaged"].size(), 1u) << track.dump();
        EXPECT_EQ(track["damaged"][0][0].get<int>(), edges[t / 2][0]) << "track " << t + 1;
        EXPECT_EQ(track["damaged"][0][1].get<int>(), edges[t / 2][1]) << "track " << t + 1;
    }
    EXPECT_EQ(ProvenBy(o, 1), "AccurateRip, one pass, confidence 5");
    // A drive that says it holds less than half the disc is taken at its word.
    const Outcome small = RipDisc(music_, home_ + "/small", false, "cache=200");
    EXPECT_EQ(small.run.code, 0) << small.run.out << small.run.err;
    EXPECT_FALSE(small.report["settings"].contains("Drive cache"));
    EXPECT_THAT(small.log, Not(HasSubstr("Drive cache")));
}

// A drive of a 16 MB cache that reports none, its reads timed (60 us a sector from the
// disc), misreading the disc's last sectors without a C2 flag: AccurateRip leaves them out,
// and their secure reading re-reads them around reads the drive answers from its cache
// (the reader takes it for 8 MB), mostly within commands that also read new sectors, so
// that no timing shows it. Their copies agreed on the first wrong read: track 3 "proven"
// with its last five sectors wrong. The reads the cache answered whole are fast: those
// make the drive's cache larger, too large to defeat on this disc, and what is left of
// the edge is listed rather than proven by copies that came from the cache.
TEST_F(ArFirst, AnEdgeReadFromAnUnderReportedCacheIsListed) {
    ServeTrue(long_);
    struct Row {
        const char* name;
        int track;     // the track the misread sectors are in
        int32_t first; // the misread sectors
        int32_t last;
        const char* proven[3]; // each track's proof
    };
    const char* kOnePass = "AccurateRip, one pass, confidence 5";
    const int32_t end = TrackLast(long_, 2);
    const Row rows[] = {
        {"the disc's last five sectors", 2, end - 4, end, {kOnePass, kOnePass, "damaged"}},
        // The other edge, read first: its re-reads show the cache too large to defeat,
        // and the last edge, read right, is listed too.
        {"the disc's first five sectors",
         0,
         TrackFirst(long_, 0),
         TrackFirst(long_, 0) + 4,
         {"damaged", kOnePass, "damaged"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = home_ + "/out-" + std::to_string(row.track);
        const Outcome o = RipDisc(
            long_, out, false,
            AsBuilt("cache=7134;cache_report=0;pace_us=60;c2quiet=" + std::to_string(row.first) +
                    "-" + std::to_string(row.last)));
        EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
        // Why the edges are listed: the cache the drive's timing showed.
        EXPECT_THAT(o.report["settings"].value("Drive cache", ""),
                    StartsWith("17 MB, too large to defeat on this disc"));
        EXPECT_THAT(o.log, HasSubstr("17 MB, too large to defeat on this disc"));
        for (int t = 0; t < 3; ++t) {
            const auto& track = o.report["tracks"][size_t(t)];
            EXPECT_EQ(ProvenBy(o, t), row.proven[t]) << "track " << t + 1;
            EXPECT_EQ(track["accuraterip"]["result"], "accurate") << "track " << t + 1;
            const std::vector<uint8_t> b = ReadFile(out + "/" + kTitles[t] + ".wav");
            const int32_t first = TrackFirst(long_, t);
            const int32_t last = TrackLast(long_, t);
            ASSERT_EQ(b.size(), 44 + size_t(last - first + 1) * kSector);
            int32_t wrong = 0;
            for (int32_t s = first; s <= last; ++s) {
                if (std::equal(b.begin() + 44 + (s - first) * kSector,
                               b.begin() + 44 + (s - first + 1) * kSector,
                               long_.bin.begin() + s * kSector))
                    continue;
                ++wrong;
                bool listed = false;
                for (const auto& run : track["damaged"])
                    listed = listed || (run[0].get<int32_t>() <= s && s <= run[1].get<int32_t>());
                EXPECT_TRUE(listed) << "sector " << s << " wrong and not listed";
            }
            EXPECT_EQ(wrong > 0, t == row.track) << "track " << t + 1;
            // An edge only: the rest of the track is proven by its checksum.
            const int damaged = track["damaged_sectors"].get<int>();
            if (std::string(row.proven[t]) == "damaged") {
                EXPECT_GE(damaged, 5) << "track " << t + 1;
                EXPECT_LE(damaged, 64) << "track " << t + 1;
            } else {
                EXPECT_EQ(damaged, 0) << "track " << t + 1;
            }
        }
    }
}

// A drive whose C2 pointers flag three sectors of track 2 it reads right every time: no
// secure reading could prove them (the flags stay), and the track's checksum over the
// bytes the one pass kept does; a scratch the pointers flag in the same place is damage.
TEST_F(ArFirst, RightBytesTheDriveFlagsAreProvenByTheChecksum) {
    ServeTrue(music_);
    const int32_t at = TrackFirst(music_, 1) + 60;
    const std::string range = std::to_string(at) + "-" + std::to_string(at + 2);
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const Outcome o = RipDisc(music_, out, false, "cache=200;c2=1;c2false=" + range, &reads);
    ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
    // The checksum proves the pass before any secure reading of the flagged stretch.
    int32_t secure = 0;
    for (const ReaderRead& r : reads)
        if (r.why != "plain" && r.why != "flush" && r.lsn <= TrackLast(music_, 1) &&
            r.lsn + r.count > TrackFirst(music_, 1))
            secure += r.count;
    EXPECT_EQ(secure, 0);
    ExpectTracks(music_, music_.bin, out);
    EXPECT_THAT(o.run.out, HasSubstr("3 exact, 0 damaged, 0 failed"));
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(ProvenBy(o, t), "AccurateRip, one pass, confidence 5") << "track " << t + 1;
        EXPECT_EQ(o.report["tracks"][size_t(t)]["damaged_sectors"], 0) << "track " << t + 1;
    }
    const Outcome scratch =
        RipDisc(music_, home_ + "/scratch", false, "cache=200;c2=1;c2bad=" + range);
    EXPECT_EQ(scratch.run.code, 3) << scratch.run.out << scratch.run.err;
    EXPECT_EQ(ProvenBy(scratch, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(scratch, 1), "damaged");
    EXPECT_EQ(ProvenBy(scratch, 2), "AccurateRip, one pass, confidence 5");
    EXPECT_GE(scratch.report["tracks"][1]["damaged_sectors"].get<int>(), 3);
    EXPECT_LE(scratch.report["tracks"][1]["damaged_sectors"].get<int>(), 5);
}

// The same drive flagging the disc's first sectors, which the first track's checksum
// leaves out: the checksum proves the rest of the track, so the edge that does not read
// securely is listed alone, as the one pass delivered it (here the right bytes), and the
// track is not read securely whole for it.
TEST_F(ArFirst, AFlaggedEdgeOfAProvenTrackIsListedAlone) {
    ServeTrue(music_);
    const int32_t first = TrackFirst(music_, 0), last = TrackLast(music_, 0);
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const Outcome o =
        RipDisc(music_, out, false,
                "cache=200;c2=1;c2false=" + std::to_string(first) + "-" + std::to_string(first + 4),
                &reads);
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    EXPECT_THAT(o.run.out, HasSubstr("2 exact, 1 damaged, 0 failed"));
    EXPECT_EQ(ProvenBy(o, 0), "damaged");
    EXPECT_EQ(ProvenBy(o, 1), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
    const auto& t1 = o.report["tracks"][0];
    ASSERT_EQ(t1["damaged"].size(), 1u) << t1.dump();
    EXPECT_EQ(t1["damaged"][0][0].get<int>(), first);
    EXPECT_EQ(t1["damaged"][0][1].get<int>(), first + 4);
    EXPECT_EQ(t1["damaged_sectors"].get<int>(), 5);
    EXPECT_EQ(t1["accuraterip"]["result"], "accurate");
    // The secure reading's own reads of the track: those of its edge alone.
    int32_t past = 0;
    for (const ReaderRead& r : reads)
        if (r.why != "plain" && r.why != "flush" && r.lsn + r.count > first + 64 && r.lsn <= last)
            past += r.count;
    EXPECT_EQ(past, 0);
    ExpectTracks(music_, music_.bin, out);
    // The last track's end: the disc's last sectors, flagged on every read.
    const int32_t end = TrackLast(music_, 2);
    const std::string out2 = home_ + "/out2";
    const Outcome e =
        RipDisc(music_, out2, false,
                "cache=200;c2=1;c2false=" + std::to_string(end - 4) + "-" + std::to_string(end));
    EXPECT_EQ(e.run.code, 3) << e.run.out << e.run.err;
    EXPECT_EQ(ProvenBy(e, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(e, 1), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(e, 2), "damaged");
    const auto& t3 = e.report["tracks"][2];
    ASSERT_EQ(t3["damaged"].size(), 1u) << t3.dump();
    EXPECT_EQ(t3["damaged"][0][0].get<int>(), end - 4);
    EXPECT_EQ(t3["damaged"][0][1].get<int>(), end);
    EXPECT_EQ(t3["damaged_sectors"].get<int>(), 5);
    ExpectTracks(music_, music_.bin, out2);
}

// On a drive with a cache, the secure reading of a track the one pass found unreadable
// sectors in ends near the track's end: the track after it is proven by its own one
// pass, so no first copies of it are read and checked for a reading that would go on
// from them (on the disc's three caches' worth, that was most of the third track).
TEST_F(ArFirst, TheSecureReadingOfADamagedTrackEndsNearItsEnd) {
    ServeTrue(long_);
    const int32_t bad = TrackFirst(long_, 1) + 1050;
    const std::string damage =
        "cache=3567;bad=" + std::to_string(bad) + "-" + std::to_string(bad + 2);
    const std::string out = home_ + "/out";
    std::vector<ReaderRead> reads;
    const Outcome o = RipDisc(long_, out, false, damage, &reads);
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    EXPECT_EQ(ProvenBy(o, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(o, 1), "damaged");
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
    // The three, and a few beside them that no check could pin.
    EXPECT_GE(o.report["tracks"][1]["damaged_sectors"].get<int>(), 3);
    EXPECT_LE(o.report["tracks"][1]["damaged_sectors"].get<int>(), 16);
    for (const int t : {0, 2}) {
        const std::vector<uint8_t> b = ReadFile(out + "/" + kTitles[t] + ".wav");
        const int32_t first = TrackFirst(long_, t), last = TrackLast(long_, t);
        ASSERT_EQ(b.size(), 44 + size_t(last - first + 1) * kSector) << "track " << t + 1;
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), long_.bin.begin() + first * kSector))
            << "track " << t + 1;
    }
    // The secure reading's own reads (votes, checks, first copies) of the third track:
    // none but those of its last sectors' secure reading at the disc's end.
    const int32_t reach = TrackLast(long_, 1) + 64, edge = TrackLast(long_, 2) - 64;
    int32_t past = 0;
    for (const ReaderRead& r : reads)
        if (r.why != "plain" && r.why != "flush" && r.lsn + r.count > reach && r.lsn < edge)
            past += r.count;
    EXPECT_EQ(past, 0);
}

// A track with unreadable sectors after a track that ends in digital silence: nothing
// proven before it pins its secure reading, which starts with a vote. The one pass's
// reads of the track (every sector from the disc) are that vote's copy from its first
// place and the first copies of the checks after it, so that the default mode reads no
// more than the secure-only mode: each sector of the track before the damage is read by
// the pass and by one check, and the vote's two other copies cost one flush, not two.
TEST_F(ArFirst, ADamagedTrackAfterSilenceTakesTheOnePassAsItsFirstCopies) {
    DiscFiles quiet = long_;
    quiet.cue = home_ + "/quiet.cue";
    const std::string bin = home_ + "/quiet.bin";
    const int32_t second = TrackFirst(long_, 1);
    std::fill(quiet.bin.begin() + (second - 200) * kSector, quiet.bin.begin() + second * kSector,
              uint8_t(0));
    std::ofstream(bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(quiet.bin.data()), std::streamsize(quiet.bin.size()));
    {
        const std::vector<uint8_t> cue = ReadFile(long_.cue);
        std::string text(cue.begin(), cue.end());
        const std::string from = std::filesystem::path(long_.cue).stem().string() + ".bin";
        text.replace(text.find(from), from.size(), "quiet.bin");
        std::ofstream(quiet.cue) << text;
    }
    ServeTrue(quiet);
    const int32_t bad = second + 1050;
    const std::string damage =
        "cache=3567;bad=" + std::to_string(bad) + "-" + std::to_string(bad + 2);
    const std::string driveLog = home_ + "/drive.log";
    // Reads of each sector of the second track from its 64th to 64 before the damage (the
    // drive's log: "read START COUNT ...").
    auto readsOfStretch = [&] {
        std::map<long, long> n;
        std::ifstream in(driveLog);
        for (std::string word; in >> word;) {
            long start = 0, count = 0;
            if (word == "read" && in >> start >> count)
                for (long s = std::max<long>(start, second + 64);
                     s < std::min<long>(start + count, bad - 64); ++s)
                    ++n[s];
        }
        std::filesystem::remove(driveLog);
        return n;
    };
    const Outcome o = RipDisc(quiet, home_ + "/out", false, damage + ";log=" + driveLog);
    const std::map<long, long> mine = readsOfStretch();
    const Outcome s = RipDisc(quiet, home_ + "/secure", true, damage + ";log=" + driveLog);
    EXPECT_EQ(o.run.code, 3) << o.run.out << o.run.err;
    EXPECT_EQ(s.run.code, 3) << s.run.out << s.run.err;
    EXPECT_EQ(ProvenBy(o, 0), "AccurateRip, one pass, confidence 5");
    EXPECT_EQ(ProvenBy(o, 1), "damaged");
    EXPECT_EQ(ProvenBy(o, 2), "AccurateRip, one pass, confidence 5");
    EXPECT_GE(o.report["tracks"][1]["damaged_sectors"].get<int>(), 3);
    EXPECT_LE(o.report["tracks"][1]["damaged_sectors"].get<int>(),
              s.report["tracks"][1]["damaged_sectors"].get<int>());
    for (const int t : {0, 2}) {
        const std::vector<uint8_t> b = ReadFile(home_ + "/out/" + kTitles[t] + ".wav");
        const int32_t first = TrackFirst(quiet, t), last = TrackLast(quiet, t);
        ASSERT_EQ(b.size(), 44 + size_t(last - first + 1) * kSector) << "track " << t + 1;
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), quiet.bin.begin() + first * kSector))
            << "track " << t + 1;
    }
    ASSERT_EQ(mine.size(), size_t(bad - 64 - (second + 64)));
    long most = 0, twice = 0;
    for (const auto& [sector, n] : mine) {
        most = std::max(most, n);
        twice += n <= 2 ? 1 : 0;
    }
    EXPECT_GE(most, 2);
    EXPECT_LE(most, 3); // a flush for another reading may go over a few
    EXPECT_GE(twice, long(mine.size()) / 2);
    ASSERT_TRUE(o.stats.is_object() && s.stats.is_object());
    EXPECT_LE(o.stats["sectors_read"].get<long>(), s.stats["sectors_read"].get<long>())
        << o.stats << s.stats;
}

// The log says once that a drive refused C2 error pointers (its reads were checked
// without them); a drive that returns them is read with them, silently.
TEST_F(ArFirst, ADriveWithoutC2IsToldOnceInTheLog) {
    ServeTrue(music_);
    const std::string line =
        "C2 error pointers: refused by the drive; its reads are checked without them\n";
    for (const bool c2 : {false, true}) {
        const std::string out = home_ + (c2 ? "/with" : "/without");
        const Outcome o = RipDisc(music_, out, false, c2 ? "c2=1" : "c2=0");
        ASSERT_EQ(o.run.code, 0) << o.run.out << o.run.err;
        ExpectTracks(music_, music_.bin, out);
        size_t told = 0;
        for (size_t at = o.log.find(line); at != std::string::npos; at = o.log.find(line, at + 1))
            ++told;
        EXPECT_EQ(told, c2 ? 0u : 1u) << o.log;
        for (int t = 0; t < 3; ++t)
            EXPECT_EQ(ProvenBy(o, t), "AccurateRip, one pass, confidence 5") << "track " << t + 1;
    }
}

} // namespace
} // namespace drivetest
