#include "ProgressLine.h"

#include "ripjob/DiscTracks.h"

#include <algorithm>
#include <cmath>

#include <sys/ioctl.h>
#include <unistd.h>

namespace riptool {

namespace {

int TerminalWidth(std::FILE* out) {
    winsize ws{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 40) {
        return ws.ws_col;
    }
    return 80;
}

std::string Printf(const char* format, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

std::string FormatDuration(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

double Speed(const ProgressFigures& f) {
    if (f.elapsed <= 0) {
        return 0;
    }
    return f.audioSeconds * f.percent / 100.0 / f.elapsed;
}

double TimeLeft(const ProgressFigures& f) {
    if (f.percent <= 0 || f.elapsed <= 0) {
        return -1;
    }
    return f.elapsed * (100 - f.percent) / f.percent;
}

std::string BarLine(const std::string& label, const ProgressFigures& f, int width) {
    const int percent = std::clamp(f.percent, 0, 100);
    const double left = TimeLeft(f);
    const std::string figures = Printf(" %3.0f%%", percent) + Printf("  %5.1fx", Speed(f)) + "  " +
                                (left < 0 ? std::string("-:--") : FormatDuration(left)) + " left";
    std::string name = label.substr(0, 24);
    // Whatever room is left after the name, the brackets and the figures.
    const int room = width - 1 - static_cast<int>(name.size() + 3 + figures.size());
    const int barWidth = std::clamp(room, 10, 40);
    const int filled = barWidth * percent / 100;
    return name + " [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]" + figures;
}

std::string PipelineStatus(const std::string& reading, int readPercent,
                           const std::vector<std::pair<int, int>>& encoding, int width) {
    std::string text = reading.empty() ? std::string("reading done")
                                       : "reading " + reading.substr(0, 24) +
                                             Printf(" %3.0f%%", std::clamp(readPercent, 0, 100));
    if (!encoding.empty()) {
        text += " | encoding";
        const char* separator = " ";
        for (const auto& [track, percent] : encoding) {
            char item[32];
            std::snprintf(item, sizeof item, "%s%02d %d%%", separator, track, percent);
            text += item;
            separator = ", ";
        }
    }
    if (width > 1 && text.size() > static_cast<std::size_t>(width - 1)) {
        text.resize(static_cast<std::size_t>(width - 1));
    }
    return text;
}

void ProgressLine::Begin(const std::string& label, double audioSeconds) {
    Label = label;
    AudioSeconds = audioSeconds;
    Percent = 0;
    Start = Clock::now();
    LastDraw = Start;
    Drawn = false;
    Update(0);
}

double ProgressLine::Elapsed() const {
    return std::chrono::duration<double>(Clock::now() - Start).count();
}

void ProgressLine::Update(int percent) {
    Percent = percent;
    if (!Terminal) {
        return;
    }
    const auto now = Clock::now();
    if (Drawn && percent < 100 && now - LastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    LastDraw = now;
    Drawn = true;
    const ProgressFigures f{percent, AudioSeconds, Elapsed()};
    std::fprintf(Out, "\r%s\x1b[K", BarLine(Label, f, TerminalWidth(Out)).c_str());
    std::fflush(Out);
}

void ProgressLine::End(const std::string& result, const std::string& file) {
    const ProgressFigures f{Percent, AudioSeconds, Elapsed()};
    if (Terminal && Drawn) {
        std::fputs("\r\x1b[K", Out);
    }
    std::fprintf(Out, "%s -> %s: %s (%s of audio in %.1f s, %.1fx)\n", Label.c_str(), file.c_str(),
                 result.c_str(), LengthTextOfSeconds(AudioSeconds * Percent / 100.0).c_str(),
                 f.elapsed, Speed(f));
    std::fflush(Out);
}

void ProgressLine::Status(const std::string& text, bool now) {
    if (!Terminal) {
        return;
    }
    const auto when = Clock::now();
    if (Drawn && !now && when - LastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    LastDraw = when;
    Drawn = true;
    std::fprintf(Out, "\r%s\x1b[K", text.c_str());
    std::fflush(Out);
}

void ProgressLine::Finished(const std::string& label, const std::string& result,
                            const std::string& file, double audioSeconds, double elapsed) {
    if (Terminal && Drawn) {
        std::fputs("\r\x1b[K", Out);
        Drawn = false;
    }
    const ProgressFigures f{100, audioSeconds, elapsed};
    std::fprintf(Out, "%s -> %s: %s (%s of audio in %.1f s, %.1fx)\n", label.c_str(), file.c_str(),
                 result.c_str(), LengthTextOfSeconds(audioSeconds).c_str(), elapsed, Speed(f));
    std::fflush(Out);
}

} // namespace riptool
