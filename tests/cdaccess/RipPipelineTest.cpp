// The parallel rip (TRipPipeline) against the sequential one (TCDRIP::RipTrack) with the
// real CD ripping library and the real encoder on generated disc images: the same files
// byte for byte, the same checksums, damage and errors, and the PCM held within the cap.

#include "Mp3Decode.h"
#include "TestDir.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/RipPipeline.h"
#include "discgen.h"
#include "encoding/AudioCheck.h"
#include "encoding/FlacDecode.h"
#include "encoding/LameCoder.h"
#include "encoding/ReplayGain.h"
#include "ripjob/VorbisFormats.h"
#include "settings/globals.h"
#include "verify/JobProof.h"

#include <ebur128.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace {

struct PipelineRow {
    const char* name;
    bool vbr = false;
    unsigned workers = 2;
    std::size_t cap = 0;          // 0: the default
    const char* faults = nullptr; // CDRIP_FAULTS
    int stopTrack = 0;            // the reading stops in this track (0: never)
    int folderTrack = 0;          // this track's name is a folder: it cannot be created
    bool previous = false;        // every name holds an older file first
};

// What one rip left: every file of its folder and each track's result.
struct RipResult {
    std::map<std::string, std::vector<uint8_t>> Files;
    std::map<int, std::string> Errors;
    std::map<int, std::vector<std::string>> Jitter;
    std::map<int, bool> Written;
    RipRecord Record;
    std::size_t Peak = 0;
};

class RipPipelineTest : public testing::TestWithParam<PipelineRow> {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1);
        ::setenv("CDRIP_AUDIO", "none", 1);
        // Tracks of different lengths, none a whole number of encoder chunks.
        plan = discgen::simpleDisc(17, 4, 900);
        plan.tracks[1].sectors = 1333;
        plan.tracks[2].sectors = 611;
        plan.tracks[3].sectors = 1201;
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
        ::setenv("CDRIP_IMAGES", (dir / "disc.cue").c_str(), 1);
        if (GetParam().faults != nullptr) {
            ::setenv("CDRIP_FAULTS", GetParam().faults, 1);
        } else {
            ::unsetenv("CDRIP_FAULTS");
        }
    }
    void TearDown() override {
        ::unsetenv("CDRIP_IMAGES");
        ::unsetenv("CDRIP_FAULTS");
        ::unsetenv("XDG_CONFIG_HOME");
    }

    std::string Prepare(const std::string& folder) {
        const std::string out = dir / folder;
        std::filesystem::create_directory(out);
        const PipelineRow& row = GetParam();
        for (int n = 1; n <= 4; ++n) {
            const std::string name = out + "/T" + std::to_string(n) + ".mp3";
            if (n == row.folderTrack) {
                std::filesystem::create_directory(name);
            } else if (row.previous) {
                std::ofstream(name) << "previous " << n;
            }
        }
        return out;
    }

    static void Configure(TLameCoder& coder) {
        if (GetParam().vbr) {
            coder.SetEnableVBR(LongTrue);
            coder.SetVBRQuality(2);
        }
    }

    // Stops the reading after three chunks of the row's stop track.
    static void StopIn(TCDRIP& r, const int& reading) {
        auto chunks = std::make_shared<int>(0);
        r.OnProgress = [&r, &reading, chunks](TCDRIP*, uint16_t) {
            if (reading == GetParam().stopTrack && ++*chunks == 3) {
                r.Abort();
            }
        };
    }

    static void Collect(const std::string& out, RipResult& result) {
        for (const auto& e : std::filesystem::directory_iterator(out)) {
            result.Files[e.path().filename().string()] =
                e.is_regular_file() ? ReadBytes(e.path().string()) : std::vector<uint8_t>{};
        }
    }

    static JobProofOptions ProofOptions() {
        JobProofOptions o;
        o.AccurateRip = false;
        o.ReadOffset = 0;
        return o;
    }

    RipResult Sequential() {
        const std::string out = Prepare("seq");
        RipResult result;
        TLameCoder coder;
        Configure(coder);
        TCDRIP r;
        r.SetCoder(&coder);
        r.Encode = true;
        int reading = 0;
        StopIn(r, reading);
        JobProof proof(r, ProofOptions());
        proof.Start("test", "");
        for (int n = 1; n <= 4; ++n) {
            reading = n;
            const std::size_t before = r.JitterErrors.size();
            try {
                proof.RipTrack(n, out + "/T" + std::to_string(n) + ".mp3");
                result.Written[n] = r.FileWritten;
            } catch (const std::exception& e) {
                result.Errors[n] = e.what();
            }
            result.Jitter[n].assign(r.JitterErrors.begin() + static_cast<long>(before),
                                    r.JitterErrors.end());
            if (r.Aborted()) {
                break;
            }
        }
        result.Record = proof.Record;
        Collect(out, result);
        return result;
    }

    RipResult Parallel() {
        const std::string out = Prepare("par");
        RipResult result;
        TLameCoder coder;
        Configure(coder);
        TCDRIP r;
        r.SetCoder(&coder);
        int reading = 0;
        StopIn(r, reading);
        JobProof proof(r, ProofOptions());
        proof.Start("test", "");
        TRipPipeline pipeline(r, coder);
        pipeline.Workers = GetParam().workers;
        if (GetParam().cap != 0) {
            pipeline.CapBytes = GetParam().cap;
        }
        pipeline.OnBeginRead = [&reading](int32_t n) { reading = n; };
        pipeline.ReadWith = [&proof](int32_t n, const std::string& name,
                                     const std::function<void()>& read) {
            proof.ReadTrackWith(n, name, read);
        };
        pipeline.OnDone = [&](const TPipelineOutcome& o) {
            if (!o.Error.empty()) {
                result.Errors[o.TrackNum] = o.Error;
                proof.MarkFailed(o.TrackNum);
            } else {
                result.Written[o.TrackNum] = o.FileWritten;
            }
            result.Jitter[o.TrackNum] = o.JitterErrors;
        };
        std::vector<TPipelineTrack> tracks;
        for (int n = 1; n <= 4; ++n) {
            tracks.push_back({n, out + "/T" + std::to_string(n) + ".mp3"});
        }
        pipeline.Run(tracks);
        result.Record = proof.Record;
        result.Peak = pipeline.PeakHeld();
        Collect(out, result);
        return result;
    }

    TestDir dir;
    discgen::DiscSpec plan;
};

// Named for failure messages: the file's name and size.
std::map<std::string, std::size_t> Sizes(const RipResult& r) {
    std::map<std::string, std::size_t> sizes;
    for (const auto& [name, bytes] : r.Files) {
        sizes[name] = bytes.size();
    }
    return sizes;
}

} // namespace

TEST_P(RipPipelineTest, SameFilesChecksumsAndErrorsAsTheSequentialRip) {
    const RipResult seq = Sequential();
    const RipResult par = Parallel();
    // Every file, partial ones and kept previous files included, byte for byte; no
    // temporary file is left in either folder.
    EXPECT_EQ(Sizes(par), Sizes(seq));
    for (const auto& [name, bytes] : seq.Files) {
        EXPECT_TRUE(par.Files.count(name) != 0 && par.Files.at(name) == bytes) << name;
        EXPECT_EQ(name.find(".partial-"), std::string::npos) << name;
    }
    // The same messages, each naming its own folder.
    std::map<int, std::string> seqErrors = seq.Errors;
    for (auto& [n, text] : seqErrors) {
        if (const std::size_t at = text.find("/seq/"); at != std::string::npos) {
            text.replace(at, 5, "/par/");
        }
    }
    EXPECT_EQ(par.Errors, seqErrors);
    EXPECT_EQ(par.Written, seq.Written);
    EXPECT_EQ(par.Jitter, seq.Jitter);
    ASSERT_EQ(par.Record.Tracks.size(), seq.Record.Tracks.size());
    for (std::size_t i = 0; i < seq.Record.Tracks.size(); ++i) {
        const TrackRecord& a = par.Record.Tracks[i];
        const TrackRecord& b = seq.Record.Tracks[i];
        SCOPED_TRACE("track " + std::to_string(b.Number));
        EXPECT_EQ(a.Number, b.Number);
        EXPECT_EQ(a.File, dir / ("par/T" + std::to_string(b.Number) + ".mp3"));
        EXPECT_EQ(b.File, dir / ("seq/T" + std::to_string(b.Number) + ".mp3"));
        EXPECT_EQ(a.FirstSector, b.FirstSector);
        EXPECT_EQ(a.Sectors, b.Sectors);
        EXPECT_EQ(a.Crc32, b.Crc32);
        EXPECT_EQ(a.TestCrc32, b.TestCrc32);
        EXPECT_EQ(a.ArV1, b.ArV1);
        EXPECT_EQ(a.ArV2, b.ArV2);
        EXPECT_EQ(a.Ar.Result, b.Ar.Result);
        EXPECT_EQ(a.Ar.Confidence, b.Ar.Confidence);
        EXPECT_EQ(a.Ar.Version, b.Ar.Version);
        EXPECT_EQ(a.Damaged, b.Damaged);
        EXPECT_EQ(a.Ripped, b.Ripped);
        // The disc's own layout, whichever way the track ended.
        const discgen::Layout layout = discgen::layoutOf(plan);
        EXPECT_EQ(b.FirstSector, layout.starts[std::size_t(b.Number - 1)]);
        EXPECT_EQ(b.Sectors, plan.tracks[std::size_t(b.Number - 1)].sectors);
    }
    const PipelineRow& row = GetParam();
    if (row.cap != 0) {
        // The cap holds, except that one read chunk always goes when nothing is held
        // (588 * 2352 bytes is far above any chunk the library reads).
        EXPECT_GT(par.Peak, 0U);
        EXPECT_LE(par.Peak, std::max<std::size_t>(row.cap, 64 * 2352));
    }
    if (row.stopTrack == 0 && row.folderTrack == 0) {
        EXPECT_EQ(seq.Files.size(), 4U);
        for (const auto& [name, bytes] : seq.Files) {
            EXPECT_GT(bytes.size(), 1000U) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RipPipelineTest,
    testing::Values(PipelineRow{.name = "cbr_two_workers"},
                    PipelineRow{.name = "vbr_header_three_workers", .vbr = true, .workers = 3},
                    PipelineRow{.name = "one_worker", .workers = 1},
                    PipelineRow{.name = "tiny_cap", .vbr = true, .workers = 2, .cap = 150000},
                    PipelineRow{.name = "damaged_sectors", .faults = "bad:700-703"},
                    PipelineRow{.name = "stopped_in_track_three", .stopTrack = 3},
                    PipelineRow{
                        .name = "stopped_over_previous_files", .stopTrack = 2, .previous = true},
                    PipelineRow{.name = "name_is_a_folder", .vbr = true, .folderTrack = 2},
                    PipelineRow{.name = "name_is_a_folder_tiny_cap",
                                .cap = 150000,
                                .folderTrack = 3,
                                .previous = true}),
    RowName);

// The PCM cap of a job: what 256 MB leave after an allowance for each encoder and for
// each finished track's meter, the floor on both sides, and no overflow from sizes no
// disc has.
struct CapRow {
    const char* name;
    unsigned workers;
    std::size_t tracks;
    std::size_t capMb;
};

class PipelineCapFor : public testing::TestWithParam<CapRow> {};

TEST_P(PipelineCapFor, LeavesTheEncodersAndMetersTheirShare) {
    const CapRow& row = GetParam();
    const std::size_t cap = TRipPipeline::CapFor(row.workers, row.tracks);
    EXPECT_EQ(cap, row.capMb << 20);
    EXPECT_GE(cap, TRipPipeline::MinCapBytes);
    if (cap > TRipPipeline::MinCapBytes) {
        // Everything the rip adds sums to the cap exactly.
        EXPECT_EQ(cap + std::max(1U, row.workers) * TRipPipeline::EncoderBytes +
                      row.tracks * TRipPipeline::KeptPerTrackBytes,
                  TRipPipeline::MemoryCapBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PipelineCapFor,
    testing::Values(CapRow{"two_workers_no_tracks_is_the_default_cap", 2, 0, 248},
                    CapRow{"two_workers_six_tracks", 2, 6, 242},
                    CapRow{"one_worker_one_track", 1, 1, 251},
                    CapRow{"no_workers_count_as_one", 0, 1, 251},
                    CapRow{"ninety_nine_tracks", 2, 99, 149},
                    CapRow{"one_above_the_floor", 2, 215, 33}, CapRow{"at_the_floor", 2, 216, 32},
                    CapRow{"below_the_floor", 32, 99, 32},
                    CapRow{"sizes_no_disc_has", 4000000000U, std::size_t(-1), 32}),
    RowName);

struct StopRow {
    const char* name;
    bool previous;    // every name holds an older file first
    bool stopInFirst; // StopEncoding alone, while track 1 is read; else both stops at track 3
};

class RipPipelineStop : public testing::TestWithParam<StopRow> {};

// StopEncoding ends the encoders too: a track whose encoding was cut keeps the older
// file under its name, or, with none there, gets its partial file; a track whose
// encoder had not started when the stop came starts no file at all; one that finished
// is whole; nothing else is left. Stopping the encoders while the first track is read
// leaves no track that could have ended whole.
TEST_P(RipPipelineStop, StoppedEncodersLeaveNoWholeTrackAfterTheStop) {
    const StopRow& row = GetParam();
    TestDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1);
    ::setenv("CDRIP_AUDIO", "none", 1);
    ::unsetenv("CDRIP_FAULTS");
    const discgen::DiscSpec plan = discgen::simpleDisc(23, 3, 2000);
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    ::setenv("CDRIP_IMAGES", (dir / "disc.cue").c_str(), 1);
    TLameCoder coder;
    TCDRIP r;
    r.SetCoder(&coder);
    std::filesystem::create_directory(dir / "out");
    std::vector<TPipelineTrack> tracks;
    for (int n = 1; n <= 3; ++n) {
        tracks.push_back({n, dir / ("out/T" + std::to_string(n) + ".mp3")});
        if (row.previous) {
            std::ofstream(tracks.back().FileName) << "previous";
        }
    }
    TRipPipeline pipeline(r, coder);
    pipeline.Workers = 2;
    std::map<int, TPipelineOutcome> outcomes;
    int reading = 0;
    int chunks = 0;
    pipeline.OnBeginRead = [&](int32_t n) {
        reading = n;
        if (!row.stopInFirst && n == 3) {
            pipeline.StopEncoding();
            r.Abort();
        }
    };
    r.OnProgress = [&](TCDRIP*, uint16_t) {
        if (row.stopInFirst && reading == 1 && ++chunks == 3) {
            // Once track 1's encoder runs, so that the stop meets a working encoder.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (pipeline.Encoding().empty() && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_EQ(pipeline.Encoding().size(), 1U);
            pipeline.StopEncoding();
        }
    };
    pipeline.OnDone = [&](const TPipelineOutcome& o) { outcomes[o.TrackNum] = o; };
    pipeline.Run(tracks);
    ::unsetenv("CDRIP_IMAGES");
    ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(outcomes.size(), 3U);
    std::set<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out")) {
        left.insert(e.path().filename().string());
    }
    for (const std::string& name : left) {
        EXPECT_EQ(name.find(".partial-"), std::string::npos) << name;
    }
    // The tracks whose encoding cannot have ended before the stop: all of them when it
    // came while track 1 was read, else track 3, whose reading it stopped at once.
    const int firstAfterStop = row.stopInFirst ? 1 : 3;
    for (const auto& [n, o] : outcomes) {
        SCOPED_TRACE("track " + std::to_string(n));
        EXPECT_EQ(o.TrackNum, n);
        EXPECT_EQ(o.FileName, tracks[std::size_t(n - 1)].FileName);
        EXPECT_TRUE(o.Error.empty()) << o.Error;
        if (n >= firstAfterStop) {
            EXPECT_FALSE(o.Complete);
        }
        // Tracks read after the encoders were stopped start no file; track 1's had one.
        if (row.stopInFirst) {
            EXPECT_EQ(o.FileWritten, n == 1 && !row.previous);
        }
        const bool exists = std::filesystem::exists(o.FileName);
        const auto bytes = exists ? ReadBytes(o.FileName) : std::vector<uint8_t>{};
        if (o.Complete) {
            EXPECT_TRUE(o.FileWritten);
            // CBR without a header frame: the decoder gives the encoder's 576 samples of
            // delay too, in whole frames of 1152: ceil((2000 * 588 + 576) / 1152) * 1152.
            EXPECT_EQ(DecodeMp3(o.FileName).Frames(), 1022U * 1152U);
        } else if (row.previous) {
            EXPECT_FALSE(o.FileWritten);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "previous");
        } else if (o.FileWritten) {
            // The partial track under its name: shorter than the track. Below 26 KB it
            // cannot hold the track's 26.7 s at any bit rate (8 kbit/s at the least),
            // and may hold no whole frame yet when the stop came at once.
            // A track read whole before the stop may have had its last block encoded
            // when the stop came: then it holds every frame and is still not called
            // complete; the track whose reading the stop cut is always short.
            ASSERT_TRUE(exists);
            if (bytes.size() >= 26000 && n >= firstAfterStop) {
                EXPECT_LT(DecodeMp3(o.FileName).Frames(), 2000U * 588U);
            } else if (bytes.size() >= 26000) {
                EXPECT_LE(DecodeMp3(o.FileName).Frames(), 1022U * 1152U);
            }
        } else {
            EXPECT_FALSE(exists); // no file was started for it
        }
    }
    if (row.previous) {
        EXPECT_THAT(left, testing::ElementsAre("T1.mp3", "T2.mp3", "T3.mp3"));
    } else if (row.stopInFirst) {
        EXPECT_EQ(left.count("T2.mp3") + left.count("T3.mp3"), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RipPipelineStop,
                         testing::Values(StopRow{"previous_files_stop_at_track_three", true, false},
                                         StopRow{"no_files_stop_at_track_three", false, false},
                                         StopRow{"previous_files_stop_in_track_one", true, true},
                                         StopRow{"no_files_stop_in_track_one", false, true}),
                         RowName);

struct MeterRow {
    const char* name;
    unsigned workers;
    std::size_t cap = 0;    // 0: the default
    bool slowFirst = false; // track 1 is read slowly: the other workers have no track
    int stopTrack = 0;      // the reading stops in this track (0: never)
};

class RipPipelineMeter : public testing::TestWithParam<MeterRow> {};

// The loudness of one track's PCM in one piece, by libebur128 directly (the reference),
// and its sample peak.
Encoding::TLoudness ReferenceOf(const std::vector<uint8_t>& pcm) {
    std::vector<int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    ebur128_state* st = ebur128_init(2, 44100, EBUR128_MODE_I);
    ebur128_add_frames_short(st, samples.data(), samples.size() / 2);
    Encoding::TLoudness l;
    l.Valid = ebur128_loudness_global(st, &l.Lufs) == EBUR128_SUCCESS;
    ebur128_destroy(&st);
    int32_t peak = 0;
    for (int16_t v : samples) {
        peak = std::max(peak, std::abs(int32_t{v}));
    }
    l.Peak = peak / 32768.0;
    return l;
}

// Each track's meter is fed by whichever worker has time (the track's own encoder, or
// one without a track); however its pieces were shared out, a track read whole measures
// as its PCM does in one piece and its FLAC file carries that gain and peak; a track
// whose reading was stopped has no measurement and no gain. The PCM held stays within
// the cap, the meters' pieces included.
TEST_P(RipPipelineMeter, EachTrackMeasuresAsItsWholePcm) {
    const MeterRow& row = GetParam();
    TestDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path.c_str(), 1);
    ::setenv("CDRIP_AUDIO", "none", 1);
    ::unsetenv("CDRIP_FAULTS");
    discgen::DiscSpec plan = discgen::simpleDisc(29, 4, 700);
    plan.tracks[1].sectors = 1333;
    plan.tracks[2].sectors = 611;
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    ::setenv("CDRIP_IMAGES", (dir / "disc.cue").c_str(), 1);
    TMP3Settings settings;
    settings.ReplayGain = true;
    auto state = std::make_shared<FormatJobState>();
    const VorbisFormat flac(VorbisKind::Flac, settings, state);
    TCDRIP r;
    std::filesystem::create_directory(dir / "out");
    TRipPipeline pipeline(r, flac);
    pipeline.Workers = row.workers;
    if (row.cap != 0) {
        pipeline.CapBytes = row.cap;
    }
    int reading = 0;
    int chunks = 0;
    pipeline.OnBeginRead = [&](int32_t n) {
        reading = n;
        chunks = 0;
    };
    r.OnProgress = [&](TCDRIP*, uint16_t) {
        if (row.slowFirst && reading == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        if (reading == row.stopTrack && ++chunks == 3) {
            r.Abort();
        }
    };
    std::map<int, TPipelineOutcome> outcomes;
    pipeline.OnDone = [&](const TPipelineOutcome& o) { outcomes[o.TrackNum] = o; };
    std::vector<TPipelineTrack> tracks;
    for (int n = 1; n <= 4; ++n) {
        tracks.push_back({n, dir / ("out/T" + std::to_string(n) + ".flac")});
    }
    pipeline.Run(tracks);
    ::unsetenv("CDRIP_IMAGES");
    ::unsetenv("XDG_CONFIG_HOME");

    const auto all = discgen::imageBytes(plan);
    const discgen::Layout layout = discgen::layoutOf(plan);
    const int lastRead = row.stopTrack != 0 ? row.stopTrack : 4;
    EXPECT_EQ(outcomes.size(), static_cast<std::size_t>(lastRead));
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE("track " + std::to_string(n));
        const Encoding::TLoudness measured = state->TrackLoudness(n);
        const std::string& file = tracks[std::size_t(n - 1)].FileName;
        if (n >= lastRead && row.stopTrack != 0) {
            EXPECT_FALSE(measured.Valid);
            EXPECT_EQ(measured.Lufs, 0);
            if (n == lastRead) {
                ASSERT_TRUE(std::filesystem::exists(file)); // the part read, under its name
                EXPECT_FALSE(outcomes[n].Complete);
                bool gain = false;
                const nlohmann::json m = MutagenVorbis(file);
                ASSERT_TRUE(m.is_object());
                for (const auto& pair : m["tags"]) {
                    gain = gain || pair[0] == "REPLAYGAIN_TRACK_GAIN";
                }
                EXPECT_FALSE(gain);
            } else {
                EXPECT_FALSE(std::filesystem::exists(file));
            }
            continue;
        }
        const auto from = static_cast<std::size_t>(layout.starts[std::size_t(n - 1)]) * 2352;
        const auto to =
            from + static_cast<std::size_t>(plan.tracks[std::size_t(n - 1)].sectors) * 2352;
        const std::vector<uint8_t> pcm(all.begin() + static_cast<long>(from),
                                       all.begin() + static_cast<long>(to));
        const Encoding::TLoudness reference = ReferenceOf(pcm);
        ASSERT_TRUE(reference.Valid);
        EXPECT_TRUE(outcomes[n].Complete) << outcomes[n].Error;
        EXPECT_TRUE(measured.Valid);
        EXPECT_EQ(measured.Lufs, reference.Lufs);
        EXPECT_EQ(measured.Peak, reference.Peak);
        EXPECT_EQ(DecodeFlac(file).Pcm, pcm);
        std::map<std::string, std::string> tags;
        const nlohmann::json m = MutagenVorbis(file);
        for (const auto& pair : m["tags"]) {
            tags[pair[0]] = pair[1];
        }
        EXPECT_EQ(tags["REPLAYGAIN_TRACK_GAIN"],
                  Encoding::GainText(Encoding::ReplayGainDb(reference.Lufs)));
        EXPECT_EQ(tags["REPLAYGAIN_TRACK_PEAK"], Encoding::PeakText(reference.Peak));
    }
    if (row.cap != 0) {
        EXPECT_GT(pipeline.PeakHeld(), 0U);
        EXPECT_LE(pipeline.PeakHeld(), std::max<std::size_t>(row.cap, 64 * 2352));
    }
    if (row.workers == 1) {
        EXPECT_EQ(pipeline.HelpedPieces(), 0U); // no other worker to help
    } else if (row.slowFirst && row.stopTrack != 1) {
        // While track 1 is read slowly the second worker has nothing to encode: it
        // measures track 1 as its pieces come (3 ms each; a stop after three pieces may
        // come before it has had one).
        EXPECT_GT(pipeline.HelpedPieces(), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RipPipelineMeter,
    testing::Values(
        MeterRow{.name = "one_worker", .workers = 1}, MeterRow{.name = "two_workers", .workers = 2},
        MeterRow{.name = "two_workers_first_track_slow", .workers = 2, .slowFirst = true},
        MeterRow{.name = "three_workers_tiny_cap_first_track_slow",
                 .workers = 3,
                 .cap = 150000,
                 .slowFirst = true},
        MeterRow{.name = "stopped_in_track_three", .workers = 2, .stopTrack = 3},
        MeterRow{
            .name = "stopped_in_slow_track_one", .workers = 2, .slowFirst = true, .stopTrack = 1}),
    RowName);
