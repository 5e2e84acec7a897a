#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// The progress display of velmora-rip: on a terminal a bar per track that is
// redrawn in place; elsewhere only the line that ends each track.
namespace riptool {

// Seconds as "m:ss" (75 -> "1:15"), rounded: the time a job has left; negative values
// count as 0. Lengths of audio are shown by the core's LengthTextOfSeconds.
std::string FormatDuration(double seconds);

// One state of a track's progress.
struct ProgressFigures {
    int percent = 0;         // 0 to 100
    double audioSeconds = 0; // length of the whole track
    double elapsed = 0;      // wall-clock seconds since the track started
};

// Speed as a multiple of real time (audio done / wall time); 0 before any time passed.
double Speed(const ProgressFigures& f);
// Seconds still to go at the speed so far; negative when not known yet.
double TimeLeft(const ProgressFigures& f);

// The parallel rip's status line: "reading Track03  40% | encoding 01 80%, 02 35%", cut
// to `width` columns.
std::string PipelineStatus(const std::string& reading, int readPercent,
                           const std::vector<std::pair<int, int>>& encoding, int width);

// "Track01 [########------------]  40%  12.5x  0:03 left" in `width` columns at most.
std::string BarLine(const std::string& label, const ProgressFigures& f, int width);

class ProgressLine {
public:
    // Draws bars on `out` when `terminal` is true.
    ProgressLine(std::FILE* out, bool terminal) : Out(out), Terminal(terminal) {}

    void Begin(const std::string& label, double audioSeconds);
    // Redraws the bar, at most ten times a second (always for 100%).
    void Update(int percent);
    // Ends the track's line with `result` ("OK", "Cancelled", ...) and the file name.
    void End(const std::string& result, const std::string& file);

    // The parallel rip's display. Status redraws one line in place on a terminal (at most
    // ten times a second unless `now`); nothing elsewhere. Finished prints the end line of a
    // track as End does, for a track read and encoded over `elapsed` seconds.
    void Status(const std::string& text, bool now = false);
    void Finished(const std::string& label, const std::string& result, const std::string& file,
                  double audioSeconds, double elapsed);

private:
    using Clock = std::chrono::steady_clock;
    double Elapsed() const;

    std::FILE* Out;
    bool Terminal;
    std::string Label;
    double AudioSeconds = 0;
    int Percent = 0;
    Clock::time_point Start;
    Clock::time_point LastDraw;
    bool Drawn = false;
};

} // namespace riptool
