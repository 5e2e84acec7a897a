#pragma once

#include "metadata/Id3v2Tag.h"
#include "metadata/TrackTags.h"
#include "ripjob/VorbisFormats.h"

#include <QDialog>
#include <QString>
#include <QUrl>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class TCDRIP;
class EncoderFormat;
class RipJob;
struct JobProgress;
class TGradProgress;
class TMP3Info;

// Columns of a track-list row: the caption (title), then its sub-items "No.",
// "Duration", "Status" and the hidden row index (SubItems[0] to SubItems[3]).
namespace TrackColumns {
constexpr int Title = 0;
constexpr int No = 1;
constexpr int Duration = 2;
constexpr int Status = 3;
constexpr int Index = 4;
} // namespace TrackColumns

// What the extraction job reaches in the main window: the ripper, the tag component,
// the track list and the progress figure, and the window's error report. ShellOpen
// opens the output folder (the desktop's default handler when empty).
struct TJobTargets {
    TCDRIP* RIPPER = nullptr;
    TMP3Info* MP3Info1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    int* RipPercent = nullptr;
    std::function<void(const std::exception&)> HandleProc;
    std::function<void(const QUrl&)> ShellOpen;
    // Shows the job's summary ("6 of 6 tracks accurately ripped") in the status line.
    std::function<void(const QString&)> ShowSummary;
    // The tag fields of row `row`: the ID3v2 tag of an MP3 file, the Vorbis comments of
    // a FLAC or Opus file. Read on the window's thread for every ticked row when the job
    // starts, so that the encoder threads reach no widget; empty: no ID3v2 tag, no
    // comments beyond the encoder's own.
    std::function<Metadata::TagFields(int row)> TrackFields;
    // True when row `row` shows a title that came from CD-TEXT or MusicBrainz: its "/"
    // is part of the file's name, not a folder. Read when the job starts; empty: every
    // title counts as typed by the user.
    std::function<bool(int row)> TitleFromOutside;
    // The disc's artist and album as the title sources found them: the log names them,
    // and the album names the log (the disc's key when there is none).
    std::string Artist;
    std::string Album;
    // The JSON report of the job, as velmora-rip --report writes it; empty: none.
    std::string ReportPath;
    // The release's front cover, written once beside the files as cover.jpg or
    // cover.png when the job wrote a track (never replacing one); null: none.
    std::shared_ptr<const Metadata::CoverImage> Cover;
    // Why the release has no cover ("" when none was asked for or it came): said once,
    // in the job's log.
    std::string CoverNote;
};

// The progress dialog: it runs one extraction job at the first tick of its timer.
// Every ticked row of the track list becomes a WAV, MP3, FLAC or Opus file in the output folder;
// the row's status becomes "OK" or "Cancelled".
class Tfrmprg : public QDialog {
public:
    explicit Tfrmprg(TJobTargets targets, QWidget* parent = nullptr);
    ~Tfrmprg() override;

    // True: WAV files; false: MP3 files, or FLAC or Opus files when Vorbis says so. Set
    // before exec().
    bool ToWave = false;
    std::optional<VorbisKind> Vorbis;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblPath = nullptr;
    // The whole job's share done and roughly how long is left, between the two lines
    // above ("All tracks: 40% done, about 1:20 left"); empty until the job reports.
    QLabel* lblJob = nullptr;
    TGradProgress* prgTotalProgress = nullptr;
    QPushButton* btnCancel = nullptr;
    QTimer* Timer1 = nullptr;

    bool Cancelled = false;
    bool StartPending = false;

    // Time limit of the web look-ups of a job (the drive's read offset, AccurateRip);
    // tests shorten it.
    static long LookupSeconds;

    void FormShow();
    void Timer1Timer();
    void btnCancelClick();
    // The output file name of track-list row Index, always ending in ".wav".
    QString GetOutputfilename(int Index) const;
    // Shows how far the whole job is in lblJob.
    void ShowJobProgress(const JobProgress& progress);

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void reject() override;

private:
    class Observer;
    void CreateControls();
    void SetStatus(const QString& text);
    void RunJob();
    int WrapUp();
    void FinishProof();
    // A user's mistake, not a fault of the program (a folder that cannot be written):
    // said in a warning box with where the log went, or why there is none.
    void ShowFailure(const std::string& reason);
    // The failed track's row, and the ticked rows the job did not reach.
    void MarkFailed(int failedRow, const std::string& reason);

    TJobTargets T;
    bool Running = false;
    bool LookingUp = false; // a web look-up of the job runs beside the window
    QString LastName;
    std::optional<int> LastAnswer;
    std::string Failure; // the first failed or refused track's reason
    int FailedRow = -1;  // its row
    std::unique_ptr<EncoderFormat> Mp3;
    std::unique_ptr<EncoderFormat> Encoded; // FLAC or Opus
    std::unique_ptr<Observer> Watcher;
    // The extraction with its CRCs, AccurateRip results and log.
    std::unique_ptr<RipJob> Job;
};

// Creates the progress dialog for one job, shows it modally and returns its modal
// result (mrCancel when the user cancelled, mrOk otherwise).
int RunExtractionJob(const TJobTargets& targets, bool toWave,
                     std::optional<VorbisKind> vorbis = std::nullopt);

// lblJob's line: "All tracks: 40% done", and ", about 1:20 left" once the job has an
// estimate (whole seconds, rounded up; hours as "1:02:03").
QString JobProgressLine(const JobProgress& progress);

// Characters 0 to 32 removed from both ends.
QString TrimControls(const QString& s);
// Creates folder P with every missing parent; false when it could not.
bool ForceDirectories(const QString& P);
