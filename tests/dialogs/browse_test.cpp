// The folder browser component and its window: properties, flags, the selection,
// running it, and fitting the status line.
#include "dialog_test_util.h"
#include "ui/BrowseDr.h"
#include "ui/FolderBrowser.h"

#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

using WhileOpen = std::function<void(TdfsBrowseDirectoryDlg*, TFolderBrowserDialog*)>;

// Runs Execute; once the window is set up, `whileOpen` runs inside its event loop and
// the window is then confirmed or cancelled like a user would.
bool RunBrowser(TdfsBrowseDirectoryDlg& dlg, bool confirm, const WhileOpen& whileOpen = {}) {
    dlg.OnCreate = [confirm, whileOpen](TdfsBrowseDirectoryDlg* sender) {
        TFolderBrowserDialog* window = sender->Handle();
        QTimer::singleShot(0, window, [sender, window, confirm, whileOpen] {
            if (whileOpen)
                whileOpen(sender, window);
            if (!window->isVisible())
                return; // already closed by what ran while it was open
            if (confirm)
                window->OKButton()->click();
            else
                window->reject();
        });
    };
    return dlg.Execute();
}

QLabel* LabelOfWidth(int width) {
    auto* label = new QLabel;
    label->setFixedWidth(width);
    return label;
}

int WidthOf(const QLabel* label, const QString& text) {
    return QFontMetrics(label->font()).horizontalAdvance(text);
}

class BrowseTest : public TempHomeTest {};

} // namespace

TEST_F(BrowseTest, StartsWithItsDefaults) {
    TdfsBrowseDirectoryDlg dlg;
    EXPECT_EQ(dlg.Version(), "TdfsBrowseDirectoryDlg v2.60");
    dlg.SetVersion("other");
    EXPECT_EQ(dlg.Version(), "TdfsBrowseDirectoryDlg v2.60");
    EXPECT_TRUE(dlg.Selection().isEmpty());
    EXPECT_TRUE(dlg.Title().isEmpty());
    EXPECT_EQ(dlg.Root(), idDesktop);
    EXPECT_EQ(dlg.Options().Bits(), 0);
    EXPECT_TRUE(dlg.Center());
    EXPECT_TRUE(dlg.StatusText().isEmpty());
    EXPECT_TRUE(dlg.FitStatusText());
    EXPECT_TRUE(dlg.EnableOKButton());
    EXPECT_EQ(dlg.ImageIndex(), -1);
    EXPECT_TRUE(dlg.Caption().isEmpty());
    EXPECT_FALSE(dlg.ShowSelectionInStatus());
    EXPECT_FALSE(dlg.SelectionPIDL().has_value());
    EXPECT_EQ(dlg.Handle(), nullptr);
}

struct ImpliedFlagsCase {
    const char* name;
    TBrowseFlags given;
    TBrowseFlags stored;
};

class ImpliedFlagsTest : public testing::TestWithParam<ImpliedFlagsCase> {};

TEST_P(ImpliedFlagsTest, OptionsSetterAddsWhatAFlagImplies) {
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions(GetParam().given);
    EXPECT_EQ(dlg.Options().Bits(), GetParam().stored.Bits());
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ImpliedFlagsTest,
    testing::Values(
        ImpliedFlagsCase{"NewDialogStyleAlone", {bfNewDialogStyle}, {bfNewDialogStyle}},
        ImpliedFlagsCase{"EditBoxAlone", {bfEditBox}, {bfEditBox}},
        ImpliedFlagsCase{"UseNewUIAddsEditBoxAndNewStyle",
                         {bfUseNewUI},
                         {bfUseNewUI, bfEditBox, bfNewDialogStyle}},
        ImpliedFlagsCase{"ShareableAddsNewUIAndWhatItImplies",
                         {bfShareable},
                         {bfShareable, bfUseNewUI, bfEditBox, bfNewDialogStyle}},
        ImpliedFlagsCase{"URLsAddFilesAndNewUI",
                         {bfIncludeURLs},
                         {bfIncludeURLs, bfIncludeFiles, bfUseNewUI, bfEditBox, bfNewDialogStyle}},
        ImpliedFlagsCase{
            "ComputersAndPrintersAccepted", {bfComputers, bfPrinters}, {bfComputers, bfPrinters}}),
    [](const auto& row) { return std::string(row.param.name); });

struct ShellFlagsCase {
    const char* name;
    TBrowseFlags options;
    bool statusLine;
    uint32_t expected;
};

class ShellFlagsTest : public testing::TestWithParam<ShellFlagsCase> {};

TEST_P(ShellFlagsTest, WindowReceivesTheFlagsOfTheSetBits) {
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions(GetParam().options);
    EXPECT_EQ(dlg.ShellFlags(GetParam().statusLine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ShellFlagsTest,
    testing::Values(
        // The options dialog's browser: new style plus the status line.
        ShellFlagsCase{"OptionsDialogInstance", {bfNewDialogStyle}, true, 0x0040 | 0x0004},
        ShellFlagsCase{"EditBoxAddsValidate", {bfEditBox}, false, 0x0010 | 0x0020},
        ShellFlagsCase{"DirectoriesOnly", {bfDirectoriesOnly}, false, 0x0001},
        ShellFlagsCase{"DomainAncestorsComputers",
                       {bfDomainOnly, bfAncestors, bfComputers},
                       false,
                       0x0002 | 0x0008 | 0x1000},
        ShellFlagsCase{"PrintersAndFiles", {bfPrinters, bfIncludeFiles}, false, 0x2000 | 0x4000},
        // URLs imply files, new UI (0x50), edit box with validation and the new style.
        ShellFlagsCase{"URLsWithAllTheyImply",
                       {bfIncludeURLs},
                       false,
                       0x0080 | 0x4000 | 0x0050 | 0x0010 | 0x0020 | 0x0040},
        ShellFlagsCase{"ShareableWithAllItImplies",
                       {bfShareable},
                       false,
                       0x8000 | 0x0050 | 0x0010 | 0x0020 | 0x0040},
        ShellFlagsCase{"NothingButStatus", {}, true, 0x0004}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(BrowseTest, SelectionOfAnExistingFolderGetsAFinalSlashAndBecomesTheStatus) {
    const QString music = MakeDir("Music");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetShowSelectionInStatus(true);
    dlg.SetSelection(music);
    EXPECT_EQ(dlg.Selection(), music + "/");
    EXPECT_EQ(dlg.StatusText(), music + "/");
}

TEST_F(BrowseTest, SelectionSetterCases) {
    const QString music = MakeDir("Music");
    QFile file(root + "/notes.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const struct {
        const char* name;
        QString given;
        QString stored;
    } rows[] = {
        {"folder with its slash stays", music + "/", music + "/"},
        {"missing folder kept as typed", root + "/Missing", root + "/Missing"},
        {"file is no folder", root + "/notes.txt", root + "/notes.txt"},
        {"the root folder keeps its one slash", "/", "/"},
    };
    for (const auto& row : rows) {
        TdfsBrowseDirectoryDlg dlg;
        dlg.SetSelection(row.given);
        EXPECT_EQ(dlg.Selection(), row.stored) << row.name;
        EXPECT_TRUE(dlg.StatusText().isEmpty()) << row.name << ": status only on request";
    }
}

TEST_F(BrowseTest, ExecuteWithTheOptionsDialogsSettings) {
    const QString music = MakeDir("Music/Rock");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetTitle("Choose folder where ripped files should be saved:");
    dlg.SetOptions({bfNewDialogStyle});
    dlg.SetCaption("Browse for folder");
    dlg.SetShowSelectionInStatus(true);
    dlg.SetSelection(music);
    struct {
        QString selected, title, caption, status;
        bool statusShown = false, okEnabled = false, newFolder = false, edit = true;
        QPoint pos, centre;
    } seen;
    const bool chosen =
        RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg* s, TFolderBrowserDialog* w) {
            seen.selected = w->SelectedPath();
            seen.title = w->findChild<QLabel*>("title")->text();
            seen.caption = s->Caption();
            seen.status = w->StatusLine()->text();
            seen.statusShown = w->StatusLine()->isVisible();
            seen.okEnabled = w->OKButton()->isEnabled();
            seen.newFolder = w->NewFolderButton() != nullptr;
            seen.edit = w->EditBox() != nullptr;
            seen.pos = w->pos();
            const QRect screen = w->screen()->geometry();
            seen.centre =
                QPoint((screen.width() - w->width()) / 2, (screen.height() - w->height()) / 2);
        });
    ASSERT_TRUE(chosen);
    // The window is handed the path without its final slash and selects that folder.
    EXPECT_EQ(seen.selected, music);
    EXPECT_EQ(seen.title, "Choose folder where ripped files should be saved:");
    EXPECT_EQ(seen.caption, "Browse for folder");
    EXPECT_TRUE(seen.statusShown);
    EXPECT_TRUE(seen.okEnabled);
    EXPECT_TRUE(seen.newFolder);
    EXPECT_FALSE(seen.edit);
    EXPECT_EQ(seen.pos, seen.centre);
    EXPECT_FALSE(seen.status.isEmpty());
    // After OK: the chosen path as the window returned it, and its item.
    EXPECT_EQ(dlg.Selection(), music);
    ASSERT_TRUE(dlg.SelectionPIDL().has_value());
    EXPECT_EQ(*dlg.SelectionPIDL(), music);
    EXPECT_EQ(dlg.DisplayName(), "Rock");
    EXPECT_EQ(dlg.Handle(), nullptr);
    EXPECT_EQ(dlg.Caption(), "Browse for folder");
}

TEST_F(BrowseTest, CancelReturnsFalseAndEmptiesTheSelection) {
    const QString music = MakeDir("Music");
    TdfsBrowseDirectoryDlg dlg;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg* s, TFolderBrowserDialog*) {
        s->SetSelection(music);
    }));
    ASSERT_TRUE(dlg.SelectionPIDL().has_value());
    EXPECT_FALSE(RunBrowser(dlg, false));
    EXPECT_TRUE(dlg.Selection().isEmpty());
    EXPECT_FALSE(dlg.SelectionPIDL().has_value());
}

TEST_F(BrowseTest, EmptySelectionClearsTheStoredItem) {
    const QString music = MakeDir("Music");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetSelection(music);
    ASSERT_TRUE(RunBrowser(dlg, true));
    ASSERT_TRUE(dlg.SelectionPIDL().has_value());
    dlg.SetSelection("");
    EXPECT_TRUE(dlg.Selection().isEmpty());
    EXPECT_FALSE(dlg.SelectionPIDL().has_value());
}

TEST_F(BrowseTest, SettersReachTheOpenWindow) {
    const QString first = MakeDir("A/One");
    const QString second = MakeDir("B/Two");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetSelection(first);
    dlg.SetEnableOKButton(false);
    bool okAtStart = true, okAfter = false;
    QString selectedAfter, captionAfter, statusAfter;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg* s, TFolderBrowserDialog* w) {
        okAtStart = w->OKButton()->isEnabled();
        s->SetEnableOKButton(true);
        okAfter = w->OKButton()->isEnabled();
        s->SetSelection(second);
        selectedAfter = w->SelectedPath();
        s->SetCaption("Pick one");
        captionAfter = w->windowTitle();
        s->SetFitStatusText(false);
        s->SetStatusText("plain words");
        statusAfter = w->StatusLine()->text();
    }));
    EXPECT_FALSE(okAtStart);
    EXPECT_TRUE(okAfter);
    EXPECT_EQ(selectedAfter, second);
    EXPECT_EQ(captionAfter, "Pick one");
    EXPECT_EQ(statusAfter, "plain words");
    EXPECT_EQ(dlg.Selection(), second);
}

TEST_F(BrowseTest, SelectionChangesReachTheEventAndTheStatus) {
    const QString one = MakeDir("Music/One");
    const QString two = MakeDir("Music/Two");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetShowSelectionInStatus(true);
    dlg.SetFitStatusText(false);
    QStringList reported;
    dlg.OnSelChanged = [&](TdfsBrowseDirectoryDlg*, const QString& path, const QString& item) {
        reported << path;
        EXPECT_EQ(path, item);
    };
    QString status;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg* s, TFolderBrowserDialog* w) {
        w->SetSelectionPath(one);
        w->SetSelectionPath(two);
        status = s->StatusText();
    }));
    ASSERT_GE(reported.size(), 2);
    EXPECT_EQ(reported.at(reported.size() - 2), one);
    EXPECT_EQ(reported.last(), two);
    EXPECT_EQ(status, two);
    EXPECT_EQ(dlg.Selection(), two);
}

TEST_F(BrowseTest, RejectedTypedNameKeepsTheWindowOpenUnlessCancelled) {
    const QString music = MakeDir("Music");
    for (const bool cancel : {false, true}) {
        TdfsBrowseDirectoryDlg dlg;
        dlg.SetOptions({bfEditBox});
        dlg.SetSelection(music);
        QStringList rejected;
        dlg.OnValidateFailed = [&](TdfsBrowseDirectoryDlg*, const QString& path, bool& c) {
            rejected << path;
            c = cancel;
        };
        bool stillOpen = false;
        const bool chosen =
            RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg*, TFolderBrowserDialog* w) {
                w->EditBox()->setText("No Such Folder");
                w->OKButton()->click();
                stillOpen = w->isVisible();
                w->EditBox()->setText(music); // an existing folder, typed in full
            });
        EXPECT_EQ(rejected, QStringList{"No Such Folder"}) << cancel;
        EXPECT_EQ(stillOpen, !cancel);
        EXPECT_EQ(chosen, !cancel);
        EXPECT_EQ(dlg.Selection(), cancel ? QString() : music);
    }
}

TEST_F(BrowseTest, TypedSiblingNameIsChosen) {
    MakeDir("Music/Rock");
    const QString jazz = MakeDir("Music/Jazz");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions({bfEditBox});
    dlg.SetSelection(root + "/Music/Rock");
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg*, TFolderBrowserDialog* w) {
        EXPECT_EQ(w->EditBox()->text(), "Rock");
        w->EditBox()->setText("Jazz");
    }));
    EXPECT_EQ(dlg.Selection(), jazz);
}

TEST_F(BrowseTest, NewFolderIsMadeInsideTheSelection) {
    const QString music = MakeDir("Music");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions({bfNewDialogStyle});
    dlg.SetSelection(music);
    QString first, second;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg*, TFolderBrowserDialog* w) {
        first = w->NewFolderClick();
        w->SetSelectionPath(music);
        second = w->NewFolderClick();
    }));
    EXPECT_EQ(first, music + "/New Folder");
    EXPECT_EQ(second, music + "/New Folder (2)");
    EXPECT_TRUE(QDir(second).exists());
    EXPECT_EQ(dlg.Selection(), second);
}

// /music/Rock/Live/Album loses one folder at the front per step until it fits.
TEST(FitPathTest, ShortensFolderByFolderUntilItFits) {
    const QString path = "/music/Rock/Live/Album";
    const QStringList steps = {"/music/Rock/Live/Album",
                               "/.../Rock/Live/Album",
                               "/.../Live/Album",
                               "/.../Album",
                               ".../Album",
                               "Album"};
    std::unique_ptr<QLabel> probe(LabelOfWidth(10));
    for (const QString& step : steps) {
        std::unique_ptr<QLabel> line(LabelOfWidth(WidthOf(probe.get(), step)));
        EXPECT_EQ(TdfsBrowseDirectoryDlg::FitPathToControl(line.get(), path), step)
            << step.toStdString();
        // One pixel less is one step further.
        line->setFixedWidth(WidthOf(probe.get(), step) - 1);
        const QString shorter = TdfsBrowseDirectoryDlg::FitPathToControl(line.get(), path);
        if (step != steps.last())
            EXPECT_EQ(shorter, steps.at(steps.indexOf(step) + 1));
        else
            EXPECT_EQ(shorter, "Album"); // nothing left to drop: the name stays whole
    }
}

TEST(FitPathTest, FolderWithFinalSlashAndDottedNames) {
    std::unique_ptr<QLabel> line(LabelOfWidth(1));
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitPathToControl(line.get(), "/home/ann/"), "");
    line->setFixedWidth(WidthOf(line.get(), "/.../b/c/x"));
    // A folder whose name starts with a dot is dropped like any other, alone.
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitPathToControl(line.get(), "/.WW/b/c/x"), "/.../b/c/x");
}

TEST(FitTextTest, CutsWithThreeDots) {
    std::unique_ptr<QLabel> line(LabelOfWidth(1000));
    const QString text = "Hello World";
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitTextToControl(line.get(), text), text);
    line->setFixedWidth(WidthOf(line.get(), "Hello W..."));
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitTextToControl(line.get(), text), "Hello W...");
    line->setFixedWidth(WidthOf(line.get(), "Hello W...") - 1);
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitTextToControl(line.get(), text), "Hello ...");
    line->setFixedWidth(0);
    EXPECT_EQ(TdfsBrowseDirectoryDlg::FitTextToControl(line.get(), text), "...");
}

TEST_F(BrowseTest, StatusLineIsFittedInTheOpenWindow) {
    const QString deep = MakeDir("Music/Rock/Live/Album");
    TdfsBrowseDirectoryDlg dlg;
    QString pathShown, textShown, unfitted;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg* s, TFolderBrowserDialog* w) {
        QLabel* line = w->StatusLine();
        line->setFixedWidth(WidthOf(line, "/.../Live/Album"));
        s->SetStatusText(deep); // an existing folder: shortened folder by folder
        pathShown = line->text();
        s->SetStatusText("This text is much wider than the line"); // plain text: cut
        textShown = line->text();
        s->SetFitStatusText(false);
        unfitted = line->text();
    }));
    EXPECT_EQ(pathShown, "/.../Live/Album");
    EXPECT_TRUE(textShown.endsWith("...")) << textShown.toStdString();
    EXPECT_TRUE(QString("This text is much wider than the line").startsWith(textShown.chopped(3)));
    EXPECT_EQ(unfitted, "This text is much wider than the line");
}

TEST_F(BrowseTest, WiderWindowShowsMoreOfThePath) {
    const QString deep =
        MakeDir("Music/A Rather Long Artist Name/A Quite Long Album Title/Disc One");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetOptions({bfNewDialogStyle}); // the new style may be resized
    dlg.SetStatusText(deep);
    QString narrow, wide;
    int narrowLine = 0;
    ASSERT_TRUE(RunBrowser(dlg, true, [&](TdfsBrowseDirectoryDlg*, TFolderBrowserDialog* w) {
        QLabel* line = w->StatusLine();
        const int margins = w->width() - line->width();
        w->resize(w->minimumSizeHint().width(), w->height());
        narrow = line->text();
        narrowLine = line->width();
        w->resize(margins + WidthOf(line, deep) + 10, w->height());
        wide = line->text();
    }));
    EXPECT_NE(narrow, deep);
    EXPECT_TRUE(narrow.endsWith("/Disc One")) << narrow.toStdString();
    std::unique_ptr<QLabel> probe(LabelOfWidth(10));
    EXPECT_LE(WidthOf(probe.get(), narrow), narrowLine);
    EXPECT_EQ(wide, deep);
}

TEST_F(BrowseTest, DirectoryTest) {
    const QString music = MakeDir("Music");
    QFile file(root + "/a.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const struct {
        QString path;
        bool exists;
    } rows[] = {{"/", true},
                {music, true},
                {music + "/", true},
                {root + "/a.txt", false},
                {root + "/none", false},
                {"", false}};
    for (const auto& row : rows)
        EXPECT_EQ(TdfsBrowseDirectoryDlg::DirectoryExists(row.path), row.exists)
            << row.path.toStdString();
}

TEST_F(BrowseTest, RootsMapToFolders) {
    const QString documents = MakeDir("Documents");
    const QString desktop = MakeDir("Desktop");
    EXPECT_EQ(RootFolder(idDesktop), "/");
    EXPECT_EQ(RootFolder(idDrives), "/");
    EXPECT_EQ(RootFolder(idDesktopExpanded), "/");
    EXPECT_EQ(RootFolder(idPrinters), "/"); // no folder here: the whole tree
    EXPECT_EQ(RootFolder(idPersonal), documents);
    EXPECT_EQ(RootFolder(idDesktopDirectory), desktop);
    EXPECT_EQ(RootFolder(idFavorites), root);
    EXPECT_EQ(RootFolder(idTemplates), "/"); // ~/Templates does not exist
}

TEST_F(BrowseTest, RootLimitsTheTree) {
    const QString documents = MakeDir("Documents/Letters");
    const QString outside = MakeDir("Music");
    TdfsBrowseDirectoryDlg dlg;
    dlg.SetRoot(idPersonal);
    bool inside = false, beyond = true;
    QString rootPath;
    ASSERT_FALSE(RunBrowser(dlg, false, [&](TdfsBrowseDirectoryDlg*, TFolderBrowserDialog* w) {
        rootPath = w->RootPath();
        inside = w->SetSelectionPath(documents);
        beyond = w->SetSelectionPath(outside);
    }));
    EXPECT_EQ(rootPath, root + "/Documents");
    EXPECT_TRUE(inside);
    EXPECT_FALSE(beyond);
}
