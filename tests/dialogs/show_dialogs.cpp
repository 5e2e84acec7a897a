// Shows one of the two dialogs as a user would see it, for a look or a screenshot:
//   show_dialogs options    the options dialog on the default settings
//   show_dialogs browse     the output-folder browser as the options dialog opens it
#include "settings/globals.h"
#include "ui/BrowseDr.h"
#include "ui/Options.h"
#include "ui/SkinLook.h"

#include <QApplication>
#include <QDir>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ApplySkinLook(app);
    SetDefaultSettings();
    if (argc > 1 && std::strcmp(argv[1], "browse") == 0) {
        TfrmOptions options;
        TdfsBrowseDirectoryDlg* browser = options.dfsBrowseDirectoryDlgOutputDir;
        // A folder given after "browse" is typed into the box; without one the box is empty.
        if (argc > 2)
            browser->SetSelection(QString::fromLocal8Bit(argv[2]));
        return browser->Execute() ? 0 : 1;
    }
    TfrmOptions options;
    return options.exec() == 1 ? 0 : 1;
}
