#include "settings/globals.h"

TMP3Settings Settings;

ESettingsWriteError::ESettingsWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), Path(path) {}

void SetDefaultSettings() {
    Settings = TMP3Settings{};
}

void SetDefaultSettingsKeepConfirm() {
    const bool confirm = Settings.ConfirmOverwrite;
    SetDefaultSettings();
    Settings.ConfirmOverwrite = confirm;
}

bool LoadSettings() {
    return false;
}

void SaveSettings() {}

std::string SettingsFilePath() {
    return {};
}

std::string CDInfoFilePath() {
    return {};
}

bool ReadCDInfo(const std::string&, std::string&, std::string&, std::string&, std::string&,
                std::vector<std::string>& titles) {
    titles.clear();
    return true;
}

bool WriteCDInfo(const std::string&, const std::string&, const std::string&, const std::string&,
                 const std::string&, const std::vector<std::string>*) {
    return true;
}

std::string TwoDigits(int value) {
    std::string s = std::to_string(value);
    return s.size() < 2 ? "0" + s : s;
}
