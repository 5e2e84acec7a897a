#include "ui/uprg.h"
#include "platform/AppInfo.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/CueSheetStep.h"
#include "cdaccess/OutputFiles.h"
#include "encoding/MP3Info.h"
#include "platform/AppInfo.h"
#include "platform/HttpClient.h"
#include "platform/Paths.h"
#include "ripjob/CoverStep.h"
#include "ripjob/Mp3Encoder.h"
#include "ripjob/Mp3Tags.h"
#include "ripjob/RipJob.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/GradProgress.h"
#include "ui/QuestionDlg.h"
#include "verify/DriveOffsets.h"
#include "verify/JobProof.h"
#include "verify/RipLog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {

std::filesystem::path PathOf(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

bool DirectoryExists(const QString& name) {
    std::error_code ec;
    return std::filesystem::is_directory(PathOf(name), ec);
}

// A reason as the window says it: from a capital letter.
QString Sentence(const std::string& reason) {
    QString text = QString::fromStdString(reason);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
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

// Runs `work` on a thread of its own while the window goes on answering (repaints,
// Cancel, Esc, a drag), and returns when it has ended; what it throws is thrown here.
void Beside(const std::function<void()>& work) {
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

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

long Tfrmprg::LookupSeconds = 10;

Tfrmprg::Tfrmprg(TJobTargets targets, QWidget* parent) : QDialog(parent), T(std::move(targets)) {
    setObjectName("frmprg");
    CreateControls();
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Tfrmprg::Timer1Timer);
    Timer1->start(); // runs from creation: the job starts about a second later
}

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
    // The whole job's line sits in the room between the track's line and the path.
    lblJob = new QLabel(GroupBox1);
    lblJob->setObjectName("lblJob");
    lblJob->setGeometry(10, 37, 335, 15);
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
    setWindowTitle(ToWave                        ? "Extract To WAV files"
                   : !Vorbis                     ? "Extract To MP3 files"
                   : *Vorbis == VorbisKind::Flac ? "Extract To FLAC files"
                                                 : "Extract To Opus files");
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
    // The job's look-ups (the drive's offset, the AccurateRip database) end with it.
    if (LookingUp || Running)
        Http::StopRunning();
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

// An empty output folder means the user's music folder, never the root folder.
QString Tfrmprg::GetOutputfilename(int Index) const {
    const QTreeWidgetItem* row = T.ListView1->topLevelItem(Index);
    const std::string title = row ? row->text(TrackColumns::Title).toStdString() : std::string();
    const std::string folder =
        OutputFiles::IsBlankFolder(Settings.OutDir) ? Paths::musicFolder() : Settings.OutDir;
    return QString::fromStdString(OutputFiles::OutputName(folder, title, false));
}

QString JobProgressLine(const JobProgress& progress) {
    const int percent =
        static_cast<int>(std::floor(std::clamp(progress.Done, 0.0, 1.0) * 100 + 1e-9));
    QString line = QString("All tracks: %1% done").arg(percent);
    if (progress.SecondsLeft < 0)
        return line;
    const long left = static_cast<long>(std::ceil(progress.SecondsLeft));
    const long hours = left / 3600, minutes = left / 60 % 60, seconds = left % 60;
    const QString time = hours > 0 ? QString("%1:%2:%3")
                                         .arg(hours)
                                         .arg(minutes, 2, 10, QChar('0'))
                                         .arg(seconds, 2, 10, QChar('0'))
                                   : QString("%1:%2").arg(minutes).arg(seconds, 2, 10, QChar('0'));
    return line + ", about " + time + " left";
}

void Tfrmprg::ShowJobProgress(const JobProgress& progress) {
    const QString line = JobProgressLine(progress);
    if (lblJob->text() != line)
        lblJob->setText(line);
}

// The window's side of the job: the dialog's lines, the rows' status, the replace
// question, and Cancel. Everything runs on the GUI thread, inside the job.
class Tfrmprg::Observer : public JobObserver {
public:
    explicit Observer(Tfrmprg& dialog) : D(dialog) {}

    void TrackBegins(const JobTrack& track, int ordinal, int total) override {
        const QString caption = QString::fromStdString(track.Title);
        D.SetStatus(QString("Extract %1 (%2 of %3)...").arg(caption).arg(ordinal).arg(total));
        D.lblPath->setText("To " + QString::fromStdString(track.FileName));
    }
    void TrackEnds(const JobTrack& track, const TrackOutcome& o) override {
        if (o.Result == TrackResult::Failed || o.Result == TrackResult::Refused) {
            if (D.Failure.empty()) {
                D.Failure = o.Reason;
                D.FailedRow = track.Row;
            }
            if (o.Result == TrackResult::Refused)
                return;
        }
        D.LastName = QString::fromStdString(track.FileName);
        if (o.Result == TrackResult::Failed)
            return;
        if (QTreeWidgetItem* row = D.T.ListView1->topLevelItem(track.Row))
            ShowResult(*row, o.Result);
    }
    // A good track's row says "OK" or "Cancelled"; a damaged or not accurate one says so
    // in red, so that it shows without hovering.
    static void ShowResult(QTreeWidgetItem& row, TrackResult result) {
        const bool bad = result == TrackResult::Damaged || result == TrackResult::NotAccurate;
        row.setText(TrackColumns::Status, result == TrackResult::Stopped       ? "Cancelled"
                                          : result == TrackResult::Damaged     ? "Damaged"
                                          : result == TrackResult::NotAccurate ? "Not accurate"
                                                                               : "OK");
        row.setForeground(TrackColumns::Status, bad ? QBrush(Qt::red) : QBrush());
    }
    ReplaceAnswer AskReplace(const JobTrack& track, std::string*) override {
        if (!Settings.ConfirmOverwrite)
            return ReplaceAnswer::Yes;
        D.LastAnswer = QuestionDlg(QString::fromStdString(track.FileName) +
                                       " already exists,do you want to replace it?",
                                   QString::fromUtf8(AppInfo::Title.data()), mtWarning,
                                   mbYes | mbNo | mbYesToAll, {"&Yes", "&No", "Replace &All"});
        if (*D.LastAnswer == mrNo)
            return ReplaceAnswer::StopJob;
        if (*D.LastAnswer == mrYesToAll) {
            Settings.ConfirmOverwrite = false;
            return ReplaceAnswer::YesToAll;
        }
        return ReplaceAnswer::Yes;
    }
    void Progress(const JobProgress& progress) override { D.ShowJobProgress(progress); }
    bool StopRequested() override { return D.Cancelled; }

private:
    Tfrmprg& D;
};

void Tfrmprg::RunJob() {
    StartPending = false;
    Running = true;
    Cancelled = false;
    Failure.clear();
    FailedRow = -1;
    Settings.ConfirmOverwrite = true; // every job asks again
    // Everything the job needs from the rows is taken here, on the window's thread: the
    // encoder threads that write the tags never reach a widget.
    auto state = std::make_shared<FormatJobState>();
    state->ReplayGain = Settings.ReplayGain;
    std::vector<JobTrack> tracks;
    std::set<int> outside;
    for (int i = 0; i < T.ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = T.ListView1->topLevelItem(i);
        if (row->checkState(TrackColumns::Title) != Qt::Checked)
            continue;
        const int number = row->text(TrackColumns::Index).toInt() + 1;
        tracks.push_back({number, i, row->text(TrackColumns::Title).toStdString(), {}});
        if (T.TrackFields)
            state->Fields[number] = T.TrackFields(i);
        if (T.TitleFromOutside && T.TitleFromOutside(i))
            outside.insert(number);
    }
    JobOptions options;
    options.Program = std::string(AppInfo::ProgramName);
    // Trimmed as the file names are: the folder made here and the cue sheet written into
    // it are those of the files, never a blank-named folder under the current one.
    options.OutDir = OutputFiles::IsBlankFolder(Settings.OutDir)
                         ? Paths::musicFolder()
                         : OutputFiles::TrimControl(Settings.OutDir);
    // A folder that cannot be made (a file under its name or on its way) fails every
    // track alike: said once, before the first one.
    if (const std::string why = MakeOutputFolder(options.OutDir); !why.empty()) {
        MarkFailed(-1, why);
        const int result = WrapUp();
        ShowFailure(why);
        done(result);
        return;
    }
    options.LogFolder = TrimControls(QString::fromStdString(Settings.OutDir)).toStdString();
    // The log is named and headed as velmora-rip names and heads it.
    options.AlbumTitle = T.Album.empty() ? AlbumTitleOf(*T.RIPPER) : T.Album;
    options.Artist = T.Artist;
    options.Album = T.Album;
    options.OutsideTitles = outside;
    options.ReportPath = T.ReportPath;
    Mp3 = std::make_unique<Mp3Format>(T.RIPPER->Coder(), &Settings);
    options.Format = ToWave ? nullptr : Mp3.get();
    if (!ToWave && Vorbis) {
        Encoded = std::make_unique<VorbisFormat>(*Vorbis, Settings, state);
        options.Format = Encoded.get();
    } else if (!ToWave && Settings.ReplayGain) {
        // MP3 with its loudness measured: the gain frames velmora-rip writes.
        Encoded = std::make_unique<MeteredFormat>(*Mp3, state);
        options.Format = Encoded.get();
    }
    // As many encoders as velmora-rip runs: one a core, reading ahead of them.
    options.Jobs = 0;
    options.StopAtFailure = true;
    options.HiddenTrack = Settings.HiddenTrack;
    options.Proof = ProofOptionsOfSettings();
    options.Proof.TimeoutSeconds = LookupSeconds;
    // The drive's read offset from the AccurateRip list, when the settings give none,
    // is looked up beside the window.
    if (!options.Proof.ReadOffset) {
        const std::string drive = T.RIPPER->CDRomIDText();
        std::optional<int32_t> offset;
        LookingUp = true;
        Beside([&] { offset = DriveReadOffset(drive, LookupSeconds); });
        LookingUp = false;
        options.Proof.ReadOffset = offset.value_or(0);
    }
    options.OffsetSource = Settings.ReadOffset ? "ReadOffset in the settings" : "the drive";
    Watcher = std::make_unique<Observer>(*this);
    Job = std::make_unique<RipJob>(*T.RIPPER, options, *Watcher);
    if (!ToWave && !Vorbis) {
        auto tags = std::make_shared<Mp3TagStep>();
        tags->Fields = state->Fields;
        Job->SetTagStep(std::make_shared<MeteredTagStep>(tags, state));
    }
    if (!ToWave && Settings.ReplayGain) {
        const auto target = !Vorbis                       ? AlbumGainStep::Target::Mp3
                            : *Vorbis == VorbisKind::Flac ? AlbumGainStep::Target::Flac
                                                          : AlbumGainStep::Target::Opus;
        Job->AddEndStep(std::make_shared<AlbumGainStep>(target, state));
    }
    if (T.Cover || !T.CoverNote.empty())
        Job->AddEndStep(std::make_shared<CoverFileStep>(T.Cover, false, T.CoverNote));
    // The cue sheet beside the files; the disc's index points are read here, before the job.
    Job->AddEndStep(std::make_shared<CueSheetStep>(T.RIPPER->Library(), std::string()));
    try {
        Job->Run(tracks);
    } catch (const std::exception& e) {
        const int result = WrapUp();
        if (T.HandleProc)
            T.HandleProc(e);
        done(result);
        return;
    }
    const int result = WrapUp();
    if (!Failure.empty()) {
        MarkFailed(FailedRow, Failure);
        ShowFailure(Failure);
    }
    done(result);
}

void Tfrmprg::MarkFailed(int failedRow, const std::string& reason) {
    const QString why = Sentence(reason);
    // Every track that ended failed says its own reason: the pipeline may have had the
    // next tracks under way when the first one failed.
    std::map<int, QString> ended; // row: its reason when it failed, else empty
    if (Job) {
        for (const auto& [track, outcome] : Job->Outcomes()) {
            const bool failed =
                outcome.Result == TrackResult::Failed || outcome.Result == TrackResult::Refused;
            ended[track.Row] = failed ? Sentence(outcome.Reason) : QString();
        }
    }
    for (int i = 0; i < T.ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = T.ListView1->topLevelItem(i);
        if (row->checkState(TrackColumns::Title) != Qt::Checked)
            continue;
        const auto end = ended.find(i);
        const bool failedHere = end != ended.end() && !end->second.isEmpty();
        if (i == failedRow || failedRow < 0 || failedHere) {
            row->setText(TrackColumns::Status, "Failed");
            row->setForeground(TrackColumns::Status, QBrush(Qt::red));
            row->setToolTip(TrackColumns::Status, failedHere ? end->second : why);
        } else if (end == ended.end()) {
            // Not ripped: the job ended at the failed track.
            row->setText(TrackColumns::Status, "Cancelled");
            row->setForeground(TrackColumns::Status, QBrush());
            row->setToolTip(TrackColumns::Status, "Not ripped: an earlier track failed: " + why);
        }
    }
}

void Tfrmprg::ShowFailure(const std::string& reason) {
    QString text = Sentence(reason);
    if (Job && !Job->LogPath().empty())
        text += "\n\nThe log is " + QString::fromStdString(Job->LogPath());
    else if (Job && !Job->LogError().empty())
        text += "\n\nNo log was written in " + QString::fromStdString(Job->Options().LogFolder) +
                ": " + QString::fromStdString(Job->LogError());
    AppMessages::Show(this, QMessageBox::Warning, QString::fromUtf8(AppInfo::Title.data()), text);
}

// Looks the job's tracks up, writes the log beside the files, and shows each track's
// checksums in its row's tooltip and the summary in the status line.
void Tfrmprg::FinishProof() {
    if (!Job || Job->Outcomes().empty())
        return;
    SetStatus("Checking the rip...");
    // The end steps and the AccurateRip look-up touch neither the ripper nor a widget.
    LookingUp = true;
    struct Done {
        bool& Flag;
        ~Done() { Flag = false; }
    } clear{LookingUp};
    Beside([this] { Job->Finish(1); });
    // The look-up may have found tracks not accurate.
    for (const auto& [track, outcome] : Job->Outcomes()) {
        QTreeWidgetItem* row = T.ListView1->topLevelItem(track.Row);
        if (row && outcome.Result == TrackResult::NotAccurate)
            Observer::ShowResult(*row, outcome.Result);
    }
    for (const TrackRecord& t : Job->Record().Tracks) {
        for (int i = 0; i < T.ListView1->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = T.ListView1->topLevelItem(i);
            if (row->text(TrackColumns::Index).toInt() + 1 == t.Number)
                row->setToolTip(TrackColumns::Status, QString::fromStdString(TrackProofText(t)));
        }
    }
    if (T.ShowSummary)
        T.ShowSummary(QString::fromStdString(RipSummary(Job->Record())));
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

Tfrmprg::~Tfrmprg() = default;

int RunExtractionJob(const TJobTargets& targets, bool toWave, std::optional<VorbisKind> vorbis) {
    Tfrmprg dlg(targets);
    dlg.ToWave = toWave;
    dlg.Vorbis = vorbis;
    return dlg.exec();
}
