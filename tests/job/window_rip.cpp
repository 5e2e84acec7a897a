// Runs the window's extraction job on a disc image as a click on the format's button
// would, in the real main window on the offscreen platform, and waits for it; for
// timing the window beside velmora-rip on the same disc (bench/parallel/run.sh):
//   window_rip IMAGE.cue OUTDIR [mp3|flac|opus|wav]
// The settings come from the settings file as the window reads them. It prints the
// status line's summary, then how long the progress dialog waited for its timer's first
// tick (the job starts there) and how long the job took from that tick to the dialog's
// end ("waited 1.00 s, job 16.20 s"); it exits 0 when every audio row says "OK", else 1.
// A message box is printed instead of shown and fails the run.
#include "ImageWindow.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/uMain.h"
#include "ui/uprg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: window_rip IMAGE.cue OUTDIR [mp3|flac|opus|wav]\n");
        return 2;
    }
    const char* format = argc == 4 ? argv[3] : "mp3";
    void (TfrmMain::*extract)() = nullptr;
    if (std::strcmp(format, "mp3") == 0)
        extract = &TfrmMain::ExtractTracksToMP3Files1Click;
    else if (std::strcmp(format, "flac") == 0)
        extract = &TfrmMain::ExtractTracksToFLACFiles1Click;
    else if (std::strcmp(format, "opus") == 0)
        extract = &TfrmMain::ExtractTracksToOpusFiles1Click;
    else if (std::strcmp(format, "wav") == 0)
        extract = &TfrmMain::ExtractTracksToWAVFiles1Click;
    if (extract == nullptr) {
        std::fprintf(stderr, "window_rip: unknown format %s\n", format);
        return 2;
    }
    UseDiscImage(argv[1]);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TVelmoraApplication app(argc, argv);
    int boxes = 0;
    AppMessages::SetHook([&boxes](const AppMessages::Message& m) {
        std::fprintf(stderr, "window_rip: message box: %s\n", m.Text.toLocal8Bit().constData());
        ++boxes;
        return int(QMessageBox::Ok);
    });
    AppMessages::SetOpenHook([](const QUrl&) {});
    TfrmMain window;
    frmMain = &window;
    window.show();
    int good = 0, audio = 0;
    // The dialog's job has started once its pending start is seen cleared: looked for
    // every 5 ms, inside the job too (it lets the window's events run).
    QElapsedTimer clock;
    bool pending = false;
    qint64 startedMs = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = dynamic_cast<Tfrmprg*>(QApplication::activeModalWidget());
        if (dialog == nullptr || startedMs >= 0)
            return;
        if (dialog->StartPending)
            pending = true;
        else if (pending)
            startedMs = clock.elapsed();
    });
    watch.start(5);
    QTimer::singleShot(0, &window, [&] {
        PickImageDrive(window, argv[2]);
        clock.start();
        (window.*extract)();
        const qint64 endedMs = clock.elapsed();
        if (startedMs < 0)
            startedMs = endedMs;
        std::printf("waited %.2f s, job %.2f s\n", double(startedMs) / 1000,
                    double(endedMs - startedMs) / 1000);
        for (int i = 0; i < window.RowCount(); ++i) {
            if (!window.RIPPER->IsAudioTrack(i))
                continue;
            ++audio;
            good += window.Row(i)->text(3) == "OK" ? 1 : 0;
        }
        QApplication::quit();
    });
    app.exec();
    std::printf("%d of %d tracks OK: %s\n", good, audio,
                window.lblStatus->text().toLocal8Bit().constData());
    frmMain = nullptr;
    return boxes == 0 && audio > 0 && good == audio ? 0 : 1;
}
