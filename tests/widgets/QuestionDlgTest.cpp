// The question dialog: real dialogs answered by keys and clicks from a timer, the
// beep recorded through its hook.
#include "ui/QuestionDlg.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <ostream>

namespace {

// The captions of a dialog's buttons in the order they stand.
QStringList Captions(QDialog& dlg) {
    QStringList out;
    for (QObject* child : dlg.children())
        if (auto* b = qobject_cast<QPushButton*>(child))
            out << b->text();
    return out;
}

class QuestionDlgTest : public testing::Test {
protected:
    std::vector<TBeepKind> beeps;
    void SetUp() override {
        ClearNextAnswers();
        SetBeepHook([this](TBeepKind k) { beeps.push_back(k); });
    }
    void TearDown() override {
        SetBeepHook({});
        SetQuestionHook({});
        ClearNextAnswers();
    }
    // Shows the overwrite question for real and lets `act` answer it from the event loop.
    int AskOverwrite(std::function<void(QDialog&)> act) {
        QTimer::singleShot(0, [act] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            act(*dlg);
        });
        return QuestionDlg("/music/Track01.mp3 already exists,do you want to replace it?",
                           "Velmora MP3 CD Ripper 2.3", mtWarning, mbYes | mbNo | mbYesToAll,
                           {"&Yes", "&No", "Replace &All"});
    }
};

void Key(QDialog& dlg, int key) {
    QWidget* target = dlg.focusWidget() ? dlg.focusWidget() : &dlg;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

} // namespace

TEST_F(QuestionDlgTest, OverwriteQuestionLooksRight) {
    QStringList seen;
    QString title, message;
    SetQuestionHook([&](QDialog& dlg) {
        seen = Captions(dlg);
        title = dlg.windowTitle();
        message = dlg.findChild<QLabel*>("Message")->text();
        return int(mrYes);
    });
    EXPECT_EQ(QuestionDlg("/music/a.mp3 already exists,do you want to replace it?", "T", mtWarning,
                          mbYes | mbNo | mbYesToAll, {"&Yes", "&No", "Replace &All"}),
              mrYes);
    EXPECT_EQ(seen, QStringList({"&Yes", "&No", "Replace &All"}));
    EXPECT_EQ(title, "T");
    EXPECT_EQ(message, "/music/a.mp3 already exists,do you want to replace it?");
}

struct CaptionCase {
    const char* name;
    TMsgDlgButtons buttons;
    QStringList captions;
    QStringList expected;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const CaptionCase& row, std::ostream* os) {
    *os << row.name;
}

class QuestionDlgCaptions : public QuestionDlgTest,
                            public testing::WithParamInterface<CaptionCase> {};

TEST_P(QuestionDlgCaptions, AppliedInOrder) {
    QStringList seen;
    SetQuestionHook([&](QDialog& dlg) {
        seen = Captions(dlg);
        return int(mrOk);
    });
    QuestionDlg("m", "t", mtConfirmation, GetParam().buttons, GetParam().captions);
    EXPECT_EQ(seen, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuestionDlgCaptions,
    testing::Values(
        CaptionCase{"Shorter", mbYes | mbNo | mbCancel, {"Sure"}, {"Sure", "&No", "Cancel"}},
        CaptionCase{"Longer", mbOK | mbCancel, {"A", "B", "C"}, {"A", "B"}},
        CaptionCase{"EmptyKeeps",
                    mbAbort | mbRetry | mbIgnore,
                    {"", "Again"},
                    {"&Abort", "Again", "&Ignore"}},
        CaptionCase{"StandardOrder",
                    mbYesToAll | mbHelp | mbNoToAll | mbAll | mbOK,
                    {},
                    {"OK", "&All", "N&o to All", "Yes to &All", "&Help"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(QuestionDlgTest, EnterAnswersYes) {
    EXPECT_EQ(AskOverwrite([](QDialog& dlg) { Key(dlg, Qt::Key_Return); }), mrYes);
}

TEST_F(QuestionDlgTest, EscAnswersNo) {
    EXPECT_EQ(AskOverwrite([](QDialog& dlg) { Key(dlg, Qt::Key_Escape); }), mrNo);
}

TEST_F(QuestionDlgTest, ReplaceAllAnswersYesToAll) {
    EXPECT_EQ(AskOverwrite([](QDialog& dlg) { dlg.findChild<QPushButton*>("YesToAll")->click(); }),
              mrYesToAll);
}

TEST_F(QuestionDlgTest, TitleBarCloseAnswersCancel) {
    EXPECT_EQ(AskOverwrite([](QDialog& dlg) { dlg.close(); }), mrCancel);
}

TEST_F(QuestionDlgTest, DefaultAndCancelButtons) {
    struct Row {
        TMsgDlgButtons buttons;
        int enter, esc;
    };
    // Enter: OK, else Yes, else Retry. Esc: Cancel, else No, else OK.
    const Row rows[] = {{mbOK | mbCancel, mrOk, mrCancel},
                        {mbYes | mbNo | mbOK, mrOk, mrNo},
                        {mbAbort | mbRetry | mbIgnore | mbOK, mrOk, mrOk},
                        {mbRetry | mbCancel, mrRetry, mrCancel}};
    for (const Row& row : rows) {
        for (int key : {int(Qt::Key_Return), int(Qt::Key_Escape)}) {
            QTimer::singleShot(
                0, [key] { Key(*qobject_cast<QDialog*>(QApplication::activeModalWidget()), key); });
            const int result = QuestionDlg("m", "t", mtCustom, row.buttons, {});
            EXPECT_EQ(result, key == Qt::Key_Return ? row.enter : row.esc)
                << "buttons " << row.buttons << " key " << key;
        }
    }
}

TEST_F(QuestionDlgTest, BeepPerKind) {
    SetQuestionHook([](QDialog&) { return int(mrOk); });
    for (TMsgDlgType kind : {mtWarning, mtError, mtInformation, mtConfirmation, mtCustom})
        QuestionDlg("m", "t", kind, mbOK, {});
    const std::vector<TBeepKind> expected = {MB_ICONEXCLAMATION, MB_ICONHAND, MB_OK,
                                             MB_ICONQUESTION, MB_OK};
    EXPECT_EQ(beeps, expected);
}

TEST_F(QuestionDlgTest, NextAnswersComeFirstOneEach) {
    int hooked = 0;
    SetQuestionHook([&](QDialog&) {
        ++hooked;
        return int(mrNo);
    });
    SetNextAnswer(mrYesToAll);
    SetNextAnswer(mrYes);
    EXPECT_EQ(QuestionDlg("m", "t", mtWarning, mbYes | mbNo, {}), mrYesToAll);
    EXPECT_EQ(QuestionDlg("m", "t", mtWarning, mbYes | mbNo, {}), mrYes);
    EXPECT_EQ(QuestionDlg("m", "t", mtWarning, mbYes | mbNo, {}), mrNo);
    EXPECT_EQ(hooked, 1);
    EXPECT_EQ(beeps.size(), 3u);
}
