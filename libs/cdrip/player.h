// Digital playback of one track: sectors read from the disc and played through SDL2
// audio, or a silent clock at 75 sectors a second where no sound device opens.
#pragma once

#include "sectorsource.h"

#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace cdrip {

class Player {
public:
    Player() = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player();

    // Starts playing sectors first..last of the source `open` gives (opened only when a
    // sound device plays); stops what played before.
    bool play(const std::function<std::unique_ptr<SectorSource>()>& open, int32_t first,
              int32_t last);
    bool pause(bool on);
    void stop();
    // Sectors played since the track's start, and the sector being played.
    void position(int32_t* relative, int32_t* absolute);

private:
    using Clock = std::chrono::steady_clock;
    bool openDevice();
    void closeDevice();
    void feedLoop();
    int32_t playedLocked() const; // sectors played so far
    bool silentClock() const;

    std::mutex lock_;
    std::condition_variable wake_;
    std::thread feeder_;
    std::unique_ptr<SectorSource> source_;
    SDL_AudioDeviceID device_ = 0;
    bool sdlAudio_ = false;
    bool running_ = false, paused_ = false, quit_ = false;
    int32_t first_ = 0, last_ = 0;
    int32_t queuedUpTo_ = 0; // sectors handed to the device
    // Silent clock: time counted while playing, frozen while paused.
    Clock::time_point since_;
    Clock::duration before_{};
    int32_t frozenRel_ = 0, frozenAbs_ = 0;
};

} // namespace cdrip
