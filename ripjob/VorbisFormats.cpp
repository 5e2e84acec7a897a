#include "ripjob/VorbisFormats.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/EncodeFeed.h"
#include "cdaccess/OutputFiles.h"
#include "encoding/ByteSink.h"
#include "encoding/FlacEncoder.h"
#include "encoding/OpusEncoder.h"
#include "encoding/TagComments.h"
#include "settings/globals.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace Encoding;

void FormatJobState::Measured(int number, TLoudnessMeter meter) {
    std::lock_guard lock(Mutex);
    Meters[number] = std::move(meter);
}

TLoudness FormatJobState::TrackLoudness(int number) const {
    std::lock_guard lock(Mutex);
    const auto it = Meters.find(number);
    return it != Meters.end() ? it->second.Result() : TLoudness{};
}

TLoudness FormatJobState::AlbumLoudness(const std::vector<int>& numbers) const {
    std::lock_guard lock(Mutex);
    std::vector<const TLoudnessMeter*> meters;
    for (int n : numbers) {
        if (const auto it = Meters.find(n); it != Meters.end()) {
            meters.push_back(&it->second);
        }
    }
    return TLoudnessMeter::Together(meters);
}

namespace {

// A track's temporary file as the encoders' sink. What is appended is gathered into
// pieces of BufferBytes before it is written (libFLAC hands over each frame, a few kB, by
// itself); a write over bytes still gathered changes them there. Flush writes the rest.
class PartialSink : public TByteSink {
public:
    static constexpr std::size_t BufferBytes = std::size_t{256} << 10;

    explicit PartialSink(OutputFiles::TPartialFile& file) : File(file) {}
    bool Append(const void* data, std::size_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        if (Pending.size() + count > BufferBytes && !Flush()) {
            return false;
        }
        if (count >= BufferBytes) {
            if (!File.Write(p, count)) {
                return false;
            }
            Written += count;
            return true;
        }
        Pending.insert(Pending.end(), p, p + count);
        return true;
    }
    bool WriteAt(uint64_t pos, const void* data, std::size_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        if (pos >= Written && pos + count <= Written + Pending.size()) {
            std::memcpy(Pending.data() + (pos - Written), p, count);
            return true;
        }
        if (pos + count > Written && !Flush()) {
            return false;
        }
        return File.WriteAt(static_cast<off_t>(pos), p, count);
    }
    // Writes what is gathered; false with the file's error when not all of it went out.
    bool Flush() {
        if (Pending.empty()) {
            return true;
        }
        const bool ok = File.Write(Pending.data(), Pending.size());
        Written += Pending.size();
        Pending.clear();
        return ok;
    }
    std::string Error() const override { return OutputFiles::ErrorText(File.Error()); }
    // The rest of `fd` is copied by the kernel into the file, after what is gathered.
    bool AppendFrom(int fd, std::string* error) override {
        const off_t start = ::lseek(fd, 0, SEEK_CUR);
        if (start < 0 || !Flush() || !File.AppendFrom(fd)) {
            *error = start < 0 ? std::string(std::strerror(errno)) : Error();
            return false;
        }
        Written += static_cast<uint64_t>(::lseek(fd, 0, SEEK_CUR) - start);
        return true;
    }

private:
    OutputFiles::TPartialFile& File;
    uint64_t Written = 0; // bytes handed to the file
    std::vector<uint8_t> Pending;
};

// The loudness of one track, measured while it is encoded; handed to the job's state
// when the whole track came.
class TrackMeter {
public:
    void Start(const PcmShape& pcm, uint64_t trackBytes, bool on) {
        Expected = trackBytes;
        Fed = 0;
        Meter = TLoudnessMeter();
        std::string error;
        On = on && Meter.Start(pcm.SampleRate, pcm.Channels, &error);
    }
    void Add(const uint8_t* data, std::size_t count) {
        Fed += count;
        std::string error;
        On = On && Meter.Add(data, count, &error);
    }
    bool Whole() const { return On && Fed == Expected; }
    void Stop() { On = false; }
    void HandTo(FormatJobState& state, int number) {
        if (Whole()) {
            state.Measured(number, std::move(Meter));
        }
        On = false;
    }

private:
    TLoudnessMeter Meter;
    uint64_t Expected = 0;
    uint64_t Fed = 0;
    bool On = false;
};

// The pipeline's observer of one track: its loudness, handed to the job's state when
// the whole track came, before the track's encoder ends its stream.
class LoudnessObserver : public TrackObserver {
public:
    explicit LoudnessObserver(std::shared_ptr<FormatJobState> state) : State(std::move(state)) {}
    void Begin(int number, const PcmShape& pcm, uint64_t trackBytes) override {
        Number = number;
        Meter.Start(pcm, trackBytes, true);
    }
    void Add(const uint8_t* data, std::size_t count) override {
        try {
            Meter.Add(data, count);
        } catch (const std::exception&) {
            Meter.Stop(); // out of memory for the samples: no measurement, no gain
        }
    }
    void End(bool whole) override {
        if (whole) {
            Meter.HandTo(*State, Number);
        }
    }

private:
    std::shared_ptr<FormatJobState> State;
    int Number = 0;
    TrackMeter Meter;
};

// Throws the encoder's failure: a write error names the file as the MP3 path does.
[[noreturn]] void Fail(const OutputFiles::TPartialFile& file, const std::string& error) {
    throw ECDRIPError(file.Error() != 0 ? WriteErrorText(&file) : error);
}

// The serial number of a track's Ogg stream: the same for the same track on every run,
// different for the tracks of one disc.
uint32_t SerialOf(int number) {
    return 0x56454C00u | static_cast<uint32_t>(number & 0xFF);
}

struct VorbisSettings {
    VorbisKind Kind;
    int32_t Level;
    int32_t StereoKbps;
    int32_t MonoKbps;
    bool ReplayGain;
};

class VorbisTrackEncoder : public TrackEncoder {
public:
    VorbisTrackEncoder(VorbisSettings settings, std::shared_ptr<FormatJobState> state)
        : S(settings), State(std::move(state)) {}
    void ForTrack(int number) override { Number = number; }
    void Start(OutputFiles::TPartialFile& file, const PcmShape& pcm, uint64_t trackBytes,
               std::size_t) override {
        File = &file;
        Sink.emplace(file);
        const auto fields = State->Fields.find(Number);
        const Metadata::TagFields tags =
            fields != State->Fields.end() ? fields->second : Metadata::TagFields{};
        std::string error;
        bool open = false;
        if (S.Kind == VorbisKind::Flac) {
            TFlacOptions o;
            o.SampleRate = pcm.SampleRate;
            o.Channels = pcm.Channels;
            o.Compression = static_cast<uint32_t>(S.Level);
            o.ExpectedSamples = trackBytes / (2u * pcm.Channels);
            o.Comments = CommentsOf(tags);
            o.Cover = PictureOf(tags);
            open = Flac.emplace().Open(*Sink, o, &error);
        } else {
            TOpusOptions o;
            o.SampleRate = pcm.SampleRate;
            o.Channels = pcm.Channels;
            o.Bitrate = static_cast<uint32_t>(pcm.Channels == 1 ? S.MonoKbps : S.StereoKbps);
            o.Comments = CommentsOf(tags);
            o.Cover = PictureOf(tags);
            o.Serial = SerialOf(Number);
            open = Opus.emplace().Open(*Sink, o, &error);
        }
        if (!open) {
            Fail(file,
                 std::string(S.Kind == VorbisKind::Flac ? "Unable to start the FLAC encoder: "
                                                        : "Unable to start the Opus encoder: ") +
                     error);
        }
    }
    void Feed(const uint8_t* data, std::size_t count) override {
        std::string error;
        const bool ok = Flac ? Flac->Feed(data, count, &error) : Opus->Feed(data, count, &error);
        if (!ok) {
            Fail(*File, error);
        }
    }
    bool Flush() override {
        // The pipeline has ended the track's meter: its loudness is there when the track
        // was measured whole.
        const TLoudness loudness = S.ReplayGain ? State->TrackLoudness(Number) : TLoudness{};
        const TVorbisComments gain = S.Kind == VorbisKind::Flac
                                         ? ReplayGainComments(loudness, false)
                                         : R128Comments(loudness, false);
        std::string error;
        const bool ok = Flac ? Flac->Finish(gain, &error) : Opus->Finish(gain, &error);
        if (!ok) {
            Fail(*File, error);
        }
        if (!Sink->Flush()) {
            Fail(*File, "cannot write the file: " + Sink->Error());
        }
        return true;
    }
    void Close() override {
        Flac.reset();
        Opus.reset();
        Sink.reset();
        File = nullptr;
    }

private:
    VorbisSettings S;
    std::shared_ptr<FormatJobState> State;
    int Number = 0;
    OutputFiles::TPartialFile* File = nullptr;
    std::optional<PartialSink> Sink;
    std::optional<TFlacEncoder> Flac;
    std::optional<TOpusEncoder> Opus;
};

} // namespace

VorbisFormat::VorbisFormat(VorbisKind kind, const TMP3Settings& settings,
                           std::shared_ptr<FormatJobState> state)
    : Kind(kind), ReplayGain(settings.ReplayGain), State(std::move(state)) {
    if (Kind == VorbisKind::Flac) {
        Level = FlacCompressionOf(settings, SettingNotes);
    } else {
        StereoKbps = OpusBitrateOf(settings, 2, SettingNotes);
        std::vector<std::string> mono; // told only when the output is mono
        MonoKbps = OpusBitrateOf(settings, 1, mono);
    }
    State->ReplayGain = ReplayGain;
}

std::unique_ptr<TrackEncoder> VorbisFormat::NewEncoder() const {
    return std::make_unique<VorbisTrackEncoder>(
        VorbisSettings{Kind, Level, StereoKbps, MonoKbps, ReplayGain}, State);
}

std::unique_ptr<TrackObserver> VorbisFormat::NewObserver() const {
    return ReplayGain ? std::make_unique<LoudnessObserver>(State) : nullptr;
}

std::vector<std::pair<std::string, std::string>> VorbisFormat::LogSettings() const {
    std::vector<std::pair<std::string, std::string>> s;
    if (Kind == VorbisKind::Flac) {
        s.push_back({"FLAC compression level", std::to_string(Level) + ", verified"});
    } else {
        s.push_back({"Opus bit rate", std::to_string(StereoKbps) + " kbit/s VBR"});
    }
    s.push_back({"ReplayGain", ReplayGain ? "on" : "off"});
    return s;
}

MeteredFormat::MeteredFormat(const EncoderFormat& inner, std::shared_ptr<FormatJobState> state)
    : Inner(inner), State(std::move(state)) {}

std::unique_ptr<TrackEncoder> MeteredFormat::NewEncoder() const {
    return Inner.NewEncoder();
}

std::unique_ptr<TrackObserver> MeteredFormat::NewObserver() const {
    return State->ReplayGain ? std::make_unique<LoudnessObserver>(State) : nullptr;
}

std::vector<std::pair<std::string, std::string>> MeteredFormat::LogSettings() const {
    auto s = Inner.LogSettings();
    s.push_back({"ReplayGain", State->ReplayGain ? "on" : "off"});
    return s;
}

MeteredTagStep::MeteredTagStep(std::shared_ptr<const TagStep> inner,
                               std::shared_ptr<FormatJobState> state)
    : Inner(std::move(inner)), State(std::move(state)) {}

bool MeteredTagStep::Write(const std::string& path, const JobTrack& track,
                           std::string* error) const {
    if (Inner && !Inner->Write(path, track, error)) {
        return false;
    }
    const TVorbisComments gain = ReplayGainComments(State->TrackLoudness(track.Number), false);
    if (gain.empty()) {
        return true;
    }
    std::string why;
    if (!WriteId3UserTexts(path, gain, &why)) {
        *error = track.FileName + ": cannot write the ReplayGain tags: " + why;
        return false;
    }
    return true;
}

AlbumGainStep::AlbumGainStep(Target target, std::shared_ptr<FormatJobState> state)
    : What(target), State(std::move(state)) {}

namespace {

// Copies `from` into `out` as it is.
bool CopyFile(const std::string& from, TByteSink& out, std::string* error) {
    const int fd = OutputFiles::OpenRegularFile(from, error);
    if (fd < 0) {
        return false;
    }
    const bool ok = out.AppendFrom(fd, error);
    ::close(fd);
    return ok;
}

bool Flushed(PartialSink& sink, std::string* error) {
    if (!sink.Flush()) {
        *error = sink.Error();
        return false;
    }
    return true;
}

} // namespace

bool AlbumGainStep::Update(const std::string& file, const TVorbisComments& tags,
                           std::string* error) const {
    // Only a regular file is read and replaced: a pipe or a device under the name got
    // the track directly, and opening one again could wait for ever.
    const int check = OutputFiles::OpenRegularFile(file, error);
    if (check < 0) {
        return false;
    }
    ::close(check);
    OutputFiles::TPartialFile copy(file, {.RegularOnly = true});
    PartialSink sink(copy);
    bool ok = false;
    if (What == Target::Mp3) {
        ok = CopyFile(file, sink, error) && Flushed(sink, error) &&
             WriteId3UserTexts(copy.TempName(), tags, error);
    } else {
        ok =
            CopyWithComments(file, What == Target::Flac ? TTaggedFormat::Flac : TTaggedFormat::Opus,
                             tags, sink, error) &&
            Flushed(sink, error);
    }
    if (!ok) {
        copy.Discard();
        return false;
    }
    return copy.Finish(true);
}

void AlbumGainStep::Run(RipJob& job) {
    if (!State->ReplayGain) {
        return;
    }
    auto& settings = job.Proof().Record.Settings;
    const char* name = "ReplayGain album gain";
    if (job.Stopped()) {
        settings.push_back({name, "not written: the job was stopped"});
        return;
    }
    std::vector<int> numbers;
    std::vector<std::string> files;
    for (const auto& [track, outcome] : job.Outcomes()) {
        if (outcome.FileWritten && outcome.Result != TrackResult::Failed &&
            outcome.Result != TrackResult::Stopped && State->TrackLoudness(track.Number).Valid) {
            numbers.push_back(track.Number);
            files.push_back(track.FileName);
        }
    }
    const TLoudness album = State->AlbumLoudness(numbers);
    if (!album.Valid) {
        settings.push_back({name, "not written: no track was measured whole"});
        return;
    }
    const TVorbisComments tags =
        What == Target::Opus ? R128Comments(album, true) : ReplayGainComments(album, true);
    // Each file is a copy of its own: they are made on as many threads as there are
    // cores, so that the job's end waits less for them. The log lists them in order.
    std::vector<std::string> errors(files.size());
    std::vector<char> done(files.size(), 0);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            try {
                done[i] = Update(files[i], tags, &errors[i]) ? 1 : 0;
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        }
    };
    {
        std::vector<std::jthread> others;
        const std::size_t threads =
            std::min<std::size_t>(std::max(1U, std::thread::hardware_concurrency()), files.size());
        try {
            while (others.size() + 1 < threads) {
                others.emplace_back(work);
            }
        } catch (const std::system_error&) {
            // No thread to spare: this one does the rest.
        }
        work();
    }
    std::string failed;
    int written = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (done[i] != 0) {
            ++written;
        } else {
            failed += "; not written to " + files[i] + ": " + errors[i];
        }
    }
    settings.push_back({name, GainText(ReplayGainDb(album.Lufs)) + ", peak " +
                                  PeakText(album.Peak) + ", written into " +
                                  std::to_string(written) + " of " + std::to_string(files.size()) +
                                  " files when the job ended" + failed});
}
