#include "ui/uMain.h"

#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"
#include "metadata/Id3v2Tag.h"
#include "platform/AppInfo.h"
#include "platform/ProfileIni.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/JpegImage.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStatusTipEvent>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QWindow>

#if __has_include("ui/Options.h")
#include "ui/Options.h"
#define VELMORA_HAVE_OPTIONS 1
#endif
#if __has_include("ui/uprg.h")
#include "ui/uprg.h"
#define VELMORA_HAVE_PROGRESS 1
#endif

TfrmMain* frmMain = nullptr;

namespace {

QString AppTitle() {
    return QString::fromUtf8(AppInfo::Title.data(), AppInfo::Title.size());
}
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int ImageRole = Qt::UserRole + 1; // the row's image index

// Only the title column is edited in place; the other columns are the disc's facts.
class TTitleEditDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != 0)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
};

QPixmap SkinPicture(const QString& name, QSize fallbackSize) {
    const QImage image = LoadJpeg(ProgramDataFile(QStringLiteral("skin/") + name));
    if (!image.isNull())
        return QPixmap::fromImage(image);
    // Without the artwork the window still works, on a plain dark ground.
    QPixmap plain(fallbackSize);
    plain.fill(QColor(0x1c, 0x24, 0x35));
    return plain;
}

QIcon RowIcon(const QString& name) {
    return QIcon(QPixmap(ProgramDataFile(QStringLiteral("skin/") + name)));
}

// The list and drive box in the skin's colours.
const char* const ControlStyle = R"(
QTreeWidget { background: #121824; alternate-background-color: #161d2b; color: #d6dfec;
    border: none; selection-background-color: #2b6cd0; selection-color: white; outline: 0; }
QTreeWidget::item { height: 20px; }
QHeaderView::section { background: #27314a; color: #aebad0; border: none;
    border-right: 1px solid #1a2130; border-bottom: 1px solid #3c4a66; padding: 2px 6px; }
QComboBox { background: #121824; color: #d6dfec; border: 1px solid #3c4a66;
    border-radius: 3px; padding: 1px 6px; }
QComboBox:hover, QComboBox:focus { border: 1px solid #6fa8ff; background: #18213a; }
QTreeWidget::item:focus { border-top: 1px solid #6fa8ff; border-bottom: 1px solid #6fa8ff; }
QCheckBox::indicator:focus { border: 1px solid #6fa8ff; width: 11px; height: 11px; }
QMenu { background: #1c2435; color: #d6dfec; border: 1px solid #3c4a66; padding: 2px; }
QMenu::item { padding: 3px 20px 3px 20px; }
QMenu::item:selected { background: #2b6cd0; color: white; }
QMenu::separator { height: 1px; background: #3c4a66; margin: 3px 6px; }
QComboBox QAbstractItemView { background: #121824; color: #d6dfec;
    selection-background-color: #2b6cd0; }
QCheckBox { background: transparent; }
QScrollBar:vertical { background: #121824; width: 12px; margin: 0; }
QScrollBar::handle:vertical { background: #3c4a66; border-radius: 4px; min-height: 24px;
    margin: 2px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0; }
QTreeView::indicator, QCheckBox::indicator { width: 13px; height: 13px; }
QTreeView::indicator:unchecked, QCheckBox::indicator:unchecked { image: url(%1/check_off.png); }
QTreeView::indicator:checked, QCheckBox::indicator:checked { image: url(%1/check_on.png); }
QTreeView::indicator:indeterminate, QCheckBox::indicator:indeterminate {
    image: url(%1/check_grey.png); }
)";

} // namespace

QString ProgramDataFile(const QString& relative) {
    const QString dir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        dir + QLatin1Char('/') + relative,
        dir + QStringLiteral("/../share/") + Q(std::string(AppInfo::ProgramName)) +
            QLatin1Char('/') + relative,
    };
    for (const QString& path : candidates)
        if (QFileInfo::exists(path))
            return QFileInfo(path).absoluteFilePath();
    return candidates.front();
}

// ---------------------------------------------------------------- skin pictures

TSkinImage::TSkinImage(TfrmMain* frame, int region, QWidget* parent)
    : QLabel(parent), Frame(frame), FRegion(region) {
    setMouseTracking(true);
    if (region != SkinLayout::NoRegion)
        setCursor(Qt::PointingHandCursor);
}

void TSkinImage::mouseMoveEvent(QMouseEvent* e) {
    Frame->SkinMouseMove(this, mapTo(Frame, e->position().toPoint()), e->buttons());
}

void TSkinImage::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        Frame->SkinMousePress(this, mapTo(Frame, e->position().toPoint()));
}

void TSkinImage::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        Frame->SkinMouseRelease(this, mapTo(Frame, e->position().toPoint()));
}

void TSelAllCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

TSkinKey::TSkinKey(TSkinImage* hover, QWidget* parent) : QAbstractButton(parent), Hover(hover) {
    setObjectName(hover->objectName() + QStringLiteral("Key"));
    setGeometry(hover->geometry());
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStatusTip(hover->statusTip());
    setAccessibleName(hover->statusTip());
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (Hover->OnClick)
            Guarded(Hover->OnClick);
    });
}

void TSkinKey::paintEvent(QPaintEvent*) {
    if (!hasFocus())
        return; // the artwork below is the button
    QPainter painter(this);
    painter.setPen(QPen(QColor(0x6f, 0xa8, 0xff), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}

void TSkinKey::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(e); // Space clicks on its release
}

void TSkinKey::focusInEvent(QFocusEvent* e) {
    QAbstractButton::focusInEvent(e);
    Hover->show();
    raise();
}

void TSkinKey::focusOutEvent(QFocusEvent* e) {
    QAbstractButton::focusOutEvent(e);
    Hover->hide();
}

// ---------------------------------------------------------------- construction

TfrmMain::TfrmMain(const TCdRipDll& Dll, QWidget* parent) : QWidget(parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Velmora CD Ripper"));
    setFixedSize(SkinLayout::Width, SkinLayout::Height);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(12);
    setFont(f);
    CreateComponents(Dll);
    CreateControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    try {
        FormCreate();
    } catch (const std::exception& e) {
        HandleProc(e);
    }
}

TfrmMain::~TfrmMain() {
    TVelmoraApplication::OnException = nullptr;
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::CreateComponents(const TCdRipDll& Dll) {
    LameCoder1 = std::make_unique<TLameCoder>();
    LameCoder1->SetDefaultExt(".mp3");
    MP3Info1 = std::make_unique<TMP3Info>();
    MP3Info1->SetGenreID(12);
    RIPPER = std::make_unique<TCDRIP>(Dll);
    RIPPER->SetCoder(LameCoder1.get());
    RIPPER->SetCDRomNum(0);
    RIPPER->DriveTable = {TDriveType::GENERIC,
                          TReadMethod::READMMC,
                          TSetSpeed::SPEEDNONE,
                          TEndian::BIGENDIAN,
                          TEnableMode::ENABLENONE,
                          16777216,
                          CRTrue};
    RIPPER->WriteWAV = true;
    RIPPER->OnProgress = [this](TCDRIP* sender, uint16_t percent) {
        RIPPERProgress(sender, percent);
    };
    RIPPER->Version = "115";
    RIPPER->Speed = 32;
    RIPPER->ProcessMessages = [] { QCoreApplication::processEvents(); };
    ImageList1 = {RowIcon(QStringLiteral("row_audio.png")), RowIcon(QStringLiteral("row_data.png")),
                  RowIcon(QStringLiteral("row_playing.png"))};
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
    Timer1->start();
    CreatePopupMenu();
}

void TfrmMain::CreatePopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->installEventFilter(this);
    SelectAll1 = AddMenuItem(QStringLiteral("Select &All"), QStringLiteral("Select all tracks"),
                             &TfrmMain::SelectAll1Click);
    InvertSelection1 =
        AddMenuItem(QStringLiteral("&Invert Selection"), QStringLiteral("Reverse the selection"),
                    &TfrmMain::InvertSelection1Click);
    PopupMenu1->addSeparator();
    RenameTrack1 =
        AddMenuItem(QStringLiteral("&Rename Track"), QStringLiteral("Rename selected track"),
                    &TfrmMain::RenameTrack1Click);
    CopyTrackInformationToClipboard1 =
        AddMenuItem(QStringLiteral("C&opy Track Information To Clipboard"),
                    QStringLiteral("Copy track information to clipboard"),
                    &TfrmMain::CopyTrackInformationToClipboard1Click);
    PopupMenu1->addSeparator();
    ReadCDInformation1 = AddMenuItem(QStringLiteral("&Read CD Information"),
                                     QStringLiteral("Get alubm information from CDPlayer.ini file"),
                                     &TfrmMain::mnuReadCDiniClick);
    SaveCDInformation1 = AddMenuItem(QStringLiteral("&Save CD Information"),
                                     QStringLiteral("Save alubm information to CDPlayer.ini file"),
                                     &TfrmMain::SaveCDInformation1Click);
    ReleaseMenu = PopupMenu1->addMenu(QStringLiteral("MusicBrainz &Release"));
    ReleaseMenu->menuAction()->setStatusTip(
        QStringLiteral("Take another of the releases MusicBrainz lists for this disc"));
    ReleaseMenu->setEnabled(false);
    connect(ReleaseMenu, &QMenu::aboutToShow, this, [this] { FillReleaseMenu(); });
    // The WAV and MP3 buttons' jobs, and FLAC and Opus beside them (the skin keeps its
    // two buttons as they are).
    PopupMenu1->addSeparator();
    ExtractTracksToWAVFiles1 =
        AddMenuItem(QStringLiteral("Extract To &WAV Files"),
                    QStringLiteral("Extract selected track(s) to WAV file(s)"),
                    &TfrmMain::ExtractTracksToWAVFiles1Click);
    ExtractTracksToMP3Files1 =
        AddMenuItem(QStringLiteral("Extract To &MP3 Files"),
                    QStringLiteral("Extract selected track(s) to MP3 file(s)"),
                    &TfrmMain::ExtractTracksToMP3Files1Click);
    ExtractTracksToFLACFiles1 =
        AddMenuItem(QStringLiteral("Extract To &FLAC Files"),
                    QStringLiteral("Extract selected track(s) to FLAC file(s)"),
                    &TfrmMain::ExtractTracksToFLACFiles1Click);
    ExtractTracksToOpusFiles1 =
        AddMenuItem(QStringLiteral("Extract To O&pus Files"),
                    QStringLiteral("Extract selected track(s) to Opus file(s)"),
                    &TfrmMain::ExtractTracksToOpusFiles1Click);
    for (auto [action, key] : {std::pair{ExtractTracksToFLACFiles1, Qt::Key_F},
                               std::pair{ExtractTracksToOpusFiles1, Qt::Key_P}}) {
        action->setShortcut(QKeySequence(Qt::CTRL | key));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action); // the shortcut works with the menu closed
    }
}

QAction* TfrmMain::AddMenuItem(const QString& caption, const QString& hint,
                               void (TfrmMain::*handler)()) {
    QAction* action = PopupMenu1->addAction(caption);
    action->setStatusTip(hint);
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    return action;
}

void TfrmMain::CreateControls() {
    CreateSkinImages();
    cboDrive = new QComboBox(this);
    cboDrive->setEditable(false);
    cboDrive->setGeometry(135, 118, 217, 22);
    connect(cboDrive, &QComboBox::activated, this,
            [this](int) { Guarded([this] { cboDriveClick(); }); });
    connect(cboDrive, &QComboBox::currentIndexChanged, this, [this](int index) {
        cboDrive->setToolTip(cboDrive->itemData(index, Qt::ToolTipRole).toString());
    });
    CreateListView();
    chkSelAll = new TSelAllCheckBox(this);
    chkSelAll->setTristate(true);
    chkSelAll->setGeometry(544, 123, 12, 13);
    chkSelAll->setStatusTip(QStringLiteral("Select or Unselect all tracks"));
    connect(chkSelAll, &QCheckBox::stateChanged, this,
            [this](int) { Guarded([this] { chkSelAllClick(); }); });
    lblStatus = new QLabel(QString(10, QLatin1Char(' ')), this);
    lblStatus->setGeometry(20, 72, 520, 16);
    lblStatus->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblStatus->setStyleSheet(QStringLiteral("color: navy; background: transparent;"));
    const QString skin = QFileInfo(ProgramDataFile(QStringLiteral("skin/check_on.png"))).path();
    setStyleSheet(QString::fromLatin1(ControlStyle).arg(skin));
    // Keyboard stops over the skin's job buttons, above their hover pictures.
    keyWave = new TSkinKey(HoverImage(SkinLayout::ToWave), this);
    keyMP3 = new TSkinKey(HoverImage(SkinLayout::ToMP3), this);
    keyOptions = new TSkinKey(HoverImage(SkinLayout::Options), this);
    setTabOrder(ListView1, cboDrive);
    setTabOrder(cboDrive, chkSelAll);
    setTabOrder(chkSelAll, keyWave);
    setTabOrder(keyWave, keyMP3);
    setTabOrder(keyMP3, keyOptions);
}

void TfrmMain::CreateSkinImages() {
    Image1 = new TSkinImage(this, SkinLayout::NoRegion, this);
    Image1->setGeometry(0, 0, SkinLayout::Width, SkinLayout::Height);
    Image1->setPixmap(SkinPicture(QStringLiteral("background.jpg"), size()));
    const std::array<std::function<void()>, SkinLayout::ButtonCount> clicks = {
        [this] { ExtractTracksToWAVFiles1Click(); },
        [this] { ExtractTracksToMP3Files1Click(); },
        [this] { Options1Click(); },
        [this] { HelpWith1Click(); },
        [this] { Exit1Click(); },
        [this] { HomePage1Click(); },
        [this] { imgMinClick(); },
        [this] { Exit1Click(); },
        [this] { btnBackwardClick(); },
        [this] { btnPlayClick(); },
        [this] { imgPauseClick(); },
        [this] { btnStopClick(); },
        [this] { btnForwardClick(); },
        [this] { btnEjectClick(); }};
    for (int i = 0; i < SkinLayout::ButtonCount; ++i) {
        const SkinLayout::Button& b = SkinLayout::Buttons[std::size_t(i)];
        auto* image = new TSkinImage(this, i, this);
        image->setObjectName(QLatin1String(b.name));
        image->setGeometry(b.left, b.top, b.width, b.height);
        image->setPixmap(
            SkinPicture(QLatin1String(b.name) + QStringLiteral(".jpg"), QSize(b.width, b.height)));
        image->setStatusTip(QString::fromUtf8(b.hint));
        image->OnClick = clicks[std::size_t(i)];
        image->hide();
        HoverImages[std::size_t(i)] = image;
    }
    imgSelAll = new TSkinImage(this, SkinLayout::SelAllRegion, this);
    imgSelAll->setObjectName(QStringLiteral("imgSelAll"));
    imgSelAll->setGeometry(SkinLayout::SelAllLeft, SkinLayout::SelAllTop, SkinLayout::SelAllWidth,
                           SkinLayout::SelAllHeight);
    imgSelAll->setPixmap(SkinPicture(QStringLiteral("imgSelAll.jpg"), imgSelAll->size()));
    imgSelAll->setStatusTip(QStringLiteral("Select or Unselect all tracks"));
    imgSelAll->OnClick = [this] { imgSelAllClick(); };
}

void TfrmMain::CreateListView() {
    ListView1 = new QTreeWidget(this);
    ListView1->setGeometry(134, 145, 478, 277);
    ListView1->setColumnCount(5);
    ListView1->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("No."),
                                QStringLiteral("Duration"), QStringLiteral("Status"), QString()});
    const int widths[] = {200, 50, 100, 100};
    for (int c = 0; c < 4; ++c)
        ListView1->setColumnWidth(c, widths[c]);
    ListView1->setColumnHidden(4, true); // the row index, for the extraction job
    ListView1->header()->setStretchLastSection(true);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAlternatingRowColors(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAllColumnsShowFocus(true); // the focus marks the row, not the title cell
    ListView1->setEditTriggers(QAbstractItemView::SelectedClicked |
                               QAbstractItemView::EditKeyPressed);
    ListView1->setItemDelegate(new TTitleEditDelegate(ListView1));
    ListView1->setIconSize(QSize(16, 16));
    ListView1->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QTreeWidget::itemChanged, this,
            [this] { Guarded([this] { ListView1ItemChanged(); }); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos));
    });
}

// ---------------------------------------------------------------- rows

int TfrmMain::ImageIndex(int row) const {
    return Row(row)->data(0, ImageRole).toInt();
}

void TfrmMain::SetImageIndex(int row, int index) {
    QTreeWidgetItem* item = Row(row);
    item->setData(0, ImageRole, index);
    item->setIcon(0, ImageList1[std::size_t(index)]);
}

int TfrmMain::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.front());
}

void TfrmMain::SelectRow(int row) {
    QTreeWidgetItem* item = Row(row);
    ListView1->setCurrentItem(item);
    item->setSelected(true);
}

void TfrmMain::AddTrackRow(int i) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, Q(RIPPER->Tracks.Strings(i)));
    item->setText(1, Q(TwoDigits(i + 1)));
    item->setText(2, Q(RIPPER->GetTrackTime(i)));
    item->setText(3, QStringLiteral("--"));
    item->setText(4, QString::number(i));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    item->setCheckState(0, Qt::Unchecked);
    ListView1->addTopLevelItem(item);
    SetImageIndex(i, 0);
    if (!RIPPER->IsAudioTrack(i))
        SetImageIndex(i, 1);
}

// ---------------------------------------------------------------- start-up and close

void TfrmMain::FormCreate() {
    TVelmoraApplication::OnException = [this](const std::exception& e) { HandleProc(e); };
    try {
        LoadSettings();
    } catch (const ESettingsReadError& e) {
        // Told once in the error report; the window goes on with the defaults.
        SetDefaultSettingsKeepConfirm();
        HandleProc(e);
    }
    try {
        ListDrives();
        if (cboDrive->count() > 0)
            cboDrive->setCurrentIndex(0);
        cboDriveClick();
        SetLameCoder();
        Playing = false;
        CurrentTrack = -1;
        Paused = false;
    } catch (...) {
        // A drive that fails while the list is built leaves the window without it.
    }
}

void TfrmMain::ListDrives() {
    const int32_t drives = RIPPER->GetNumCDROM();
    for (int32_t i = 0; i < drives; ++i) {
        RIPPER->SetCDRomNum(i);
        AddDriveItem(Q(RIPPER->CDRomIDText()));
    }
}

namespace {

// A drive's name ends in what tells drives apart: an image's file name or a device.
// A name too long for the room loses the middle of its path, never that end.
QString ElideDriveName(const QString& name, const QFontMetrics& metrics, int room) {
    if (metrics.horizontalAdvance(name) <= room)
        return name;
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const QString tail = slash < 0 ? QString() : name.mid(slash);
    const int headRoom = room - metrics.horizontalAdvance(tail);
    if (slash < 0 || headRoom < 4 * metrics.averageCharWidth())
        return metrics.elidedText(name, Qt::ElideMiddle, room);
    return metrics.elidedText(name.left(slash), Qt::ElideRight, headRoom) + tail;
}

} // namespace

// The whole name is the entry's tooltip, and the box's while the entry is chosen.
void TfrmMain::AddDriveItem(const QString& name) {
    QStyleOptionComboBox option;
    option.initFrom(cboDrive);
    const int room =
        cboDrive->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, cboDrive)
            .width();
    cboDrive->addItem(ElideDriveName(name, cboDrive->fontMetrics(), room));
    cboDrive->setItemData(cboDrive->count() - 1, name, Qt::ToolTipRole);
    if (cboDrive->currentIndex() == cboDrive->count() - 1)
        cboDrive->setToolTip(name);
}

void TfrmMain::FormShow() {
    HideHoverImages();
}

void TfrmMain::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    FormShow();
}

void TfrmMain::FormClose() {
    try {
        if (RIPPER->IsPlaying())
            RIPPER->StopPlay();
        SaveSettings();
    } catch (...) {
        // Closing is never refused.
    }
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    FormClose();
    e->accept();
}

// ---------------------------------------------------------------- drive and rows

void TfrmMain::cboDriveClick() {
    DiscNoticeShown = false;
    if (RIPPER->IsPlaying())
        RIPPER->StopPlay();
    CurrentTrack = -1;
    Playing = false;
    ListView1->clear();
    RIPPER->SetCDRomNum(cboDrive->currentIndex());
    for (int i = 0; i < RIPPER->Tracks.Count(); ++i)
        AddTrackRow(i);
    // The box's tooltip names the whole drive; without a readable disc it says why too.
    const QString name = cboDrive->itemData(cboDrive->currentIndex(), Qt::ToolTipRole).toString();
    const QString why = RIPPER->Tracks.Count() == 0 ? Q(RIPPER->DriveStatusText()) : QString();
    cboDrive->setToolTip(why.isEmpty() ? name : name.isEmpty() ? why : name + "\n" + why);
    TickedRows = 0;
    RowTitles.assign(std::size_t(RowCount()), {});
    for (int i = 0; i < RowCount(); ++i)
        RowTitles[std::size_t(i)].Title = Row(i)->text(0);
    SetStatus(QStringLiteral("No Tracks Selected."));
    SummaryShown = false;
    chkSelAll->setCheckState(Qt::Unchecked);
    mnuReadCDiniClick();
    FindTitles();
}

void TfrmMain::ListView1ItemChanged() {
    int ticked = 0;
    for (int i = 0; i < RowCount(); ++i)
        ticked += Row(i)->checkState(0) == Qt::Checked ? 1 : 0;
    if (ticked == TickedRows)
        return; // a title or the status column changed, not a tick
    TickedRows = ticked;
    SummaryShown = false;
    DiscNoticeShown = false;
    SetStatus(ticked == 0 ? QStringLiteral("No Tracks Selected")
                          : QString::number(ticked) + QStringLiteral(" Tracks Selected"));
}

void TfrmMain::chkSelAllClick() {
    const Qt::CheckState state = chkSelAll->checkState();
    if (state == Qt::PartiallyChecked)
        return;
    for (int i = 0; i < RowCount(); ++i)
        Row(i)->setCheckState(0, state);
    if (state == Qt::Checked)
        SetStatus(QString::number(RowCount()) + QStringLiteral(" Tracks Selected"));
    else
        SetStatus(QStringLiteral("No Tracks Selected"));
}

void TfrmMain::imgSelAllClick() {
    chkSelAll->setCheckState(chkSelAll->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    chkSelAllClick();
}

void TfrmMain::SelectAll1Click() {
    for (int i = 0; i < RowCount(); ++i)
        Row(i)->setCheckState(0, Qt::Checked);
    chkSelAll->setCheckState(Qt::Checked);
}

void TfrmMain::InvertSelection1Click() {
    bool anyTicked = false;
    for (int i = 0; i < RowCount(); ++i) {
        const bool tick = Row(i)->checkState(0) != Qt::Checked;
        Row(i)->setCheckState(0, tick ? Qt::Checked : Qt::Unchecked);
        anyTicked = anyTicked || tick;
    }
    if (!anyTicked)
        chkSelAll->setCheckState(Qt::Unchecked);
}

void TfrmMain::ListView1MouseMove() {
    if (ListView1Tag != 0 || SummaryShown)
        return;
    int ticked = 0;
    for (int i = 0; i < RowCount(); ++i)
        ticked += Row(i)->checkState(0) == Qt::Checked ? 1 : 0;
    if (ticked == 0)
        SetStatus(QStringLiteral("No Tracks Selected"));
    else
        SetStatus(QString::number(ticked) + QStringLiteral(" Tracks Selected"));
    if (ticked > 0 && ticked < RowCount())
        chkSelAll->setCheckState(Qt::PartiallyChecked);
    ListView1Tag = 1;
}

void TfrmMain::RenameTrack1Click() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    ListView1->setFocus();
    ListView1->editItem(Row(row), 0);
}

void TfrmMain::CopyTrackInformationToClipboard1Click() {
    try {
        QString text;
        for (int i = 0; i < RowCount(); ++i) {
            const QTreeWidgetItem* row = Row(i);
            text += QStringLiteral("\r\n") + row->text(1) + QLatin1Char('\t') + row->text(0) +
                    QLatin1Char('\t') + row->text(2);
        }
        QApplication::clipboard()->setText(text);
        AppMessages::Show(
            this, QMessageBox::Information, AppTitle(),
            QStringLiteral("Successfully copy the Track Information to the Clipboard!"));
    } catch (...) {
        // A clipboard that can't be written is not worth a message.
    }
}

void TfrmMain::mnuReadCDiniClick() {
    if (cboDrive->currentIndex() < 0)
        return;
    std::string artist, album, year, genre;
    std::vector<std::string> titles;
    if (!ReadCDInfo(RIPPER->GetDiscID(), artist, album, year, genre, titles))
        return;
    const int n = std::min(static_cast<int>(titles.size()), RowCount());
    for (int i = 0; i < n; ++i)
        SetRowTitle(i, Metadata::TitleSource::CdPlayerIni, Q(titles[std::size_t(i)]));
    ShowTitleSource();
}

namespace {

// The album facts of a disc's section of cdplayer.ini, exactly as stored; empty where the
// file or the section does not hold them, or the file cannot be read.
void ReadAlbumFacts(const std::string& key, std::string& artist, std::string& album,
                    std::string& year, std::string& genre) {
    try {
        const std::string file = CDInfoFilePath();
        artist = ProfileIni::readString(file, key, "artist", "");
        album = ProfileIni::readString(file, key, "album", "");
        year = ProfileIni::readString(file, key, "year", "");
        genre = ProfileIni::readString(file, key, "genre", "");
    } catch (...) {
        artist.clear();
        album.clear();
        year.clear();
        genre.clear();
    }
}

} // namespace

void TfrmMain::SaveCDInformation1Click() {
    if (cboDrive->currentIndex() < 0)
        return;
    std::vector<std::string> titles;
    for (int i = 0; i < RowCount(); ++i)
        titles.push_back(Row(i)->text(0).toStdString());
    // The window has no album fields of its own: keep what the disc's section holds,
    // exactly as stored (the reader's stand-ins for missing values stay out of the file).
    const std::string key = RIPPER->GetDiscID();
    std::string artist, album, year, genre;
    // An unreadable file: the save writes the album facts empty.
    ReadAlbumFacts(key, artist, album, year, genre);
    // What CD-TEXT or MusicBrainz found fills what the section lacks.
    const Metadata::DiscTitles& found = TitleSearch->Found();
    for (auto [stored, other] : {std::pair{&artist, &found.Artist}, std::pair{&album, &found.Album},
                                 std::pair{&year, &found.Year}})
        if (stored->empty())
            *stored = *other;
    WriteCDInfo(key, artist, album, year, genre, &titles);
    // The release taken (by the user or by the disc's evidence) is kept with the titles.
    if (!found.ReleaseId.empty()) {
        try {
            ProfileIni::writeString(CDInfoFilePath(), key, Metadata::SavedReleaseKey,
                                    found.ReleaseId);
        } catch (...) {
            // WriteCDInfo met the same file: its failure is the one that counts.
        }
    }
}

// ---------------------------------------------------------------- commands

namespace {

bool SameTracks(const DiscTracks& a, const DiscTracks& b) {
    if (a.Count() != b.Count() || a.LeadOut != b.LeadOut)
        return false;
    for (int i = 0; i < a.Count(); ++i) {
        const DiscTrack& x = a.Tracks[std::size_t(i)];
        const DiscTrack& y = b.Tracks[std::size_t(i)];
        if (x.Kind != y.Kind || x.FirstSector != y.FirstSector || x.LastSector != y.LastSector ||
            x.LastAudio != y.LastAudio || x.LastBeforeGap != y.LastBeforeGap)
            return false;
    }
    return true;
}

} // namespace

bool TfrmMain::DiscStillShown(const QString& notDone) {
    if (RowCount() == 0 || !RIPPER->DiscChanged())
        return true;
    // What the rows show, before the drive is read again.
    const DiscTracks shown = RIPPER->Disc;
    const std::string key = RIPPER->GetDiscID();
    std::vector<std::string> names;
    for (int i = 0; i < RIPPER->Tracks.Count(); ++i)
        names.push_back(RIPPER->Tracks.Strings(i));
    RIPPER->SetCDRomNum(cboDrive->currentIndex());
    if (RIPPER->Tracks.Count() > 0 && SameTracks(RIPPER->Disc, shown))
        return true; // the same disc again: the rows, ticks and typed titles stay
    const bool kept = KeepTypedTitles(key, names);
    cboDriveClick();
    QString text =
        RowCount() > 0
            ? QStringLiteral("Another disc is in the drive: nothing was %1. "
                             "Its tracks are listed now.")
                  .arg(notDone)
            : QStringLiteral("The disc is no longer in the drive: nothing was %1.").arg(notDone);
    if (kept)
        text += QStringLiteral(" Your titles are saved.");
    SetStatus(text);
    SummaryShown = true;
    DiscNoticeShown = true;
    return false;
}

bool TfrmMain::KeepTypedTitles(const std::string& key, const std::vector<std::string>& names) {
    bool typed = false;
    std::vector<std::string> titles;
    for (int i = 0; i < RowCount(); ++i) {
        const QString shown = Row(i)->text(0);
        const RowTitle given =
            std::size_t(i) < RowTitles.size() ? RowTitles[std::size_t(i)] : RowTitle{};
        const std::string own = std::size_t(i) < names.size() ? names[std::size_t(i)] : "";
        if (shown != given.Title && shown.trimmed() != Q(own)) {
            typed = true;
            titles.push_back(shown.toStdString());
        } else if (given.Source == Metadata::TitleSource::CdPlayerIni) {
            titles.push_back(given.Title.toStdString()); // as the section holds it
        } else {
            // A title CD-TEXT or MusicBrainz gave is written only when the user saves.
            titles.push_back(own);
        }
    }
    if (!typed)
        return false;
    std::string artist, album, year, genre;
    // An unreadable file: the titles are still worth the try.
    ReadAlbumFacts(key, artist, album, year, genre);
    return WriteCDInfo(key, artist, album, year, genre, &titles);
}

void TfrmMain::ExtractTracks(bool toWave, std::optional<VorbisKind> vorbis) {
    int ticked = 0;
    for (int i = 0; i < RowCount(); ++i) {
        if (!RIPPER->IsAudioTrack(i))
            Row(i)->setCheckState(0, Qt::Unchecked);
        ticked += Row(i)->checkState(0) == Qt::Checked ? 1 : 0;
    }
    if (ticked == 0) {
        AppMessages::Show(this, QMessageBox::Warning, AppTitle(),
                          QStringLiteral("No Audio Track Selected!"));
        return;
    }
    // The job reads the disc in the drive under the rows' titles: only the disc they show.
    if (!DiscStillShown(QStringLiteral("ripped")))
        return;
    SummaryShown = false;
    DiscNoticeShown = false;
    // The tick stays off while the job runs, and comes back however the dialog ends.
    Timer1->stop();
    struct TimerBack {
        QTimer* timer;
        ~TimerBack() { timer->start(); }
    } back{Timer1};
#ifdef VELMORA_HAVE_PROGRESS
    TJobTargets targets;
    targets.RIPPER = RIPPER.get();
    targets.MP3Info1 = MP3Info1.get();
    targets.ListView1 = ListView1;
    targets.RipPercent = &RipPercent;
    targets.HandleProc = [this](const std::exception& e) { HandleProc(e); };
    targets.ShellOpen = [](const QUrl& url) { AppMessages::ShellOpen(url); };
    targets.ShowSummary = [this](const QString& summary) {
        SetStatus(summary);
        SummaryShown = true;
    };
    targets.TrackFields = [this](int row) { return RowTags(row); };
    targets.TitleFromOutside = [this](int row) { return TitleFromOutside(row); };
    targets.Artist = TitleSearch->Found().Artist;
    targets.Album = TitleSearch->Found().Album;
    targets.ReportPath = ReportPath;
    targets.Cover = TitleSearch->Found().Cover;
    targets.CoverNote = TitleSearch->CoverMessage();
    Tfrmprg dialog(std::move(targets));
    dialog.ToWave = toWave;
    dialog.Vorbis = vorbis;
    dialog.exec();
#else
    AppMessages::Show(this, QMessageBox::Information, AppTitle(),
                      toWave ? QStringLiteral("Extraction to WAV files is not available yet.")
                             : QStringLiteral("Extraction to MP3 files is not available yet."));
#endif
}

void TfrmMain::Options1Click() {
#ifdef VELMORA_HAVE_OPTIONS
    TfrmOptions dialog(nullptr);
    if (dialog.exec() == 1)
        SetLameCoder();
#else
    AppMessages::Show(this, QMessageBox::Information, AppTitle(),
                      QStringLiteral("The options dialog is not available yet."));
#endif
}

void TfrmMain::HelpWith1Click() {
    try {
        const QString name = Q(std::string(AppInfo::ProgramName)) + QStringLiteral(".html");
        AppMessages::ShellOpen(QUrl::fromLocalFile(ProgramDataFile(name)));
    } catch (...) {
        // The help file is a courtesy; failing to open it is not reported.
    }
}

void TfrmMain::HomePage1Click() {
    AppMessages::ShellOpen(QUrl(Q(std::string(AppInfo::HomePage))));
}

void TfrmMain::RIPPERProgress(TCDRIP*, uint16_t PercentComplete) {
    RipPercent = PercentComplete;
}

void TfrmMain::SetLameCoder() {
    ApplyMP3Settings(Settings, *LameCoder1);
}

void TfrmMain::DisplayHint(const QString& hint) {
    const int bar = hint.indexOf(QLatin1Char('|'));
    SetStatus(bar < 0 ? hint : hint.mid(bar + 1));
}

void TfrmMain::HandleProc(const std::exception& e) {
    const QString text = QStringLiteral("We are sorry that a problem has encounted:\n"
                                        "Please tell me the Error to ") +
                         Q(std::string(AppInfo::SupportAddress)) + QStringLiteral(":\n\n") +
                         QString::fromUtf8(e.what()) + QStringLiteral("\n\nThank you.");
    AppMessages::Show(QApplication::activeWindow(), QMessageBox::Critical,
                      QStringLiteral("Error Report"), text);
}

// ---------------------------------------------------------------- playback panel

void TfrmMain::btnPlayClick() {
    if (RowCount() == 0 || !DiscStillShown(QStringLiteral("played")))
        return;
    const int s = SelectedRow();
    if (s < 0) {
        if (RIPPER->IsAudioTrack(0)) {
            SelectRow(0);
            RIPPER->PlayTrack(1);
            CurrentTrack = 0;
            Paused = false;
        }
    } else if (RIPPER->IsAudioTrack(s)) {
        RIPPER->PlayTrack(s + 1);
        CurrentTrack = s;
        Paused = false;
    }
    Playing = true;
}

void TfrmMain::imgPauseClick() {
    Paused = !Paused;
    RIPPER->PauseCD(Paused);
}

void TfrmMain::btnStopClick() {
    Playing = false;
    CurrentTrack = -1;
    RIPPER->StopPlay();
}

void TfrmMain::btnForwardClick() {
    const int s = SelectedRow();
    if (s < 0 || s >= RowCount() - 1)
        return;
    ListView1->clearSelection();
    SelectRow(s + 1);
    btnPlayClick();
}

void TfrmMain::btnBackwardClick() {
    const int s = SelectedRow();
    if (s <= 0)
        return;
    ListView1->clearSelection();
    SelectRow(s - 1);
    btnPlayClick();
}

void TfrmMain::btnEjectClick() {
    RIPPER->EjectCD(true);
    cboDriveClick();
}

void TfrmMain::RefreshRowIcons() {
    for (int i = 0; i < RowCount(); ++i) {
        const int image = ImageIndex(i);
        if (RIPPER->IsAudioTrack(i)) {
            if (image != 0 && i != CurrentTrack)
                SetImageIndex(i, 0);
            else if (image != 0 && image != 2)
                SetImageIndex(i, 2);
        } else if (image != 1) {
            SetImageIndex(i, 1);
        }
    }
}

void TfrmMain::Timer1Timer() {
    if (RIPPER->Tracks.Count() == 0)
        cboDriveClick();
    RefreshRowIcons();
    if (CurrentTrack < 0 || CurrentTrack >= RowCount())
        return;
    if (RIPPER->IsPlaying()) {
        if (RIPPER->IsAudioTrack(CurrentTrack) && ImageIndex(CurrentTrack) != 2)
            SetImageIndex(CurrentTrack, 2);
        return;
    }
    if (!Playing || Paused)
        return;
    PlayNextAfterFinishedTrack();
}

void TfrmMain::PlayNextAfterFinishedTrack() {
    if (CurrentTrack + 1 >= RowCount())
        CurrentTrack = -1; // after the last row, start again at the first
    SelectRow(CurrentTrack + 1);
    ListView1->scrollToItem(Row(CurrentTrack + 1), QAbstractItemView::EnsureVisible);
    btnPlayClick();
}

// ---------------------------------------------------------------- skinned frame

int TfrmMain::WMNCHitTest(const QPoint& client) {
    if (SkinLayout::regionAt(client.x(), client.y()) != SkinLayout::NoRegion)
        return HTCLIENT;
    HideHoverImages();
    return HTCAPTION;
}

void TfrmMain::Image1MouseMove(const QPoint& client) {
    ListView1Tag = 0;
    HideHoverImages();
    const int region = SkinLayout::regionAt(client.x(), client.y());
    if (region >= 0 && region < SkinLayout::ButtonCount)
        HoverImages[std::size_t(region)]->show();
}

void TfrmMain::HideHoverImages() {
    using namespace SkinLayout;
    for (ButtonId id : {ToWave, ToMP3, Options, Help, Exit, HomePage, Min, Close, Back, Play,
                        Forward, Stop, Eject, Pause})
        HoverImage(id)->hide();
}

int TfrmMain::VisibleHoverCount() const {
    int n = 0;
    for (const TSkinImage* image : HoverImages)
        n += image->isVisibleTo(this) ? 1 : 0;
    return n;
}

void TfrmMain::SkinMouseMove(TSkinImage* source, const QPoint& client, Qt::MouseButtons buttons) {
    if (ManualMove) {
        if (buttons & Qt::LeftButton) {
            move(QCursor::pos() - MoveOffset);
            return;
        }
        ManualMove = false;
    }
    if (WMNCHitTest(client) == HTCAPTION)
        return;
    // Inside a region: a visible picture under the pointer takes the move itself.
    if (source == Image1)
        Image1MouseMove(client);
}

void TfrmMain::SkinMousePress(TSkinImage* source, const QPoint& client) {
    PressedImage = nullptr;
    if (WMNCHitTest(client) == HTCAPTION) {
        StartManualMove(client);
        return;
    }
    if (source != Image1)
        PressedImage = source;
}

void TfrmMain::StartManualMove(const QPoint& client) {
    QWindow* window = windowHandle();
    if (window && window->startSystemMove())
        return;
    // The window system won't move it for us: follow the pointer while the button is held.
    ManualMove = true;
    MoveOffset = mapToGlobal(client) - pos();
}

void TfrmMain::SkinMouseRelease(TSkinImage* source, const QPoint& client) {
    ManualMove = false;
    TSkinImage* pressed = PressedImage;
    PressedImage = nullptr;
    if (pressed != source || !source->rect().contains(source->mapFrom(this, client)))
        return;
    if (source->OnClick)
        Guarded(source->OnClick);
}

void TfrmMain::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    HideHoverImages();
}

bool TfrmMain::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        DisplayHint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QWidget::event(e);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == PopupMenu1 && e->type() == QEvent::StatusTip) {
        DisplayHint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    if (ListView1 && watched == ListView1->viewport()) {
        if (e->type() == QEvent::MouseMove)
            Guarded([this] { ListView1MouseMove(); });
        else if (e->type() == QEvent::MouseButtonRelease)
            ListView1Click();
    }
    return QWidget::eventFilter(watched, e);
}

// ---------------------------------------------------------------- titles from CD-TEXT and
// MusicBrainz

void TfrmMain::FindTitles() {
    TitleSearch->OnLookup = [this](const Metadata::DiscTitles& found,
                                   const Metadata::LookupResult& result) {
        ShowLookup(found, result);
    };
    TitleSearch->FetchCovers(Settings.Lookup && Settings.CoverArt);
    FillTitles(TitleSearch->Start(*RIPPER, Settings.Lookup), Metadata::TitleSource::CdText);
    ShowTitleSource();
}

void TfrmMain::SetRowTitle(int row, Metadata::TitleSource source, const QString& title) {
    if (RowTitles.size() < std::size_t(RowCount()))
        RowTitles.resize(std::size_t(RowCount()));
    RowTitles[std::size_t(row)] = {source, title};
    Row(row)->setText(0, title);
}

QString TfrmMain::TitleSourceLine() const {
    using Metadata::TitleSource;
    QStringList names;
    for (TitleSource source :
         {TitleSource::CdPlayerIni, TitleSource::CdText, TitleSource::MusicBrainz}) {
        bool shown = false;
        for (int i = 0; i < RowCount() && std::size_t(i) < RowTitles.size() && !shown; ++i)
            shown = RowTitles[std::size_t(i)].Source == source &&
                    Row(i)->text(0) == RowTitles[std::size_t(i)].Title;
        if (!shown)
            continue;
        QString name = QString::fromUtf8(Metadata::SourceName(source));
        if (source == TitleSource::MusicBrainz && !TitleSearch->Found().Release.empty())
            name += QStringLiteral(": ") + Q(TitleSearch->Found().Release);
        names.push_back(name);
    }
    if (names.isEmpty())
        return {};
    QString line = QStringLiteral("Titles from ") + names.front();
    for (qsizetype i = 1; i < names.size(); ++i)
        line += (i + 1 == names.size() ? QStringLiteral(" and ") : QStringLiteral(", ")) + names[i];
    return line;
}

bool TfrmMain::ShowTitleSource() {
    const QString line = TitleSourceLine();
    if (line.isEmpty())
        return false;
    SetStatus(line);
    SummaryShown = false;
    return true;
}

// Puts the titles that came from `source` into the rows that still show the track's
// own name or nothing (a blank title in cdplayer.ini): a title the user typed or
// cdplayer.ini gave stays. Checkboxes and the
// rows' order stay as they are. Returns how many rows changed.
int TfrmMain::FillTitles(const Metadata::DiscTitles& found, Metadata::TitleSource source) {
    int filled = 0;
    for (int i = 0; i < RowCount() && std::size_t(i) < found.Tracks.size(); ++i) {
        const Metadata::TrackTitle& t = found.Tracks[std::size_t(i)];
        const QString shown = Row(i)->text(0);
        if (t.Source == source &&
            (shown == Q(RIPPER->Tracks.Strings(i)) || shown.trimmed().isEmpty())) {
            SetRowTitle(i, source, Q(t.Title));
            ++filled;
        }
    }
    return filled;
}

void TfrmMain::ShowLookup(const Metadata::DiscTitles& found, const Metadata::LookupResult& result) {
    ReleaseMenu->setEnabled(found.Releases.size() > 1);
    if (result.Found) {
        FillTitles(found, Metadata::TitleSource::MusicBrainz);
        if (!DiscNoticeShown)
            ShowTitleSource();
        return;
    }
    if (DiscNoticeShown)
        return; // what the user must read first stays
    // Nothing found: one line says why, unless CD-TEXT already named the tracks.
    for (const Metadata::TrackTitle& t : found.Tracks)
        if (t.Source == Metadata::TitleSource::CdText)
            return;
    SetStatus(Q(Metadata::LookupNote(result, found)));
}

void TfrmMain::FillReleaseMenu() {
    ReleaseMenu->clear();
    const Metadata::DiscTitles& found = TitleSearch->Found();
    for (std::size_t i = 0; i < found.Releases.size(); ++i) {
        QAction* item = ReleaseMenu->addAction(QStringLiteral("&%1  ").arg(i + 1) +
                                               Q(Metadata::ReleaseLine(found.Releases[i])));
        item->setCheckable(true);
        item->setChecked(i == found.ChosenIndex);
        connect(item, &QAction::triggered, this,
                [this, i] { Guarded([this, i] { TakeRelease(i); }); });
    }
}

void TfrmMain::TakeRelease(std::size_t index) {
    const Metadata::DiscTitles before = TitleSearch->Found();
    if (index >= before.Releases.size() || !TitleSearch->ChooseRelease(std::to_string(index + 1)))
        return;
    const Metadata::DiscTitles& now = TitleSearch->Found();
    for (int i = 0; i < RowCount() && std::size_t(i) < now.Tracks.size(); ++i) {
        const Metadata::TrackTitle& old = before.Tracks[std::size_t(i)];
        const Metadata::TrackTitle& t = now.Tracks[std::size_t(i)];
        const QString shown = Row(i)->text(0);
        const bool showsOld =
            old.Source == Metadata::TitleSource::MusicBrainz && shown == Q(old.Title);
        if (t.Source == Metadata::TitleSource::MusicBrainz &&
            (showsOld || shown == Q(RIPPER->Tracks.Strings(i)) || shown.trimmed().isEmpty()))
            SetRowTitle(i, Metadata::TitleSource::MusicBrainz, Q(t.Title));
    }
    ShowTitleSource();
}

Metadata::TagFields TfrmMain::RowTags(int row) const {
    if (row < 0 || row >= RowCount() || std::size_t(row) >= TitleSearch->Found().Tracks.size())
        return {};
    Metadata::TagFields fields = Metadata::TrackTags(TitleSearch->Found(), *RIPPER, row);
    fields.Title = Row(row)->text(0).trimmed().toStdString(); // the title as the row shows it
    if (!Settings.EmbedCover)
        fields.Cover = nullptr; // the cover file beside the files only
    return fields;
}

bool TfrmMain::TitleFromOutside(int row) const {
    const Metadata::DiscTitles& found = TitleSearch->Found();
    if (row < 0 || row >= RowCount() || std::size_t(row) >= found.Tracks.size())
        return false;
    const Metadata::TrackTitle& t = found.Tracks[std::size_t(row)];
    return (t.Source == Metadata::TitleSource::CdText ||
            t.Source == Metadata::TitleSource::MusicBrainz) &&
           Row(row)->text(0) == Q(t.Title);
}

void TfrmMain::TagMp3(const std::string& file, int row) {
    if (row < 0 || row >= RowCount() || std::size_t(row) >= TitleSearch->Found().Tracks.size())
        return;
    const Metadata::TagFields fields = RowTags(row);
    std::string error;
    if (!Metadata::WriteId3v2Tag(file, fields, &error))
        throw std::runtime_error(error);
}
