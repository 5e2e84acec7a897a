// velmora-ripper: the program's entry. Settings get their defaults, the application
// object and the main window are created (the window opens the CD ripping library),
// and the message loop runs until the window closes.
#include "platform/AppInfo.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/SkinLook.h"
#include "ui/uMain.h"

#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void PrintUsage() {
    std::printf("usage: %s [IMAGE...]\n\n"
                "Lists the tracks of an audio CD, plays them and extracts them to WAV, MP3,\n"
                "FLAC or Opus files. Each IMAGE (a .cue, .toc or .nrg disc image) is added as\n"
                "a virtual drive after the machine's CD drives.\n\n"
                "  --help     show this text and exit\n"
                "  --version  show the version and exit\n",
                AppInfo::ProgramName.data());
}

// Disc images named on the command line join those already in CDRIP_IMAGES, which the
// CD ripping library reads when it starts.
void AddImages(const std::vector<std::string>& images) {
    std::string list;
    if (const char* existing = std::getenv("CDRIP_IMAGES"))
        list = existing;
    for (const std::string& image : images) {
        if (!list.empty())
            list += ':';
        list += QFileInfo(QString::fromLocal8Bit(image.c_str())).absoluteFilePath().toStdString();
    }
    if (!list.empty())
        ::setenv("CDRIP_IMAGES", list.c_str(), 1);
}

// 0 to go on, or the exit code: 1 after an unknown option, -1 after --help/--version.
int ParseArguments(int argc, char** argv, std::vector<std::string>& images) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage();
            return -1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s (%s)\n", AppInfo::ProgramName.data(), AppInfo::Version.data(),
                        AppInfo::Title.data());
            return -1;
        }
        // Qt's own options with a value pass through to the application object.
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "-display") == 0) {
            ++i;
            continue;
        }
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n", AppInfo::ProgramName.data(), argv[i]);
            return 1;
        }
        images.emplace_back(argv[i]);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> images;
    if (const int code = ParseArguments(argc, argv, images); code != 0)
        return code < 0 ? 0 : code;
    AddImages(images);
    SetDefaultSettings();
    TVelmoraApplication app(argc, argv);
    ApplySkinLook(app);
    int result = 1;
    try {
        TfrmMain window;
        frmMain = &window;
        window.show();
        result = app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", AppInfo::ProgramName.data(), e.what());
    }
    frmMain = nullptr;
    return result;
}
