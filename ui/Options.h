#pragma once

#include "ui/FormatOptions.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TdfsBrowseDirectoryDlg;

// A text that should have been a number: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& text);
};

// The text as an integer; raises EConvertError when it is none.
int StrToInt(const QString& text);
// The text without the blanks and control characters at either end.
QString TrimBlanks(const QString& text);

// The options dialog: edits the program-wide Settings record in place. exec() returns
// mrOk (1) after OK and mrCancel (2) after Cancel, Esc or the close box; the caller
// applies the encoder settings after mrOk. The settings file is not touched here.
class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);
    ~TfrmOptions() override;

    // Event handlers, callable directly.
    void FormCreate();
    // Takes the controls over into Settings in order; raises EConvertError at a
    // rate list without a selection, leaving the dialog open.
    void OKClick();
    void SpeedButtonOutputDirClick();
    void CheckBox6Click();
    void btnDefaultClick();

    void reject() override;

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* EditOutputDir = nullptr;
    QToolButton* SpeedButtonOutputDir = nullptr;
    QCheckBox* CheckBoxOpen = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QComboBox* ComboBox4 = nullptr;
    QComboBox* ComboBox5 = nullptr;
    QComboBox* ComboBox8 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* BitBtn1 = nullptr;
    // Opens the FLAC, Opus and ReplayGain settings; what they say is taken with OK.
    QPushButton* btnFormats = nullptr;
    void btnFormatsClick();
    // Runs the formats dialog (exec by default; a test answers it instead).
    std::function<int(TfrmFormatOptions&)> ExecFormats;
    // The values OK takes into Settings: Settings' own until the formats dialog's OK.
    FormatValues Formats;
    TdfsBrowseDirectoryDlg* dfsBrowseDirectoryDlgOutputDir = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildOutputGroup();
    void buildMP3Group();
    void buildButtons();
    void buildBrowser();
    QComboBox* addList(int row, const char* label, const QStringList& items);
    void fitCaptions();
    QCheckBox* addCheck(QWidget* parent, const QString& caption, int left, int top, int width);
    // Runs a handler of a button; what it raises reaches the program's error report.
    template <typename Handler> void Guarded(Handler handler);

    QPointer<QWidget> mainForm_;
    bool centred_ = false;
    std::exception_ptr pending_;
};
