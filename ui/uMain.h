#pragma once

#include "metadata/Id3v2Tag.h"
#include "ripjob/VorbisFormats.h"

#include "cdaccess/CDRIP.h"
#include "ui/SkinLayout.h"
#include "ui/TitleSearch.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPoint>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TLameCoder;
class TMP3Info;
class TfrmMain;

// A picture on the skin: the background (Image1), a hover image or imgSelAll. Its
// mouse moves and presses go to the frame, which decides between dragging the window,
// showing a hover image and clicking.
class TSkinImage : public QLabel {
public:
    TSkinImage(TfrmMain* frame, int region, QWidget* parent);
    int Region() const { return FRegion; }
    std::function<void()> OnClick;

protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    TfrmMain* Frame;
    int FRegion; // a SkinLayout button index, SelAllRegion, or NoRegion (background)
};

// The select-all box: a tristate box whose user clicks only toggle between ticked
// and clear (a grey box becomes ticked).
class TSelAllCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override;
};

// A keyboard stop over one of the skin's buttons (WAV, MP3, Options): the artwork draws
// the button, this takes the focus by Tab, shows the button's hover picture and a
// dotted frame while it has it, and clicks on Space, Enter or Return. Mouse events pass
// through to the skin, which handles its buttons itself.
class TSkinKey : public QAbstractButton {
public:
    TSkinKey(TSkinImage* hover, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    TSkinImage* Hover;
};

// The main window: borderless and skinned, it lists the tracks of the disc in the
// chosen drive, starts extraction jobs, plays the disc, and owns the ripper, the
// encoder and the tag component for the whole run.
class TfrmMain : public QWidget {
public:
    // Hit-test answers: client area, or a caption that drags the window.
    static constexpr int HTCLIENT = 1;
    static constexpr int HTCAPTION = 2;

    // Creates the components (the ripper opens the library through Dll and selects
    // drive 0), the controls, and runs FormCreate.
    explicit TfrmMain(const TCdRipDll& Dll = CdRipDll(), QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- Components
    std::unique_ptr<TLameCoder> LameCoder1;
    std::unique_ptr<TMP3Info> MP3Info1;
    std::unique_ptr<TCDRIP> RIPPER;
    std::array<QIcon, 3> ImageList1; // 0 audio track, 1 data track, 2 now playing
    QTimer* Timer1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* InvertSelection1 = nullptr;
    QAction* RenameTrack1 = nullptr;
    QAction* CopyTrackInformationToClipboard1 = nullptr;
    QAction* ReadCDInformation1 = nullptr;
    QAction* SaveCDInformation1 = nullptr;
    QAction* ExtractTracksToWAVFiles1 = nullptr;
    QAction* ExtractTracksToMP3Files1 = nullptr;
    QAction* ExtractTracksToFLACFiles1 = nullptr;
    QAction* ExtractTracksToOpusFiles1 = nullptr;
    // The releases MusicBrainz lists for the disc, to take another (enabled with two
    // or more); filled when it opens.
    QMenu* ReleaseMenu = nullptr;

    // --- Controls
    TSkinImage* Image1 = nullptr;
    QComboBox* cboDrive = nullptr;
    QTreeWidget* ListView1 = nullptr;
    TSelAllCheckBox* chkSelAll = nullptr;
    TSkinImage* imgSelAll = nullptr;
    QLabel* lblStatus = nullptr;
    std::array<TSkinImage*, SkinLayout::ButtonCount> HoverImages{};
    // The keyboard stops over the WAV, MP3 and Options buttons, in this Tab order.
    TSkinKey* keyWave = nullptr;
    TSkinKey* keyMP3 = nullptr;
    TSkinKey* keyOptions = nullptr;
    TSkinImage* HoverImage(SkinLayout::ButtonId id) const { return HoverImages[std::size_t(id)]; }

    // --- State
    bool Playing = false;
    int CurrentTrack = -1;
    bool Paused = false;
    int RipPercent = 0;
    int ListView1Tag = 0; // the count latch: 1 = the count was shown, 0 = re-armed
    // The last job's summary is in the status line: the mouse crossing the list leaves
    // it there (a tick, a drive change or the next job replace it).
    bool SummaryShown = false;
    // How many rows were ticked when the count was last taken: a tick by mouse or key
    // that changes it shows the new count at once.
    int TickedRows = 0;
    // The status line says the disc was changed under the rows: a late title look-up
    // leaves it there (a tick, a drive change or the next job replace it).
    bool DiscNoticeShown = false;
    // Where each extraction job writes its JSON report, as velmora-rip --report does;
    // empty (the default): none.
    std::string ReportPath;

    // --- Track-list rows
    int RowCount() const { return ListView1->topLevelItemCount(); }
    QTreeWidgetItem* Row(int i) const { return ListView1->topLevelItem(i); }
    int ImageIndex(int row) const;
    void SetImageIndex(int row, int index);
    int SelectedRow() const;
    void SelectRow(int row);

    // --- Handlers of the window
    void FormCreate();
    void FormShow();
    void FormClose();
    void cboDriveClick();
    void ListView1MouseMove();
    void ListView1Click() {
        ListView1Tag = 0;
        SummaryShown = false;
    }
    void chkSelAllClick();
    // A row changed: when its tick changed the count, the status line shows the count.
    void ListView1ItemChanged();
    void imgSelAllClick();
    void SelectAll1Click();
    void InvertSelection1Click();
    void RenameTrack1Click();
    void CopyTrackInformationToClipboard1Click();
    void mnuReadCDiniClick();
    void SaveCDInformation1Click();
    void ExtractTracksToWAVFiles1Click() { ExtractTracks(true); }
    void ExtractTracksToMP3Files1Click() { ExtractTracks(false); }
    // Beside the WAV and MP3 buttons: the list's context menu and Ctrl+F, Ctrl+P.
    void ExtractTracksToFLACFiles1Click() { ExtractTracks(false, VorbisKind::Flac); }
    void ExtractTracksToOpusFiles1Click() { ExtractTracks(false, VorbisKind::Opus); }
    void Options1Click();
    void HelpWith1Click();
    void Exit1Click() { close(); }
    void RIPPERProgress(TCDRIP* Sender, uint16_t PercentComplete);
    void DisplayHint(const QString& hint);
    void HandleProc(const std::exception& e);
    void SetLameCoder();

    // --- Titles beyond cdplayer.ini: CD-TEXT at once, MusicBrainz in the background
    void FindTitles();
    // Writes the ID3v2 tag of the MP3 file of track-list row `row` (the extraction job
    // calls it after the ID3v1 title tag): the row's title and what the sources found.
    void TagMp3(const std::string& file, int row);
    // The tag fields of row `row` (its title as the row shows it); empty for no row.
    Metadata::TagFields RowTags(int row) const;
    // True when row `row` shows the title CD-TEXT or MusicBrainz gave (not one the user
    // typed or cdplayer.ini holds): a "/" in it is part of the file's name.
    bool TitleFromOutside(int row) const;
    // "Titles from ..." naming every source whose titles rows show now (cdplayer.ini,
    // CD-TEXT, MusicBrainz with its release), in that order; empty when every row shows
    // the track's own name or a title the user typed.
    QString TitleSourceLine() const;

    // --- Playback panel
    void btnPlayClick();
    void imgPauseClick();
    void btnStopClick();
    void btnForwardClick();
    void btnBackwardClick();
    void btnEjectClick();
    void Timer1Timer();

    // --- Skinned frame
    int WMNCHitTest(const QPoint& client);
    void Image1MouseMove(const QPoint& client);
    void HideHoverImages();
    void imgMinClick() { showMinimized(); }
    void HomePage1Click();
    int VisibleHoverCount() const;

    // Mouse events of the skin's pictures, in client coordinates.
    void SkinMouseMove(TSkinImage* source, const QPoint& client, Qt::MouseButtons buttons);
    void SkinMousePress(TSkinImage* source, const QPoint& client);
    void SkinMouseRelease(TSkinImage* source, const QPoint& client);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    void CreateComponents(const TCdRipDll& Dll);
    void CreateControls();
    void CreateSkinImages();
    void CreateListView();
    void CreatePopupMenu();
    QAction* AddMenuItem(const QString& caption, const QString& hint, void (TfrmMain::*handler)());
    void AddTrackRow(int i);
    void ListDrives();
    void AddDriveItem(const QString& name);
    void SetStatus(const QString& text) { lblStatus->setText(text); }
    void ExtractTracks(bool toWave, std::optional<VorbisKind> vorbis = std::nullopt);
    // Whether the disc in the drive is still the one the rows show (a disc taken out and
    // put back again, of the same table of contents, is). When it is not, titles typed
    // into the rows are saved in the old disc's section of cdplayer.ini, the rows become
    // those of the disc in the drive (none without one), and the status line says so and
    // that nothing was `notDone` ("ripped", "played").
    bool DiscStillShown(const QString& notDone);
    // Saves the titles typed into the rows in section `key` of cdplayer.ini; see
    // DiscStillShown. `names` are the tracks' own names. True when something was saved.
    bool KeepTypedTitles(const std::string& key, const std::vector<std::string>& names);
    void RefreshRowIcons();
    void PlayNextAfterFinishedTrack();
    void StartManualMove(const QPoint& client);

    TSkinImage* PressedImage = nullptr;
    bool ManualMove = false;
    QPoint MoveOffset;

    int FillTitles(const Metadata::DiscTitles& found, Metadata::TitleSource source);
    // Row i's title as a source put it there; a row whose text differs now was renamed.
    struct RowTitle {
        Metadata::TitleSource Source = Metadata::TitleSource::TrackName;
        QString Title;
    };
    std::vector<RowTitle> RowTitles;
    void SetRowTitle(int row, Metadata::TitleSource source, const QString& title);
    // Shows TitleSourceLine() when it names a source; returns whether it did.
    bool ShowTitleSource();
    void ShowLookup(const Metadata::DiscTitles& found, const Metadata::LookupResult& result);
    void FillReleaseMenu();
    // Takes release `index` of Found().Releases; rows that show the titles of the
    // release taken before get those of this one.
    void TakeRelease(std::size_t index);

public:
    // Last member: it goes first, waiting for a look-up still running.
    std::unique_ptr<TTitleSearch> TitleSearch = std::make_unique<TTitleSearch>(this);
};

// The main window of the program, created by main().
extern TfrmMain* frmMain;

// A file of the program's data (artwork, help) beside the program in the build tree
// or in the installed data folder; the first candidate when neither exists.
QString ProgramDataFile(const QString& relative);
