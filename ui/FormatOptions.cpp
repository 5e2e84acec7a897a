#include "ui/FormatOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

// Opus bit rates offered, kbit/s; a value of the settings file that is not among them
// is added, so that opening the dialog never changes it.
constexpr int32_t OpusRates[] = {48, 64, 96, 128, 160, 192, 256, 320};

QComboBox* AddList(QGroupBox* group, const QString& caption, int top) {
    auto* label = new QLabel(caption, group);
    label->setGeometry(10, top + 3, 150, 16);
    auto* list = new QComboBox(group);
    list->setGeometry(166, top, 92, 22);
    label->setBuddy(list);
    return list;
}

} // namespace

TfrmFormatOptions::TfrmFormatOptions(const FormatValues& values, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmFormatOptions"));
    setWindowTitle(tr("Formats"));
    setFont(parent != nullptr ? parent->font() : font());
    setFixedSize(288, 150);
    Group = new QGroupBox(tr("FLAC, Opus and ReplayGain"), this);
    Group->setGeometry(9, 3, 270, 108);
    FlacLevel = AddList(Group, tr("&FLAC compression level"), 20);
    for (int level = 0; level <= 8; ++level) {
        FlacLevel->addItem(QString::number(level), level);
    }
    OpusBitrate = AddList(Group, tr("&Opus bit rate (kbit/s)"), 48);
    for (int32_t rate : OpusRates) {
        OpusBitrate->addItem(QString::number(rate), rate);
    }
    if (OpusBitrate->findData(values.OpusBitrate) < 0) {
        OpusBitrate->addItem(QString::number(values.OpusBitrate), values.OpusBitrate);
    }
    if (FlacLevel->findData(values.FlacCompression) < 0) {
        FlacLevel->addItem(QString::number(values.FlacCompression), values.FlacCompression);
    }
    FlacLevel->setCurrentIndex(FlacLevel->findData(values.FlacCompression));
    OpusBitrate->setCurrentIndex(OpusBitrate->findData(values.OpusBitrate));
    ReplayGain = new QCheckBox(tr("&ReplayGain tags (track and album)"), Group);
    ReplayGain->setGeometry(10, 80, 250, 17);
    ReplayGain->setChecked(values.ReplayGain);
    OK = new QPushButton(tr("OK"), this);
    OK->setGeometry(116, 118, 75, 23);
    OK->setDefault(true);
    Cancel = new QPushButton(tr("Cancel"), this);
    Cancel->setGeometry(204, 118, 75, 23);
    Cancel->setAutoDefault(false);
    connect(OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

FormatValues TfrmFormatOptions::Values() const {
    FormatValues v;
    v.FlacCompression = FlacLevel->currentData().toInt();
    v.OpusBitrate = OpusBitrate->currentData().toInt();
    v.ReplayGain = ReplayGain->isChecked();
    return v;
}
