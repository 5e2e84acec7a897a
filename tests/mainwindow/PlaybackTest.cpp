// The playback panel and the one-second tick over fake library calls: the test moves
// the play position (a playing disc) or holds it (a finished track) between ticks.
#include "WindowFixture.h"

namespace {

class Playback : public WindowFixture {
protected:
    // Rows: audio, audio, audio by default.
    void OpenDisc(const std::vector<bool>& data = {false, false, false}) {
        std::vector<int32_t> lengths(data.size(), 750);
        Fake.SetDisc(lengths, data);
        Open(FakeCdRipDll());
    }
    // One tick while the disc plays on (the position moves a second's worth).
    void TickPlaying() {
        Fake.Position += 75;
        Window->Timer1Timer();
    }
    // One tick after the track has ended (the position stands still).
    void TickStill() { Window->Timer1Timer(); }
    std::vector<int> Icons() const {
        std::vector<int> icons;
        for (int i = 0; i < Window->RowCount(); ++i)
            icons.push_back(Window->ImageIndex(i));
        return icons;
    }
    using Ints = std::vector<int>;
    using Tracks = std::vector<int32_t>;
};

TEST_F(Playback, PlayWithoutSelectionStartsTheFirstTrack) {
    OpenDisc();
    Window->btnPlayClick();
    EXPECT_EQ(Fake.Played, Tracks{1});
    EXPECT_EQ(Window->SelectedRow(), 0);
    EXPECT_EQ(Window->CurrentTrack, 0);
    EXPECT_TRUE(Window->Playing);
    EXPECT_FALSE(Window->Paused);
    TickPlaying();
    EXPECT_EQ(Icons(), (Ints{2, 0, 0}));
}

TEST_F(Playback, PlayOnADataFirstRowStartsNothingButArms) {
    OpenDisc({true, false});
    Window->btnPlayClick();
    EXPECT_TRUE(Fake.Played.empty());
    EXPECT_TRUE(Window->Playing);
    EXPECT_EQ(Window->CurrentTrack, -1);
}

TEST_F(Playback, FinishedTrackAdvancesAndTheLastWrapsToTheFirst) {
    OpenDisc();
    Window->SelectRow(1);
    Window->btnPlayClick();
    TickPlaying();
    TickStill(); // track 2 ended: row 2 plays
    EXPECT_EQ(Fake.Played, (Tracks{2, 3}));
    EXPECT_EQ(Window->SelectedRow(), 2);
    TickPlaying();
    EXPECT_EQ(Icons(), (Ints{0, 0, 2}));
    TickStill(); // after the last row, the first
    EXPECT_EQ(Fake.Played, (Tracks{2, 3, 1}));
    EXPECT_EQ(Window->SelectedRow(), 0);
    EXPECT_EQ(Window->CurrentTrack, 0);
    TickPlaying();
    EXPECT_EQ(Icons(), (Ints{2, 0, 0}));
}

TEST_F(Playback, DataRowAfterAFinishedTrackRepeatsUntilPlay) {
    OpenDisc({false, false, true});
    Window->SelectRow(1);
    Window->btnPlayClick();
    TickPlaying();
    TickStill(); // the next row is data: selected, nothing played
    EXPECT_EQ(Window->SelectedRow(), 2);
    EXPECT_EQ(Fake.Played, Tracks{2});
    Window->SelectRow(0); // the user's choice is replaced at the next tick
    TickStill();
    EXPECT_EQ(Window->SelectedRow(), 2);
    EXPECT_EQ(Fake.Played, Tracks{2});
    // The finished track stays the current row, so it keeps its playing icon.
    EXPECT_EQ(Icons(), (Ints{0, 2, 1}));
    Window->SelectRow(0);
    Window->btnPlayClick(); // Play on an audio row ends the repetition
    EXPECT_EQ(Fake.Played, (Tracks{2, 1}));
    TickPlaying();
    EXPECT_EQ(Window->SelectedRow(), 0);
}

TEST_F(Playback, PauseHoldsTheTrackAndItsIcon) {
    OpenDisc();
    Window->btnPlayClick();
    TickPlaying();
    Window->imgPauseClick();
    EXPECT_TRUE(Window->Paused);
    EXPECT_EQ(Fake.Paused, std::vector<int32_t>{CRTrue});
    TickStill();
    TickStill();
    EXPECT_EQ(Fake.Played, Tracks{1}); // no advance while paused
    EXPECT_EQ(Icons(), (Ints{2, 0, 0}));
    Window->imgPauseClick();
    EXPECT_EQ(Fake.Paused, (std::vector<int32_t>{CRTrue, CRFalse}));
    EXPECT_FALSE(Window->Paused);
}

TEST_F(Playback, StopReturnsTheIconsAtTheNextTick) {
    OpenDisc();
    Window->btnPlayClick();
    TickPlaying();
    Window->btnStopClick();
    EXPECT_FALSE(Window->Playing);
    EXPECT_EQ(Window->CurrentTrack, -1);
    EXPECT_EQ(Fake.Stops, 1);
    TickStill();
    EXPECT_EQ(Icons(), (Ints{0, 0, 0}));
    EXPECT_EQ(Fake.Played, Tracks{1});
}

TEST_F(Playback, ForwardAndBackStopAtTheEnds) {
    OpenDisc();
    Window->btnForwardClick(); // nothing selected: nothing happens
    EXPECT_TRUE(Fake.Played.empty());
    Window->SelectRow(0);
    Window->btnBackwardClick(); // first row
    EXPECT_TRUE(Fake.Played.empty());
    Window->btnForwardClick();
    Window->btnForwardClick();
    EXPECT_EQ(Fake.Played, (Tracks{2, 3}));
    Window->btnForwardClick(); // last row: no wrap
    EXPECT_EQ(Fake.Played, (Tracks{2, 3}));
    Window->btnBackwardClick();
    EXPECT_EQ(Fake.Played, (Tracks{2, 3, 2}));
    EXPECT_EQ(Window->SelectedRow(), 1);
}

TEST_F(Playback, EjectEmptiesTheListAndTheTickBringsItBack) {
    OpenDisc();
    const std::string key = Window->RIPPER->GetDiscID();
    const std::vector<std::string> titles = {"First", "Second"};
    ASSERT_TRUE(WriteCDInfo(key, "", "", "", "", &titles));
    Window->btnPlayClick();
    Window->btnEjectClick();
    EXPECT_EQ(Fake.Ejects, std::vector<int32_t>{CRTrue});
    EXPECT_EQ(Window->RowCount(), 0);
    EXPECT_FALSE(Window->Playing);
    EXPECT_EQ(Window->CurrentTrack, -1);
    TickStill(); // the tray is still open
    EXPECT_EQ(Window->RowCount(), 0);
    Fake.TrayOpen = false; // a disc goes in
    TickStill();
    ASSERT_EQ(Window->RowCount(), 3);
    EXPECT_EQ(Text(0, 0), "First"); // stored titles applied
    EXPECT_EQ(Text(2, 0), "Track03");
    EXPECT_EQ(Icons(), (Ints{0, 0, 0}));
}

TEST_F(Playback, DriveChangeStopsAPlayingDisc) {
    OpenDisc();
    Window->btnPlayClick();
    Fake.Position += 75;
    Window->cboDriveClick();
    EXPECT_EQ(Fake.Stops, 1);
    EXPECT_FALSE(Window->Playing);
    EXPECT_EQ(Window->CurrentTrack, -1);
}

} // namespace
