#pragma once

#include <array>

// Where the skin's buttons lie on the 638 x 480 background. The artwork generator draws
// every button inside its hot region from this table, and the window uses the same
// table for its hit test and its hover images, so the two can never drift apart.
namespace SkinLayout {

inline constexpr int Width = 638;
inline constexpr int Height = 480;

enum ButtonId {
    ToWave,
    ToMP3,
    Options,
    Help,
    Exit,
    HomePage,
    Min,
    Close,
    Back,
    Play,
    Pause,
    Stop,
    Forward,
    Eject,
    ButtonCount
};

// One drawn button: its hover image (position and size) and its hot region, whose
// x and y ranges are inclusive.
struct Button {
    const char* name; // control name, also the hover image's file name
    int left, top, width, height;
    int x1, x2, y1, y2;
    const char* hint;
};

inline constexpr const char* HomePageHint = "Welcome! Visit us at velmora.example.org";

inline constexpr std::array<Button, ButtonCount> Buttons = {{
    {"imgToWave", 38, 156, 59, 41, 37, 93, 155, 190, "Extract selected track(s) to WAV file(s)"},
    {"imgToMP3", 36, 210, 52, 40, 37, 93, 211, 242, "Extract selected track(s) to MP3 file(s)"},
    {"imgOptions", 36, 269, 54, 22, 37, 93, 273, 283, "Show options dialog"},
    {"imgHelp", 36, 315, 36, 20, 37, 93, 317, 328, "Open Help"},
    {"imgExit", 35, 359, 36, 20, 37, 93, 362, 373, "Quit application"},
    {"imgHomePage", 7, 443, 106, 21, 17, 99, 449, 458, HomePageHint},
    {"imgMin", 585, 21, 18, 20, 585, 596, 22, 31, "Minimize window"},
    {"imgClose", 603, 20, 18, 20, 605, 615, 22, 31, "Quit application"},
    {"imgBack", 169, 435, 29, 23, 172, 191, 437, 449, "Skip to previous track"},
    {"imgPlay", 199, 433, 29, 23, 206, 218, 437, 449, "Play track"},
    {"imgPause", 229, 434, 29, 23, 231, 250, 437, 449, "Stop playing"},
    {"imgStop", 258, 434, 29, 23, 264, 277, 437, 449, "Stop playing"},
    {"imgForward", 285, 434, 29, 23, 286, 305, 437, 449, "Skip to next track"},
    {"imgEject", 313, 434, 29, 23, 315, 328, 437, 449, "Eject CD"},
}};

// The select-all spot under imgSelAll: it has no hover image and only keeps that spot
// from dragging the window.
inline constexpr int SelAllX1 = 557, SelAllX2 = 612, SelAllY1 = 121, SelAllY2 = 130;
inline constexpr int SelAllLeft = 556, SelAllTop = 120, SelAllWidth = 57, SelAllHeight = 13;

// What lies at a client point: a button index, SelAllRegion, or NoRegion.
inline constexpr int SelAllRegion = ButtonCount;
inline constexpr int NoRegion = -1;

// Strict comparisons against the bounds one outside each range (for the left column
// 36 < x < 94), which makes the inclusive ranges above exact.
constexpr bool inRange(int v, int lo, int hi) {
    return lo - 1 < v && v < hi + 1;
}

constexpr int regionAt(int x, int y) {
    for (int i = 0; i < ButtonCount; ++i) {
        const Button& b = Buttons[static_cast<std::size_t>(i)];
        if (inRange(x, b.x1, b.x2) && inRange(y, b.y1, b.y2))
            return i;
    }
    if (inRange(x, SelAllX1, SelAllX2) && inRange(y, SelAllY1, SelAllY2))
        return SelAllRegion;
    return NoRegion;
}

} // namespace SkinLayout
