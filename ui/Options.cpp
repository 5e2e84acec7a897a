#include "ui/Options.h"

#include "settings/globals.h"
#include "ui/BrowseDr.h"
#include "ui/QuestionDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <algorithm>
#include <utility>

namespace {

// Carries a handler's exception out of the button's own code, see Guarded.
const QEvent::Type ReportEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

bool ToBool(int32_t value) {
    return value != 0;
}

// The record's 32-bit booleans hold -1 for true.
int32_t ToLongBool(bool value) {
    return value ? -1 : 0;
}

// Selects every item whose number equals the value, so the last match wins; no match
// leaves the selection as it is.
void SelectByValue(QComboBox* list, int32_t value) {
    for (int i = 0; i < list->count(); ++i)
        if (list->itemText(i).toInt() == value)
            list->setCurrentIndex(i);
}

// A position outside the list selects nothing.
void SelectByPosition(QComboBox* list, int32_t position) {
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

QStringList Numbers(int from, int to) {
    QStringList items;
    for (int n = from; n <= to; ++n)
        items << QString::number(n);
    return items;
}

} // namespace

EConvertError::EConvertError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value") {}

int StrToInt(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw EConvertError(text.toStdString());
    return value;
}

QString TrimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= u' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= u' ')
        --last;
    return text.mid(first, last - first);
}

// An exception must not unwind through the button's code. It is caught here and
// raised again from this dialog's own event, which the application delivers through
// its notify, where the program's error report shows it; the dialog stays open.
template <typename Handler> void TfrmOptions::Guarded(Handler handler) {
    try {
        handler();
    } catch (...) {
        pending_ = std::current_exception();
        QCoreApplication::postEvent(this, new QEvent(ReportEvent));
    }
}

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    // Opened from the main window without an owner: centre on whichever window was
    // active when it was made.
    mainForm_ = parent ? parent->window() : QApplication::activeWindow();
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr("Options"));
    // The layout was drawn for Arial; Liberation Sans has the same metrics where Arial
    // itself is missing.
    QFont font(QStringLiteral("Arial"));
    font.setFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(348, 325);
    buildOutputGroup();
    buildMP3Group();
    buildButtons();
    buildBrowser();
    fitCaptions();
    FormCreate();
}

TfrmOptions::~TfrmOptions() = default;

void TfrmOptions::buildOutputGroup() {
    GroupBox1 = new QGroupBox(tr("Output Folder"), this);
    GroupBox1->setGeometry(9, 3, 329, 73);
    EditOutputDir = new QLineEdit(GroupBox1);
    EditOutputDir->setObjectName(QStringLiteral("EditOutputDir"));
    EditOutputDir->setGeometry(10, 23, 283, 22);
    SpeedButtonOutputDir = new QToolButton(GroupBox1);
    SpeedButtonOutputDir->setObjectName(QStringLiteral("SpeedButtonOutputDir"));
    SpeedButtonOutputDir->setGeometry(294, 23, 24, 22);
    SpeedButtonOutputDir->setAutoRaise(true);
    SpeedButtonOutputDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SpeedButtonOutputDir->setToolTip(tr("Browse for folder"));
    connect(SpeedButtonOutputDir, &QToolButton::clicked, this,
            [this] { Guarded([this] { SpeedButtonOutputDirClick(); }); });
    CheckBoxOpen = addCheck(GroupBox1, tr("&Open Out Folder When Done ripping"), 10, 50, 300);
}

QCheckBox* TfrmOptions::addCheck(QWidget* parent, const QString& caption, int left, int top,
                                 int width) {
    auto* box = new QCheckBox(caption, parent);
    box->setGeometry(left, top, width, 17);
    return box;
}

// One row of the left column: a label and its drop-down list.
QComboBox* TfrmOptions::addList(int row, const char* label, const QStringList& items) {
    const int top = 52 + row * 31; // rows 31 pixels apart below the VBR line
    auto* caption = new QLabel(tr(label), GroupBox2);
    caption->setGeometry(10, top + 3, 80, 16);
    auto* list = new QComboBox(GroupBox2);
    list->setGeometry(92, top, 92, 22);
    list->addItems(items);
    list->setCurrentIndex(-1);
    caption->setBuddy(list);
    return list;
}

void TfrmOptions::buildMP3Group() {
    GroupBox2 = new QGroupBox(tr("MP3 Settings"), this);
    GroupBox2->setGeometry(9, 83, 329, 209);
    CheckBox6 = addCheck(GroupBox2, tr("Enable VBR"), 10, 26, 150);
    CheckBox7 = addCheck(GroupBox2, tr("Write VBR header"), 196, 26, 128);
    ComboBox1 = addList(0, "Sample Rate:", {"44100", "32000", "22050"});
    ComboBox2 = addList(1, "Min. BitRate:", {"320", "256", "192", "160", "128", "96"});
    ComboBox3 = addList(2, "Max. BitRate:", {"320", "256", "192", "160"});
    ComboBox4 = addList(3, "Stereo Mode:", {"Stereo", "Joint stereo", "Dual channel", "Mono"});
    ComboBox5 = addList(4, "MPEG Quality:", {"Normal", "Low", "High", "Voice"});
    auto* vbrLabel = new QLabel(tr("VBR Quality:"), GroupBox2);
    vbrLabel->setGeometry(196, 55, 70, 16);
    ComboBox8 = new QComboBox(GroupBox2);
    ComboBox8->setGeometry(268, 52, 50, 22);
    ComboBox8->addItems(Numbers(0, 9));
    ComboBox8->setCurrentIndex(-1);
    vbrLabel->setBuddy(ComboBox8);
    CheckBox3 = addCheck(GroupBox2, tr("Copyright"), 196, 88, 120);
    CheckBox4 = addCheck(GroupBox2, tr("Original"), 196, 114, 120);
    CheckBox5 = addCheck(GroupBox2, tr("CRC"), 196, 140, 120);
    CheckBox8 = addCheck(GroupBox2, tr("Private"), 196, 166, 120);
    connect(CheckBox6, &QCheckBox::toggled, this, [this] { CheckBox6Click(); });
}

namespace {

// The width a list needs to show its widest entry whole: the entry plus the list's own
// frame, padding and arrow.
int ListWidthForEntries(const QComboBox* list) {
    QStyleOptionComboBox option;
    option.initFrom(list);
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, list);
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->itemText(i)));
    return widest + (list->width() - field.width());
}

// A label and its list on one row, grown from the drawn size where the font needs more
// room, but never past rowEnd.
void FitRow(QLabel* label, QComboBox* list, int rowEnd) {
    const int text = label->fontMetrics().horizontalAdvance(QString(label->text()).remove('&'));
    const int labelWidth = std::max(label->width(), text + label->margin() * 2);
    label->resize(labelWidth, label->height());
    const int left = std::max(list->x(), label->x() + labelWidth + 2);
    const int width = std::min(std::max(list->width(), ListWidthForEntries(list)), rowEnd - left);
    list->setGeometry(left, list->y(), width, list->height());
}

// The last resort for a font much wider than the layout's: the control's own font is
// made a pixel smaller at a time (down to 9 pixels) until its text fits.
template <class Fits> void ShrinkUntil(QWidget* widget, Fits fits) {
    for (QFont font = widget->font(); !fits() && font.pixelSize() > 9;) {
        font.setPixelSize(font.pixelSize() - 1);
        widget->setFont(font);
    }
}

} // namespace

// Where the font the system gives is wider than the one the layout was drawn for, the
// captions and lists grow into the free room of their rows instead of being cut.
void TfrmOptions::fitCaptions() {
    const int columnGap = 196 - 4; // the right column starts at 196
    const std::initializer_list<QComboBox*> column = {ComboBox1, ComboBox2, ComboBox3, ComboBox4,
                                                      ComboBox5};
    for (QComboBox* list : column)
        for (QLabel* label : GroupBox2->findChildren<QLabel*>())
            if (label->buddy() == list)
                FitRow(label, list, columnGap);
    // The left column stays one straight column: its lists share the widest one's place.
    int left = 0, width = 0;
    for (const QComboBox* list : column) {
        left = std::max(left, list->x());
        width = std::max(width, list->width());
    }
    for (QComboBox* list : column)
        list->setGeometry(left, list->y(), std::min(width, columnGap - left), list->height());
    for (QLabel* label : GroupBox2->findChildren<QLabel*>())
        if (label->buddy() == ComboBox8)
            FitRow(label, ComboBox8, GroupBox2->width() - 10);
    for (QComboBox* list : findChildren<QComboBox*>())
        ShrinkUntil(list, [list] { return ListWidthForEntries(list) <= list->width(); });
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        const int room = box->parentWidget()->width() - 6 - box->x();
        box->resize(std::max(box->width(), std::min(box->sizeHint().width(), room)), box->height());
        ShrinkUntil(box, [box] { return box->sizeHint().width() <= box->width(); });
    }
}

void TfrmOptions::buildButtons() {
    btnDefault = new QPushButton(tr("Default"), this);
    btnDefault->setGeometry(9, 298, 75, 23);
    btnDefault->setAutoDefault(false);
    OK = new QPushButton(tr("OK"), this);
    OK->setGeometry(176, 298, 75, 23);
    OK->setDefault(true);
    BitBtn1 = new QPushButton(tr("Cancel"), this);
    BitBtn1->setGeometry(264, 298, 75, 23);
    BitBtn1->setAutoDefault(false);
    connect(btnDefault, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnDefaultClick(); }); });
    connect(OK, &QPushButton::clicked, this, [this] { Guarded([this] { OKClick(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmOptions::reject);
    // In the free room between Default and OK, so that the other controls keep their places.
    btnFormats = new QPushButton(tr("&Formats..."), this);
    btnFormats->setGeometry(90, 298, 80, 23);
    btnFormats->setAutoDefault(false);
    btnFormats->setStatusTip(tr("FLAC, Opus and ReplayGain settings"));
    connect(btnFormats, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnFormatsClick(); }); });
}

void TfrmOptions::btnFormatsClick() {
    TfrmFormatOptions dialog(Formats, this);
    const int answer = ExecFormats ? ExecFormats(dialog) : dialog.exec();
    if (answer == QDialog::Accepted)
        Formats = dialog.Values();
}

void TfrmOptions::buildBrowser() {
    dfsBrowseDirectoryDlgOutputDir = new TdfsBrowseDirectoryDlg(this);
    dfsBrowseDirectoryDlgOutputDir->SetTitle(
        tr("Choose folder where ripped files should be saved:"));
    dfsBrowseDirectoryDlgOutputDir->SetCaption(tr("Browse for folder"));
    dfsBrowseDirectoryDlgOutputDir->SetOptions({bfNewDialogStyle});
    dfsBrowseDirectoryDlgOutputDir->SetShowSelectionInStatus(true);
}

void TfrmOptions::FormCreate() {
    EditOutputDir->setText(QString::fromStdString(Settings.OutDir));
    CheckBoxOpen->setChecked(Settings.OpenWhenDone);
    SelectByValue(ComboBox1, Settings.SampleRates);
    SelectByValue(ComboBox2, Settings.BitRates);
    SelectByValue(ComboBox3, Settings.MaxBitRates);
    SelectByPosition(ComboBox4, Settings.Mode);
    SelectByPosition(ComboBox5, Settings.Quality);
    SelectByPosition(ComboBox8, Settings.VBRQuality);
    CheckBox6->setChecked(ToBool(Settings.EnableVBR));
    CheckBox7->setChecked(ToBool(Settings.WriteVBRHeader));
    CheckBox3->setChecked(ToBool(Settings.CopyRight));
    CheckBox4->setChecked(ToBool(Settings.Original));
    CheckBox5->setChecked(ToBool(Settings.CRC));
    CheckBox8->setChecked(ToBool(Settings.bPrivate));
    Formats = {Settings.FlacCompression, Settings.OpusBitrate, Settings.ReplayGain};
    CheckBox6Click();
}

// The VBR-only settings follow "Enable VBR"; their labels stay as they are.
void TfrmOptions::CheckBox6Click() {
    const bool vbr = CheckBox6->isChecked();
    CheckBox7->setEnabled(vbr);
    ComboBox8->setEnabled(vbr);
    ComboBox3->setEnabled(vbr);
    ComboBox5->setEnabled(vbr);
}

void TfrmOptions::SpeedButtonOutputDirClick() {
    const QString typed = EditOutputDir->text();
    if (!TrimBlanks(typed).isEmpty())
        dfsBrowseDirectoryDlgOutputDir->SetSelection(typed);
    if (!dfsBrowseDirectoryDlgOutputDir->Execute())
        return;
    QString chosen = dfsBrowseDirectoryDlgOutputDir->Selection();
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    EditOutputDir->setText(chosen);
}

// Straight into the record, field by field: a rate list without a selection stops
// here with the fields before it already taken over.
void TfrmOptions::OKClick() {
    Settings.OutDir = TrimBlanks(EditOutputDir->text()).toStdString();
    Settings.OpenWhenDone = CheckBoxOpen->isChecked();
    Settings.SampleRates = StrToInt(ComboBox1->currentText());
    Settings.BitRates = StrToInt(ComboBox2->currentText());
    Settings.MaxBitRates = StrToInt(ComboBox3->currentText());
    Settings.Mode = ComboBox4->currentIndex();
    Settings.Quality = ComboBox5->currentIndex();
    Settings.VBRQuality = ComboBox8->currentIndex();
    Settings.EnableVBR = ToLongBool(CheckBox6->isChecked());
    Settings.WriteVBRHeader = ToLongBool(CheckBox7->isChecked());
    Settings.CopyRight = ToLongBool(CheckBox3->isChecked());
    Settings.Original = ToLongBool(CheckBox4->isChecked());
    Settings.CRC = ToLongBool(CheckBox5->isChecked());
    Settings.bPrivate = ToLongBool(CheckBox8->isChecked());
    Settings.FlacCompression = Formats.FlacCompression;
    Settings.OpusBitrate = Formats.OpusBitrate;
    Settings.ReplayGain = Formats.ReplayGain;
    done(mrOk);
}

// The record takes the defaults at once: Cancel afterwards keeps them.
void TfrmOptions::btnDefaultClick() {
    SetDefaultSettingsKeepConfirm();
    FormCreate();
}

void TfrmOptions::reject() {
    done(mrCancel);
}

void TfrmOptions::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        QRect area;
        if (mainForm_ && mainForm_ != this)
            area = mainForm_->frameGeometry();
        else if (const QScreen* screen = QApplication::primaryScreen())
            area = screen->availableGeometry();
        if (area.isValid())
            move(area.x() + (area.width() - width()) / 2,
                 area.y() + (area.height() - height()) / 2);
    }
    QDialog::showEvent(event);
}

bool TfrmOptions::event(QEvent* event) {
    if (event->type() == ReportEvent && pending_) {
        std::exception_ptr raised = std::exchange(pending_, nullptr);
        std::rethrow_exception(raised);
    }
    return QDialog::event(event);
}
