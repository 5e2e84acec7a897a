// Runs a real MP3 job on a disc image in the real main window and takes a screenshot
// of the screen half-way through the second track, or at PERCENT of the first:
//   show_progress IMAGE.cue SHOT.png OUTDIR [PERCENT]
// It pauses there for a second and a half so that the dialog's timer shows the figure,
// and takes SHOT.png-done.png of the window once the job has ended.
#include "ImageWindow.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/SkinLook.h"
#include "ui/uMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: show_progress IMAGE.cue SHOT.png OUTDIR [PERCENT]\n");
        return 2;
    }
    UseDiscImage(argv[1]);
    const int wantedTrack = argc == 5 ? 1 : 2;
    const int wantedPercent = argc == 5 ? std::atoi(argv[4]) : 50;
    TVelmoraApplication app(argc, argv);
    ApplySkinLook(app);
    TfrmMain window;
    frmMain = &window;
    window.show();
    const QString shot = QString::fromLocal8Bit(argv[2]);
    int track = 0;
    bool taken = false;
    QTimer::singleShot(500, &window, [&] {
        PickImageDrive(window, argv[3]);
        const TProgressEvent store = window.RIPPER->OnProgress;
        window.RIPPER->OnProgress = [&, store](TCDRIP* sender, uint16_t percent) {
            store(sender, percent);
            // The track being read, as the progress dialog names it ("(2 of 3)").
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                if (auto* status = dialog->findChild<QLabel*>("lblStatus")) {
                    for (int n : {1, 2})
                        if (status->text().contains(QString("(%1 of").arg(n)))
                            track = n;
                }
            }
            if (track != wantedTrack || percent < wantedPercent || taken)
                return;
            taken = true;
            QEventLoop wait;
            QTimer::singleShot(1500, &wait, &QEventLoop::quit);
            wait.exec();
            QProcess::execute("import", {"-window", "root", shot});
        };
        window.ExtractTracksToMP3Files1Click();
        QTimer::singleShot(300, &app, [&] {
            QProcess::execute("import", {"-window", "root", shot + "-done.png"});
            QApplication::quit();
        });
    });
    const int result = app.exec();
    frmMain = nullptr;
    std::printf("%s\n", taken ? "screenshot taken" : "no screenshot");
    return taken ? result : 1;
}
