#include "player.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cdrip {
namespace {

// SDL2 is loaded when playback first needs a sound device, not with the library: a
// ripping program never pays for the sound and display stacks that SDL2 pulls in.
struct SdlApi {
    decltype(&SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) quitSubSystem = nullptr;
    decltype(&SDL_OpenAudioDevice) openAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
    decltype(&SDL_QueueAudio) queueAudio = nullptr;
    decltype(&SDL_GetQueuedAudioSize) getQueuedAudioSize = nullptr;
    decltype(&SDL_ClearQueuedAudio) clearQueuedAudio = nullptr;
    bool ok = false;
};

template <typename Fn> bool bind(void* lib, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(lib, name));
    return fn != nullptr;
}

const SdlApi& sdl() {
    static const SdlApi api = [] {
        SdlApi a;
        void* lib = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return a;
        a.ok = bind(lib, "SDL_InitSubSystem", a.initSubSystem) &&
               bind(lib, "SDL_QuitSubSystem", a.quitSubSystem) &&
               bind(lib, "SDL_OpenAudioDevice", a.openAudioDevice) &&
               bind(lib, "SDL_CloseAudioDevice", a.closeAudioDevice) &&
               bind(lib, "SDL_PauseAudioDevice", a.pauseAudioDevice) &&
               bind(lib, "SDL_QueueAudio", a.queueAudio) &&
               bind(lib, "SDL_GetQueuedAudioSize", a.getQueuedAudioSize) &&
               bind(lib, "SDL_ClearQueuedAudio", a.clearQueuedAudio);
        return a; // the library stays loaded for the life of the process
    }();
    return api;
}

constexpr int32_t kRaw = kSectorBytes;
constexpr int32_t kSectorsPerSecond = 75;
constexpr int32_t kQueueAhead = 38; // half a second of sound waits in the device queue

bool audioDisabled() {
    const char* v = std::getenv("CDRIP_AUDIO");
    return v && std::strcmp(v, "none") == 0;
}

} // namespace

Player::~Player() {
    stop();
    if (sdlAudio_)
        sdl().quitSubSystem(SDL_INIT_AUDIO);
}

bool Player::silentClock() const {
    return device_ == 0;
}

bool Player::openDevice() {
    if (audioDisabled() || !sdl().ok)
        return false;
    if (!sdlAudio_) {
        if (sdl().initSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        sdlAudio_ = true;
    }
    SDL_AudioSpec want{}, have{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 4096;
    device_ = sdl().openAudioDevice(nullptr, 0, &want, &have, 0); // queued, no callback
    return device_ != 0;
}

void Player::closeDevice() {
    if (device_ != 0)
        sdl().closeAudioDevice(device_);
    device_ = 0;
}

bool Player::play(const std::function<std::unique_ptr<SectorSource>()>& open, int32_t first,
                  int32_t last) {
    stop();
    std::unique_lock<std::mutex> guard(lock_);
    first_ = first;
    last_ = last;
    queuedUpTo_ = first;
    paused_ = quit_ = false;
    frozenRel_ = 0;
    frozenAbs_ = first;
    if (openDevice()) {
        source_ = open();
        if (!source_) {
            closeDevice();
            return false;
        }
        sdl().pauseAudioDevice(device_, 0);
    }
    before_ = Clock::duration::zero();
    since_ = Clock::now();
    running_ = true;
    feeder_ = std::thread([this] { feedLoop(); });
    return true;
}

// Reads sectors ahead into the device queue; on the silent clock it only watches for the
// end of the track.
void Player::feedLoop() {
    std::vector<uint8_t> block(size_t(kQueueAhead) * kRaw);
    std::unique_lock<std::mutex> guard(lock_);
    while (!quit_) {
        if (!paused_ && playedLocked() > last_ - first_) {
            frozenRel_ = last_ - first_;
            frozenAbs_ = last_;
            running_ = false;
            break;
        }
        if (!silentClock() && !paused_ && queuedUpTo_ <= last_) {
            const auto queued = int32_t(sdl().getQueuedAudioSize(device_) / kRaw);
            const int32_t n = std::min(kQueueAhead - queued, last_ - queuedUpTo_ + 1);
            if (n > 0) {
                int32_t from = queuedUpTo_;
                guard.unlock();
                // A sector that cannot be read plays as silence.
                const int32_t got = std::max(0, source_->read(from, n, block.data(), nullptr));
                std::memset(block.data() + size_t(got) * kRaw, 0, size_t(n - got) * kRaw);
                guard.lock();
                if (quit_)
                    break;
                sdl().queueAudio(device_, block.data(), Uint32(n) * kRaw);
                queuedUpTo_ = from + n;
            }
        }
        wake_.wait_for(guard, std::chrono::milliseconds(20));
    }
}

int32_t Player::playedLocked() const {
    if (!running_ || paused_)
        return frozenRel_;
    if (silentClock()) {
        auto elapsed = before_ + (Clock::now() - since_);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
        return int32_t(ms * kSectorsPerSecond / 1000);
    }
    const auto queued = int32_t(sdl().getQueuedAudioSize(device_) / kRaw);
    return std::max(0, queuedUpTo_ - first_ - queued);
}

bool Player::pause(bool on) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!running_)
        return false;
    if (on == paused_)
        return true;
    if (on) {
        frozenRel_ = std::min(playedLocked(), last_ - first_);
        frozenAbs_ = first_ + frozenRel_;
        before_ += Clock::now() - since_;
        paused_ = true;
    } else {
        since_ = Clock::now();
        paused_ = false;
    }
    if (device_ != 0)
        sdl().pauseAudioDevice(device_, on ? 1 : 0);
    wake_.notify_all();
    return true;
}

void Player::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (running_ && !paused_) {
            frozenRel_ = std::min(playedLocked(), last_ - first_);
            frozenAbs_ = first_ + frozenRel_;
        }
        quit_ = true;
        running_ = false;
        wake_.notify_all();
    }
    if (feeder_.joinable())
        feeder_.join();
    std::lock_guard<std::mutex> guard(lock_);
    if (device_ != 0) {
        sdl().clearQueuedAudio(device_);
        closeDevice();
    }
    source_.reset();
}

void Player::position(int32_t* relative, int32_t* absolute) {
    std::lock_guard<std::mutex> guard(lock_);
    int32_t rel = frozenRel_;
    if (running_ && !paused_)
        rel = std::min(playedLocked(), last_ - first_);
    *relative = rel;
    *absolute = first_ + rel;
}

} // namespace cdrip
