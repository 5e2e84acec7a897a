#include "ui/uprg.h"
#include "platform/AppInfo.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/OutputFiles.h"
#include "encoding/MP3Info.h"
#include "platform/AppInfo.h"
#include "platform/Paths.h"
#include "settings/globals.h"
#include "ui/GradProgress.h"
#include "ui/QuestionDlg.h"
#include "verify/JobProof.h"
#include "verify/RipLog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

std::filesystem::path PathOf(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

// A file, not a folder, of that name exists.
bool FileExists(const QString& name) {
    std::error_code ec;
    const auto st = std::filesystem::status(PathOf(name), ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_directory(st);
}

bool DirectoryExists(const QString& name) {
    std::error_code ec;
    return std::filesystem::is_directory(PathOf(name), ec);
}

// The folder part of a file name: up to and including its last "/".
QString FolderOf(const QString& name) {
    return name.left(name.lastIndexOf('/') + 1);
}

} // namespace

QString TrimControls(const QString& s) {
    qsizetype first = 0, last = s.size();
    while (first < last && s[first].unicode() <= 32)
        ++first;
    while (last > first && s[last - 1].unicode() <= 32)
        --last;
    return s.mid(first, last - first);
}

bool ForceDirectories(const QString& P) {
    if (P.isEmpty())
        return false;
    QString dir = P.endsWith('/') ? P.chopped(1) : P;
    if (dir.isEmpty() || DirectoryExists(dir))
        return true; // the root, or already there
    const QString parent = dir.left(dir.lastIndexOf('/') + 1);
    if (parent == dir)
        return true;
    if (!parent.isEmpty() && !ForceDirectories(parent))
        return false;
    std::error_code ec;
    std::filesystem::create_directory(PathOf(dir), ec);
    return !ec && DirectoryExists(dir);
}

namespace {

// The "To <path>" line: wrapped over the label's lines as before, but a path too long
// for them loses its middle, so that the file name at its end always shows. text()
// keeps the whole path.
class TPathLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
        const QRect room = contentsRect();
        const QFontMetrics metrics = fontMetrics();
        const int lines = std::max(1, room.height() / metrics.lineSpacing());
        // A wrapped line may end up to one character short of the width.
        int budget = lines * (room.width() - metrics.maxWidth());
        QString shown = text();
        while (budget > 0 && metrics.boundingRect(room, flags, shown).height() > room.height()) {
            budget -= metrics.averageCharWidth();
            shown = metrics.elidedText(text(), Qt::ElideMiddle, budget);
        }
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(room, flags, shown);
    }
};

} // namespace

Tfrmprg::Tfrmprg(TJobTargets targets, QWidget* parent) : QDialog(parent), T(std::move(targets)) {
    setObjectName("frmprg");
    CreateControls();
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Tfrmprg::Timer1Timer);
    Timer1->start(); // runs from creation: the job starts about a second later
}

Tfrmprg::~Tfrmprg() = default;

void Tfrmprg::CreateControls() {
    setWindowTitle("Extracting...");
    setFixedSize(373, 145);
    QFont f("Arial");
    f.setPixelSize(12);
    setFont(f);
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(8, 8, 353, 97);
    lblStatus = new QLabel(QString(16, ' '), GroupBox1);
    lblStatus->setObjectName("lblStatus");
    lblStatus->move(10, 23);
    lblStatus->adjustSize();
    lblPath = new TPathLabel(QString(16, ' '), GroupBox1);
    lblPath->setObjectName("lblPath");
    lblPath->setGeometry(10, 52, 335, 45);
    lblPath->setWordWrap(true);
    lblPath->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prgTotalProgress = new TGradProgress(this);
    prgTotalProgress->setGeometry(8, 118, 270, 16);
    prgTotalProgress->SetStartColor(TGradProgress::clMenu);
    prgTotalProgress->SetEndColor(TGradProgress::clBlue);
    prgTotalProgress->SetBackColor(TGradProgress::clMenu);
    prgTotalProgress->SetFontColor(TGradProgress::clWhite);
    QFont barFont = prgTotalProgress->font();
    barFont.setPixelSize(11);
    prgTotalProgress->setFont(barFont);
    btnCancel =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(286, 114, 75, 23);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &Tfrmprg::btnCancelClick);
}

void Tfrmprg::SetStatus(const QString& text) {
    lblStatus->setText(text);
    lblStatus->adjustSize();
}

void Tfrmprg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (QWidget* main = QApplication::activeWindow(); main && main != this) {
        QRect r = frameGeometry();
        r.moveCenter(main->frameGeometry().center());
        move(r.topLeft());
    }
    FormShow();
}

void Tfrmprg::FormShow() {
    StartPending = true;
    SetStatus("Initializing...");
    setWindowTitle(ToWave ? "Extract To WAV files" : "Extract To MP3 files");
    prgTotalProgress->SetPosition(0);
    prgTotalProgress->ShowDec = false; // whole numbers from the next paint on
}

// Esc presses Cancel.
void Tfrmprg::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        btnCancel->click();
        return;
    }
    QDialog::keyPressEvent(e);
}

// Closing through the title bar does not stop a running job: the job's own result
// decides how the dialog closes.
void Tfrmprg::reject() {
    if (Running)
        return;
    StartPending = false;
    done(mrCancel);
}

void Tfrmprg::btnCancelClick() {
    Cancelled = true;
    if (T.RIPPER)
        T.RIPPER->Abort();
    // Cancel before the job has started: nothing is extracted at all.
    if (StartPending && !Running) {
        StartPending = false;
        done(mrCancel);
    }
}

void Tfrmprg::Timer1Timer() {
    prgTotalProgress->SetPosition(T.RipPercent ? *T.RipPercent : 0);
    if (!StartPending)
        return;
    // A timer's own ticks do not reach a handler that it is still running; starting
    // it afresh lets the ticks of the running job refresh the bar.
    Timer1->start();
    RunJob();
}

int Tfrmprg::CountTicked() const {
    int n = 0;
    for (int i = 0; i < T.ListView1->topLevelItemCount(); ++i)
        if (T.ListView1->topLevelItem(i)->checkState(TrackColumns::Title) == Qt::Checked)
            ++n;
    return n;
}

// An empty output folder means the user's music folder, never the root folder.
QString Tfrmprg::GetOutputfilename(int Index) const {
    const QTreeWidgetItem* row = T.ListView1->topLevelItem(Index);
    const std::string title = row ? row->text(TrackColumns::Title).toStdString() : std::string();
    const std::string folder =
        OutputFiles::IsBlankFolder(Settings.OutDir) ? Paths::musicFolder() : Settings.OutDir;
    return QString::fromStdString(OutputFiles::OutputName(folder, title, false));
}

void Tfrmprg::RunJob() {
    StartPending = false;
    Running = true;
    Cancelled = false;
    Settings.ConfirmOverwrite = true; // every job asks again
    T.RIPPER->Encode = !ToWave;
    Proof = std::make_unique<JobProof>(*T.RIPPER, ProofOptionsOfSettings());
    Proof->Start(std::string(AppInfo::ProgramName), AlbumTitleOf(*T.RIPPER));
    Proof->Record.Settings.push_back({"Format", ToWave ? "wav" : "mp3"});
    Proof->Record.Settings.push_back({"AccurateRip", Settings.AccurateRip ? "on" : "off"});
    const int total = CountTicked();
    int ordinal = 0;
    try {
        for (int i = 0; i < T.ListView1->topLevelItemCount() && !Cancelled; ++i) {
            if (T.ListView1->topLevelItem(i)->checkState(TrackColumns::Title) != Qt::Checked)
                continue;
            if (!ExtractEntry(i, ++ordinal, total))
                break;
        }
    } catch (const std::exception& e) {
        const int result = WrapUp();
        if (T.HandleProc)
            T.HandleProc(e);
        done(result);
        return;
    }
    done(WrapUp());
}

// One ticked row; false when the user answered No and the job ends.
bool Tfrmprg::ExtractEntry(int index, int ordinal, int total) {
    QTreeWidgetItem* row = T.ListView1->topLevelItem(index);
    const QString caption = row->text(TrackColumns::Title);
    SetStatus(QString("Extract %1 (%2 of %3)...").arg(caption).arg(ordinal).arg(total));
    QString name = GetOutputfilename(index);
    OutputFiles::CheckTitle(caption.toStdString(), name.toStdString());
    ForceDirectories(FolderOf(name)); // a failure shows when the file is created
    if (!ToWave)
        name = name.chopped(4) + ".mp3";
    LastName = name;
    lblPath->setText("To " + name);
    const int trackNum = row->text(TrackColumns::Index).toInt() + 1;
    if (!MayReplace(name))
        return false;
    Proof->RipTrack(trackNum, name.toStdString());
    if (!ToWave && T.RIPPER->FileWritten) {
        // Also after Cancel: a partly written file is tagged too. A file that was there
        // before a cancelled track is kept as it was, untagged by this job.
        T.MP3Info1->SetFilename(name.toStdString());
        T.MP3Info1->SetTitle(caption.toStdString());
        T.MP3Info1->Save();
        if (T.TagMp3)
            T.TagMp3(name.toStdString(), index);
    }
    row->setText(TrackColumns::Status, Cancelled ? "Cancelled" : "OK");
    return true;
}

// Asks before an existing file is replaced; false on No.
bool Tfrmprg::MayReplace(const QString& name) {
    if (!FileExists(name) || !Settings.ConfirmOverwrite)
        return true;
    LastAnswer = QuestionDlg(name + " already exists,do you want to replace it?",
                             QString::fromUtf8(AppInfo::Title.data()), mtWarning,
                             mbYes | mbNo | mbYesToAll, {"&Yes", "&No", "Replace &All"});
    if (*LastAnswer == mrNo)
        return false;
    if (*LastAnswer == mrYesToAll)
        Settings.ConfirmOverwrite = false;
    return true;
}

// Looks the job's tracks up, writes the log beside the files, and shows each track's
// checksums in its row's tooltip and the summary in the status line.
void Tfrmprg::FinishProof() {
    if (!Proof || Proof->Record.Tracks.empty())
        return;
    SetStatus("Checking the rip...");
    const int status = Cancelled ? 1 : Proof->AnyDamaged() ? 3 : 0;
    if (Cancelled)
        Proof->SkipLookup(); // the user stopped the job: it ends at once
    Proof->Finish(TrimControls(QString::fromStdString(Settings.OutDir)).toStdString(), status);
    for (const TrackRecord& t : Proof->Record.Tracks) {
        for (int i = 0; i < T.ListView1->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = T.ListView1->topLevelItem(i);
            if (row->text(TrackColumns::Index).toInt() + 1 == t.Number)
                row->setToolTip(TrackColumns::Status, QString::fromStdString(TrackProofText(t)));
        }
    }
    if (T.ShowSummary)
        T.ShowSummary(QString::fromStdString(RipSummary(Proof->Record)));
}

// Runs however the job ended; returns the dialog's result.
int Tfrmprg::WrapUp() {
    Running = false;
    try {
        FinishProof();
    } catch (const std::exception&) {
        // The proof only adds to a job; its failure never fails the extraction.
    }
    prgTotalProgress->SetPosition(0);
    if (T.RipPercent)
        *T.RipPercent = 0;
    if (Settings.OpenWhenDone && !Cancelled && LastAnswer != mrNo && !LastName.isEmpty()) {
        const QUrl folder = QUrl::fromLocalFile(FolderOf(LastName));
        if (T.ShellOpen)
            T.ShellOpen(folder);
        else
            QDesktopServices::openUrl(folder);
    }
    return Cancelled ? mrCancel : mrOk;
}

int RunExtractionJob(const TJobTargets& targets, bool toWave) {
    Tfrmprg dlg(targets);
    dlg.ToWave = toWave;
    return dlg.exec();
}
