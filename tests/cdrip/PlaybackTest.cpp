// Playback on the silent clock (CDRIP_AUDIO=none): 75 sectors a second, still while
// paused and after stop; and the virtual tray.
#include "CdripFixture.h"

#include <ostream>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace cdriptest {
namespace {

using namespace std::chrono_literals;

struct Position {
    int32_t relative = -1, absolute = -1;
};

Position playPosition() {
    Position p;
    EXPECT_EQ(CR_GetPlayPosition(&p.relative, &p.absolute), CR_STATUS_OK);
    return p;
}

using PlaybackTest = CdripTest;

TEST_F(PlaybackTest, PositionAdvancesSeventyFiveASecondAndHoldsWhilePaused) {
    selectDisc(music_);
    ASSERT_EQ(CR_PlayTrack(2), CR_STATUS_OK); // track 2 starts at sector 301
    std::this_thread::sleep_for(1s);
    Position a = playPosition();
    // About 75 sectors in a second; generous room for a busy machine.
    EXPECT_GE(a.relative, 60);
    EXPECT_LE(a.relative, 150);
    EXPECT_EQ(a.absolute, 301 + a.relative);

    ASSERT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_OK);
    Position paused = playPosition();
    std::this_thread::sleep_for(300ms);
    Position still = playPosition();
    EXPECT_EQ(still.absolute, paused.absolute);

    ASSERT_EQ(CR_PauseCD(CR_FALSE), CR_STATUS_OK);
    std::this_thread::sleep_for(400ms);
    Position resumed = playPosition();
    EXPECT_GE(resumed.absolute, still.absolute + 15) << "resumed playback moves on";

    ASSERT_EQ(CR_StopPlayTrack(), CR_STATUS_OK);
    Position stopped = playPosition();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(playPosition().absolute, stopped.absolute);
    EXPECT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_FAIL) << "nothing plays after stop";
}

TEST_F(PlaybackTest, PlaybackEndsByItselfAtTheTrackEnd) {
    discgen::DiscSpec plan;
    plan.tracks = {{30, 0, false}, {40, 0, false}}; // 0.4 s, then 0.53 s
    const std::string shortDisc = dir_ + "/short";
    ASSERT_TRUE(discgen::writeDisc(shortDisc, plan));
    startLibrary({shortDisc + ".cue"}, nullptr);
    selectDisc(shortDisc + ".cue");
    ASSERT_EQ(CR_PlayTrack(1), CR_STATUS_OK);
    std::this_thread::sleep_for(900ms);
    Position end = playPosition();
    EXPECT_EQ(end.absolute, 29) << "stays on the track's last sector";
    EXPECT_EQ(end.relative, 29);
    EXPECT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_FAIL) << "playback has ended";
}

TEST_F(PlaybackTest, DataTracksAndUnknownTracksDoNotPlay) {
    selectDisc(music_);
    EXPECT_EQ(CR_PlayTrack(4), CR_STATUS_FAIL); // the data track
    EXPECT_EQ(CR_PlayTrack(0), CR_STATUS_FAIL);
    EXPECT_EQ(CR_PlayTrack(5), CR_STATUS_FAIL);
    EXPECT_EQ(CR_PlayTrack(-3), CR_STATUS_FAIL);
    EXPECT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_FAIL);
    EXPECT_EQ(CR_StopPlayTrack(), CR_STATUS_OK);
    Position p = playPosition();
    EXPECT_EQ(p.relative, 0);
}

TEST_F(PlaybackTest, VirtualTrayOpensAndClosesByItself) {
    selectDisc(music_);
    ASSERT_EQ(CR_PlayTrack(1), CR_STATUS_OK);
    ASSERT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_OK);
    EXPECT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_FAIL) << "eject stops playback";
    EXPECT_EQ(CR_GetNumTocEntries(), 0);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL) << "no disc while the tray is open";
    int32_t size = 0;
    EXPECT_EQ(CR_OpenRipper(&size, 0, 10), CR_STATUS_FAIL);
    // CDRIP_TRAY_SECONDS=1 in the fixture.
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_OK);
    EXPECT_EQ(CR_GetNumTocEntries(), 4);

    ASSERT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_OK);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL);
    ASSERT_EQ(CR_EjectCD(CR_FALSE), CR_STATUS_OK) << "closing by hand";
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_OK);
}

// Without CDRIP_AUDIO=none the library tries SDL2. SDL's "dummy" driver is a device that
// plays into nothing in real time; a driver that does not exist makes SDL fail to start,
// which must fall back to the silent clock.
struct DeviceCase {
    const char* name;
    const char* sdlDriver;
};

// Names the row in test output.
void PrintTo(const DeviceCase& row, std::ostream* os) {
    *os << row.name;
}

class SoundDeviceTest : public CdripTest, public testing::WithParamInterface<DeviceCase> {
protected:
    void TearDown() override {
        CdripTest::TearDown();
        unsetenv("SDL_AUDIODRIVER");
    }
};

TEST_P(SoundDeviceTest, PositionAdvancesWithOrWithoutADevice) {
    startLibrary({music_}, nullptr);
    setenv("CDRIP_AUDIO", "sdl", 1);
    setenv("SDL_AUDIODRIVER", GetParam().sdlDriver, 1);
    selectDisc(music_);
    ASSERT_EQ(CR_PlayTrack(3), CR_STATUS_OK); // track 3 starts at sector 798
    std::this_thread::sleep_for(1200ms);
    Position a = playPosition();
    // A device queues half a second ahead, so allow for its start-up.
    EXPECT_GE(a.relative, 40);
    EXPECT_LE(a.relative, 160);
    EXPECT_EQ(a.absolute, 798 + a.relative);
    ASSERT_EQ(CR_PauseCD(CR_TRUE), CR_STATUS_OK);
    Position paused = playPosition();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(playPosition().absolute, paused.absolute);
    ASSERT_EQ(CR_StopPlayTrack(), CR_STATUS_OK);
    Position stopped = playPosition();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(playPosition().absolute, stopped.absolute);
}

INSTANTIATE_TEST_SUITE_P(Sdl, SoundDeviceTest,
                         testing::Values(DeviceCase{"DummyDevice", "dummy"},
                                         DeviceCase{"NoDevice", "no-such-driver"}),
                         [](const testing::TestParamInfo<DeviceCase>& row) {
                             return row.param.name;
                         });

} // namespace
} // namespace cdriptest
