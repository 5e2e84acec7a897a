#pragma once

#include <string_view>

// Names and addresses the program shows or hands to the desktop.
namespace AppInfo {

// The application title: window captions, message boxes, the settings file's program.
inline constexpr std::string_view Title = "Velmora MP3 CD Ripper 2.3";
inline constexpr std::string_view Version = "2.3.0";
inline constexpr std::string_view ProgramName = "velmora-ripper";
// The desktop entry and AppStream id: org.example.velmora.ripper.desktop.
inline constexpr std::string_view DesktopId = "org.example.velmora.ripper";
inline constexpr std::string_view HomePage = "https://velmora.example.org/";
inline constexpr std::string_view SupportAddress = "support@velmora.example.org";

} // namespace AppInfo
