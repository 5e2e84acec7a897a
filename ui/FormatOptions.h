#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;

// The FLAC, Opus and ReplayGain settings, a group of their own reached from the Options
// dialog ("Formats..."), so that the Options dialog keeps its layout. It edits the
// values it is given; the Options dialog takes them into Settings with its own OK.
struct FormatValues {
    int32_t FlacCompression = 8;
    int32_t OpusBitrate = 160;
    bool ReplayGain = true;
};

class TfrmFormatOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFormatOptions(const FormatValues& values, QWidget* parent = nullptr);
    // The values as the controls show them.
    FormatValues Values() const;

    QGroupBox* Group = nullptr;
    QComboBox* FlacLevel = nullptr;   // 0 to 8
    QComboBox* OpusBitrate = nullptr; // kbit/s
    QCheckBox* ReplayGain = nullptr;
    QPushButton* OK = nullptr;
    QPushButton* Cancel = nullptr;
};
