// Titles beyond cdplayer.ini in the main window: the demo disc's CD-TEXT at start, the
// MusicBrainz look-up in the background against a local server, and the ID3v2 tag of
// the window's MP3 files.
#include "WindowFixture.h"

#include "LocalHttpServer.h"
#include "cdaccess/Mutagen.h"
#include "discgen.h"
#include "encoding/MP3Info.h"
#include "metadata/DiscId.h"
#include "platform/ProfileIni.h"

#include <QCoreApplication>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class TitlesWindow : public WindowFixture {
protected:
    void TearDown() override {
        WindowFixture::TearDown();
        unsetenv("VELMORA_MUSICBRAINZ_URL");
        TTitleSearch::TimeoutSeconds = 10;
    }

    std::string MakeDisc(const discgen::DiscSpec& plan) {
        const std::string base = Dir + "/disc";
        std::string error;
        EXPECT_TRUE(discgen::writeDisc(base, plan, &error)) << error;
        setenv("CDRIP_IMAGES", (base + ".cue").c_str(), 1);
        return base + ".cue";
    }

    // Runs the event loop until `done` holds or `seconds` pass.
    template <typename Pred> bool WaitFor(Pred done, int seconds) {
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (!done() && Clock::now() < deadline) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }

    std::vector<QString> Titles() const {
        std::vector<QString> t;
        for (int i = 0; i < Window->RowCount(); ++i)
            t.push_back(Text(i, 0));
        return t;
    }
};

// Two audio tracks of 10 s and 20 s, no CD-TEXT.
discgen::DiscSpec PlainDisc() {
    discgen::DiscSpec plan = discgen::simpleDisc(31, 2, 750);
    plan.tracks[1].sectors = 1500;
    return plan;
}

std::string PlainDiscAnswer() {
    return R"({"releases":[{"id":"other","title":"Other","media":[{"tracks":[)"
           R"({"title":"X","length":50000},{"title":"Y","length":50000}]}]},)"
           R"({"id":"rel-7","title":"Mb Album","date":"2020","artist-credit":[{"name":"Mb Band"}],)"
           R"("media":[{"tracks":[{"title":"Erste","length":10000},)"
           R"({"title":"Zweite Stück","length":20000}]}]}]})";
}

TEST_F(TitlesWindow, DemoDiscShowsItsCdTextAtStart) {
    MakeDisc(discgen::demoDisc());
    Open(CdRipDll());
    EXPECT_EQ(Titles(),
              (std::vector<QString>{"Opening Chords", "Noise Garden", "Café Sweep",
                                    "Short Interlude", "Señor Sine", "Closing Bells", "Track07"}));
    EXPECT_EQ(Status(), "Titles from CD-TEXT");
    for (int i = 0; i < Window->RowCount(); ++i)
        EXPECT_FALSE(Ticked(i));
    // Found titles are not written to cdplayer.ini until the user saves.
    EXPECT_FALSE(std::ifstream(Dir + "/config/cdplayer.ini").good());
    Window->SaveCDInformation1Click();
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), Window->RIPPER->GetDiscID(), "4", ""),
              "Señor Sine");
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), Window->RIPPER->GetDiscID(), "artist", ""),
              "The Velmora Ensemble");
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), Window->RIPPER->GetDiscID(), "album", ""),
              "Synthetic Études");
}

TEST_F(TitlesWindow, TheUsersTitlesWinOverCdText) {
    MakeDisc(discgen::demoDisc());
    Open(CdRipDll());
    const std::string key = Window->RIPPER->GetDiscID();
    std::ofstream(Dir + "/config/cdplayer.ini") << "[" << key << "]\n0=Mine One\n1=My Own Two\n";
    Window->cboDriveClick(); // the disc is read again
    EXPECT_EQ(Text(0, 0), "Mine One");
    EXPECT_EQ(Text(1, 0), "My Own Two");
    EXPECT_EQ(Text(2, 0), "Café Sweep");
}

TEST_F(TitlesWindow, MusicBrainzAnswersInTheBackground) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, PlainDiscAnswer());
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    Settings.Lookup = true;
    Open(CdRipDll());
    // Before the answer: the rows carry the track names; a tick made now stays.
    EXPECT_EQ(Titles(), (std::vector<QString>{"Track01", "Track02"}));
    Window->Row(1)->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("Titles from MusicBrainz"); }, 10))
        << Status().toStdString();
    EXPECT_EQ(Status(), "Titles from MusicBrainz: Mb Band - Mb Album");
    EXPECT_EQ(Titles(), (std::vector<QString>{"Erste", "Zweite Stück"}));
    EXPECT_FALSE(Ticked(0));
    EXPECT_TRUE(Ticked(1));
    EXPECT_EQ(Text(0, 1), "01");
    EXPECT_EQ(Text(1, 1), "02");
    EXPECT_EQ(server.Requests().size(), 1u);
}

// The status line names the sources of the titles the rows show, not the last source
// that answered.
struct SourceLineCase {
    const char* name;
    bool demo;                    // the demo disc (CD-TEXT) or the plain one
    std::vector<std::string> ini; // cdplayer.ini's titles, from row 0
    bool lookup;                  // MusicBrainz answers (plain disc)
    std::vector<QString> typed;   // titles the user types over rows 0.. before the answer
    std::vector<QString> titles;  // the rows' titles at the end
    const char* status;
};

class TitleSourceLine : public TitlesWindow, public testing::WithParamInterface<SourceLineCase> {};

TEST_P(TitleSourceLine, NamesTheSourcesOfTheShownTitles) {
    const SourceLineCase& c = GetParam();
    discgen::DiscSpec plan = c.demo ? discgen::demoDisc() : PlainDisc();
    MakeDisc(plan);
    std::optional<LocalHttpServer> server;
    if (c.lookup) {
        server.emplace(LocalHttpServer::Mode::Answer, 200, PlainDiscAnswer());
        setenv("VELMORA_MUSICBRAINZ_URL", server->Url().c_str(), 1);
        Settings.Lookup = true;
    }
    if (!c.ini.empty()) {
        // The disc key comes from a first look at the disc.
        Open(CdRipDll());
        const std::string key = Window->RIPPER->GetDiscID();
        Window.reset();
        ASSERT_TRUE(WriteCDInfo(key, "", "", "", "", &c.ini));
    }
    Open(CdRipDll());
    for (std::size_t i = 0; i < c.typed.size(); ++i)
        Window->Row(int(i))->setText(0, c.typed[i]);
    if (c.lookup) {
        ASSERT_TRUE(WaitFor([&] { return !Window->TitleSearch->Busy(); }, 10));
    }
    EXPECT_EQ(Titles(), c.titles);
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(Window->TitleSourceLine(),
              c.status == QString("No Tracks Selected.") ? "" : c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TitleSourceLine,
    testing::Values(
        SourceLineCase{"CdTextOnly",
                       true,
                       {},
                       false,
                       {},
                       {"Opening Chords", "Noise Garden", "Café Sweep", "Short Interlude",
                        "Señor Sine", "Closing Bells", "Track07"},
                       "Titles from CD-TEXT"},
        SourceLineCase{"IniOverCdText",
                       true,
                       {"Mine One", "My Own Two"},
                       false,
                       {},
                       {"Mine One", "My Own Two", "Café Sweep", "Short Interlude", "Señor Sine",
                        "Closing Bells", "Track07"},
                       "Titles from cdplayer.ini and CD-TEXT"},
        SourceLineCase{"IniEverywhere",
                       true,
                       {"A", "B", "C", "D", "E", "F", "G"},
                       false,
                       {},
                       {"A", "B", "C", "D", "E", "F", "G"},
                       "Titles from cdplayer.ini"},
        SourceLineCase{"IniOnlyMusicBrainzAnswers",
                       false,
                       {"Mine One", "My Own Two"},
                       true,
                       {},
                       {"Mine One", "My Own Two"},
                       "Titles from cdplayer.ini"},
        SourceLineCase{"IniAndMusicBrainz",
                       false,
                       {"Mine One"},
                       true,
                       {},
                       {"Mine One", "Zweite Stück"},
                       "Titles from cdplayer.ini and MusicBrainz: Mb Band - Mb Album"},
        SourceLineCase{"MusicBrainzOnly",
                       false,
                       {},
                       true,
                       {},
                       {"Erste", "Zweite Stück"},
                       "Titles from MusicBrainz: Mb Band - Mb Album"},
        SourceLineCase{"TypedOverIniMusicBrainzAnswers",
                       false,
                       {"Mine One"},
                       true,
                       {"Typed"},
                       {"Typed", "Zweite Stück"},
                       "Titles from MusicBrainz: Mb Band - Mb Album"},
        SourceLineCase{
            "NoSourceNoLine", false, {}, false, {}, {"Track01", "Track02"}, "No Tracks Selected."}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(TitlesWindow, RenamedRowsKeepTheUsersTitle) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, PlainDiscAnswer());
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    Settings.Lookup = true;
    Open(CdRipDll());
    Window->Row(0)->setText(0, "Typed By Me"); // before the answer comes
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("Titles from MusicBrainz"); }, 10));
    EXPECT_EQ(Titles(), (std::vector<QString>{"Typed By Me", "Zweite Stück"}));
}

TEST_F(TitlesWindow, LookupZeroInTheSettingsAsksNoServer) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, PlainDiscAnswer());
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    std::ofstream(Dir + "/velmora-ripper.ini") << "[System]\nLookup=0\n";
    Settings.Lookup = true; // the file says otherwise
    Open(CdRipDll());
    EXPECT_FALSE(Window->TitleSearch->Busy());
    WaitFor([] { return false; }, 1);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(Titles(), (std::vector<QString>{"Track01", "Track02"}));
    EXPECT_EQ(Status(), "No Tracks Selected.");
}

TEST_F(TitlesWindow, ServerThatNeverAnswersDoesNotHoldTheWindow) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 2, 30);
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    // A window that waited for the look-up would take its whole 8 s; a busy machine
    // under the sanitizers still opens it in far less.
    TTitleSearch::TimeoutSeconds = 8;
    Settings.Lookup = true;
    const auto start = Clock::now();
    Open(CdRipDll());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5000));
    EXPECT_TRUE(Window->TitleSearch->Busy());
    // The window answers the user while the look-up waits.
    Window->chkSelAll->click();
    EXPECT_EQ(Status(), "2 Tracks Selected");
    ASSERT_TRUE(WaitFor([&] { return !Window->TitleSearch->Busy(); }, 25));
    EXPECT_EQ(Status(), "MusicBrainz did not answer within 8 s; titles from track numbers");
    EXPECT_EQ(Titles(), (std::vector<QString>{"Track01", "Track02"}));
    EXPECT_TRUE(Ticked(0));
    EXPECT_TRUE(Ticked(1));
}

TEST_F(TitlesWindow, ClosingDuringALookupDropsItsAnswer) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 2, 30);
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    TTitleSearch::TimeoutSeconds = 1;
    Settings.Lookup = true;
    Open(CdRipDll());
    EXPECT_TRUE(Window->TitleSearch->Busy());
    Window.reset(); // waits for the look-up's time limit at most
    QCoreApplication::processEvents();
}

TEST_F(TitlesWindow, Mp3GetsTheId3v2TagOfItsRow) {
    discgen::DiscSpec plan = discgen::demoDisc();
    MakeDisc(plan);
    Open(CdRipDll());
    Window->Row(2)->setText(0, "Renamed Three");
    const std::string name = Dir + "/three.mp3";
    Window->RIPPER->Encode = true;
    Window->RIPPER->RipTrack(3, Dir + "/three.wav");
    Window->MP3Info1->SetFilename(name);
    Window->MP3Info1->SetTitle("Renamed Three");
    Window->MP3Info1->Save();
    Window->TagMp3(name, 2);
    const nlohmann::json read = MutagenFrames(name);
    ASSERT_TRUE(read.is_object());
    const nlohmann::json& f = read["frames"];
    EXPECT_EQ(f["TIT2"][0], "Renamed Three");
    EXPECT_EQ(f["TALB"][0], "Synthetic Études");
    EXPECT_EQ(f["TPE1"][0], "The Velmora Ensemble");
    EXPECT_EQ(f["TPE2"][0], "The Velmora Ensemble");
    EXPECT_EQ(f["TRCK"][0], "3/6"); // six audio tracks and a data track
    EXPECT_EQ(f["TXXX:MusicBrainz Disc Id"][0], Window->TitleSearch->Found().DiscId);
    EXPECT_FALSE(f.contains("TXXX:MusicBrainz Album Id")); // no look-up, no release
}

// Two releases of PlainDisc() whose lengths fit it alike: one sold in the US, one in GB.
std::string TwoReleaseAnswer() {
    auto release = [](const char* id, const char* title, const char* country, const char* one,
                      const char* two) {
        return std::string(R"({"id":")") + id + R"(","title":")" + title + R"(","country":")" +
               country + R"(","date":"2020-05","artist-credit":[{"name":"Mb Band"}],)" +
               R"("media":[{"tracks":[{"title":")" + one + R"(","length":10000},{"title":")" + two +
               R"(","length":20000}]}]})";
    };
    return R"({"releases":[)" + release("rel-us", "Us Album", "US", "Us One", "Us Two") + "," +
           release("rel-gb", "Gb Album", "GB", "Gb One", "Gb Two") + "]}";
}

TEST_F(TitlesWindow, ReleaseMenuTakesAnotherReleaseKeptOnlyWhenSaved) {
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, TwoReleaseAnswer(), 4);
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "en_GB.UTF-8", 1);
    Settings.Lookup = true;
    Open(CdRipDll());
    EXPECT_FALSE(Window->ReleaseMenu->isEnabled()) << "nothing to choose before the answer";
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("Titles from MusicBrainz"); }, 10))
        << Status().toStdString();
    // The user's country decides between the two.
    EXPECT_EQ(Titles(), (std::vector<QString>{"Gb One", "Gb Two"}));
    ASSERT_TRUE(Window->ReleaseMenu->isEnabled());
    emit Window->ReleaseMenu->aboutToShow();
    QList<QAction*> items = Window->ReleaseMenu->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "&1  Us Album (Mb Band); 2020-05; US; rel-us");
    EXPECT_EQ(items[1]->text(), "&2  Gb Album (Mb Band); 2020-05; GB; rel-gb");
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isChecked());

    // A title the user typed stays; those of the release taken before change.
    Window->Row(1)->setText(0, "Typed");
    items[0]->trigger();
    EXPECT_EQ(Titles(), (std::vector<QString>{"Us One", "Typed"}));
    EXPECT_EQ(Status(), "Titles from MusicBrainz: Mb Band - Us Album");
    EXPECT_EQ(Window->TitleSearch->Found().ReleaseId, "rel-us");
    emit Window->ReleaseMenu->aboutToShow();
    items = Window->ReleaseMenu->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());
    // Not kept until the user saves.
    EXPECT_FALSE(std::ifstream(Dir + "/config/cdplayer.ini").good());
    Window->SaveCDInformation1Click();
    const std::string key = Window->RIPPER->GetDiscID();
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), key, "release", ""), "rel-us");

    // Read again, the disc takes the saved release over the country.
    Window->cboDriveClick();
    ASSERT_TRUE(WaitFor([&] { return !Window->TitleSearch->Busy(); }, 10));
    EXPECT_EQ(Window->TitleSearch->Found().ReleaseId, "rel-us");
    EXPECT_EQ(Window->TitleSearch->Found().ChosenBy, "saved in cdplayer.ini");
    unsetenv("LANG");
}

TEST_F(TitlesWindow, FrontCoverComesInTheBackgroundAndGoesIntoTheTag) {
    // A 1x1 PNG image, 70 bytes: signature (8), IHDR (25), IDAT (25), IEND (12).
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0"
                          "\x1f\x15\xc4\x89\0\0\0\x0dIDATx\xda\x63\x64\xf8\xcf\x50\x0f\0\x03"
                          "\x86\x01\x80\x5a\x34\x7d\x6b\0\0\0\0IEND\xae\x42\x60\x82",
                          70);
    MakeDisc(PlainDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, TwoReleaseAnswer(), 2);
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, png, 2);
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    setenv("VELMORA_COVERART_URL", covers.Url().c_str(), 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "en_GB.UTF-8", 1);
    Settings.Lookup = true;
    Settings.CoverArt = true;
    Settings.EmbedCover = true;
    Open(CdRipDll());
    ASSERT_TRUE(WaitFor(
        [&] { return !Window->TitleSearch->Busy() && !Window->TitleSearch->FetchingCover(); }, 15));
    unsetenv("VELMORA_COVERART_URL");
    unsetenv("LANG");
    const auto requests = covers.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')), "/release/rel-gb/front-500");
    const auto cover = Window->TitleSearch->Found().Cover;
    ASSERT_NE(cover, nullptr) << Window->TitleSearch->CoverMessage();
    EXPECT_EQ(cover->Mime, "image/png");
    EXPECT_EQ(std::string(cover->Bytes.begin(), cover->Bytes.end()), png);

    const std::string name = Dir + "/one.mp3";
    Window->RIPPER->Encode = true;
    Window->RIPPER->RipTrack(1, Dir + "/one.wav");
    Window->MP3Info1->SetFilename(name);
    Window->MP3Info1->SetTitle("Gb One");
    Window->MP3Info1->Save();
    Window->TagMp3(name, 0);
    nlohmann::json read = MutagenTags(name);
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["frames"]["APIC:"]["mime"], "image/png");
    EXPECT_EQ(read["frames"]["APIC:"]["type"], 3);
    EXPECT_EQ(read["frames"]["TDRC"]["text"], nlohmann::json({"2020-05"}));
    // EmbedCover=0: the tag goes without it.
    Settings.EmbedCover = false;
    Window->TagMp3(name, 0);
    read = MutagenTags(name);
    ASSERT_TRUE(read.is_object());
    EXPECT_FALSE(read["frames"].contains("APIC:"));
    Settings.EmbedCover = true;
}

} // namespace
