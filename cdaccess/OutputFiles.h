#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/types.h>

// The output file could not be created: "Cannot create file <name>", followed by
// ": <reason>" when the system gave one.
class EFCreateError : public std::runtime_error {
public:
    explicit EFCreateError(const std::string& message, int error = 0)
        : std::runtime_error(message), Code(error) {}
    int Code; // the error number behind it; 0 when none
};

// Output names, temporary files and final renames: the rules that the extraction job
// of the window and velmora-rip both follow, so that a track's file never lands outside
// the output folder and a previous good file is never lost to a failed or cancelled rip.
namespace OutputFiles {

// A title that would not name a file inside the output folder:
// what() is "Invalid file name: " + the output name formed from it.
class EInvalidFileName : public std::runtime_error {
public:
    explicit EInvalidFileName(const std::string& name);
};

// The text without leading and trailing characters of code 0 to 32.
std::string TrimControl(const std::string& text);

// True when the output folder is empty once trimmed.
bool IsBlankFolder(const std::string& outDir);

// True when a title cannot become a file inside the output folder. The title is
// judged as it will be used, trimmed (blanks and control characters at its start and
// end are dropped): it is refused when it starts with "/", holds a control character
// (codes 0 to 31 and 127) anywhere else, or has a "/"-separated part that is empty,
// ".", ".." or blank (once its own blanks are trimmed). A "/" between good parts makes
// a sub-folder.
bool IsInvalidTitle(const std::string& title);

// A title from outside the program (CD-TEXT, MusicBrainz) as it may name a file: its
// "/" is part of the name, so it becomes U+2215 (a look-alike slash) and makes no
// folder, and a control character becomes a blank. Tags keep the text itself.
std::string TitleFromOutside(const std::string& title);

// One path part as the output name writes it: a leading "." becomes U+2024 (a
// look-alike dot), so that no title makes a hidden file or folder.
std::string VisiblePart(const std::string& part);

// The longest start of `text` of at most maxBytes bytes that does not cut a UTF-8
// character in two.
std::string CutAtCharacter(const std::string& text, std::size_t maxBytes);

struct TOutputName {
    std::string Path;
    bool Shortened = false; // a part was over 255 bytes and was cut
};

// Output folder + "/" (unless it ends in one) + title + ".wav" or ".mp3", folder and
// title trimmed first; each part of the title through VisiblePart, and a part longer
// than a file name may be (255 bytes, with the extension for the last one) cut at a
// character boundary. The name of an invalid title (IsInvalidTitle) is left as formed,
// for its refusal to show.
TOutputName MakeOutputName(const std::string& outDir, const std::string& title, bool mp3);
std::string OutputName(const std::string& outDir, const std::string& title, bool mp3);

// Text from outside (an album title) as one file name of at most maxBytes bytes: "/"
// as "-", control characters (and C1 controls) left out, blanks trimmed, a leading
// "." as U+2024, cut at a character boundary; `fallback` when nothing is left.
std::string SafeFileName(const std::string& text, std::size_t maxBytes,
                         const std::string& fallback);

// Text for one line of a terminal message: controls escaped (EscapeControls), then cut
// to about maxBytes at a character boundary with "..." and the full length said.
std::string ShortForTerminal(const std::string& text, std::size_t maxBytes = 300);

// Throws EInvalidFileName for `name` when IsInvalidTitle(title).
void CheckTitle(const std::string& title, const std::string& name);

// Creates the folder part of a file name with every missing parent; true when it
// exists afterwards. A failure shows again, with its reason, when the file is created.
bool CreateFolderOf(const std::string& name);

// The text fit for a terminal: a backslash doubled, tab, newline and carriage return
// as \t \n \r, any other control character (escape included) as \xHH, and a C1
// control character written in UTF-8 (U+0080 to U+009F) as \u00HH.
std::string EscapeControls(const std::string& text);

// The system's text for an error number ("No space left on device").
std::string ErrorText(int error);

// What the final rename may replace.
enum class TReplace {
    // What was under the final name when the partial file was made (the caller chose
    // to replace it); a name that appeared meanwhile, another program's or another
    // track's, is never replaced: the track then fails "already exists".
    WhatWasThere,
    // Anything but a folder (--overwrite).
    Anything,
    // Nothing: the final name must be free when the file is finished.
    Nothing,
};

struct TPartialOptions {
    TReplace Replace = TReplace::WhatWasThere;
    // Create the missing folders of the final name; those made are removed again
    // (when empty) if the track leaves no file under its name.
    bool MakeFolders = false;
    // Only a regular file (or nothing) may be under the final name: a device or a pipe
    // there is refused (EFCreateError "... is not a regular file") instead of being
    // written directly. For rewriting a finished file, which a pipe cannot be.
    bool RegularOnly = false;
    // What the file is ("a FLAC file") when its start is written again once the track
    // has ended (a header completed then): a final name that cannot be written at a
    // place, a pipe or a terminal, is then refused before a byte goes into it
    // (EFCreateError "... is a pipe or a terminal, which cannot take a FLAC file: ..."),
    // where writing the track through would end in "Illegal seek".
    std::string StartWrittenAgainBy{};
};

// A check that a write into a pipe or a device (a final name written directly) polls
// while the other end takes nothing: when it returns true the write fails at once
// (EINTR), so that a stop is not held up by a program that stopped reading.
// velmora-rip's Ctrl-C, SIGTERM and SIGHUP set it. Null: none.
using StopCheck = bool (*)();
void SetStopCheck(StopCheck check);

// Opens `path` for reading only when it is a regular file (a symbolic link to one
// counts), without waiting: a pipe or a device under the name is refused instead of
// opened, so that the open never waits for a writer. The descriptor (close-on-exec) or
// -1 with the reason in `error`.
int OpenRegularFile(const std::string& path, std::string* error);

// The file one track is written to. It is created exclusively beside the final name,
// as "." + file name + ".partial-" + six random characters, so that a rip that is
// killed leaves nothing under the final name. Finish moves it there, never replacing
// more than Options.Replace allows. A final name that is a device (/dev/null) is
// written directly.
class TPartialFile {
public:
    // Throws EFCreateError "Cannot create file <final name>: <reason>" when the final
    // name is a folder or too long, a folder cannot be made, or the temporary file
    // cannot be created.
    explicit TPartialFile(std::string finalName, TPartialOptions options = {});
    // Removes the temporary file unless Finish or Discard ran.
    ~TPartialFile();
    TPartialFile(const TPartialFile&) = delete;
    TPartialFile& operator=(const TPartialFile&) = delete;

    // Appends (Write) or writes at a position; false with Error() set when not every
    // byte went out.
    bool Write(const void* data, std::size_t count);
    bool WriteAt(off_t pos, const void* data, std::size_t count);
    // Appends the rest of the open file `fd`, from its offset to its end, copied by the
    // kernel (no pass through this process; a file system that shares blocks shares
    // them); false with Error() set when not all of it was read or written.
    bool AppendFrom(int fd);
    int Error() const { return LastError; }

    const std::string& FinalName() const { return Final; }
    const std::string& TempName() const { return Temp; }
    // Something (a file, a link, ...) was under the final name when this file was made.
    bool PreviousExisted() const { return Previous; }
    // The final name is a device or a pipe that is written directly (nothing to tag).
    bool Direct() const { return IsDirect; }

    // Closes the file and decides its fate. A complete track is renamed over the final
    // name (a symbolic link there is replaced, not followed). A track that ended early
    // is removed when something existed under the final name before, so that stays as
    // it was; otherwise it gets the final name too, unless a name appeared there
    // meanwhile (then it is removed). Returns true when the final name now holds this
    // file. Throws EFCreateError when the rename fails, "Cannot create file <name>:
    // <name> already exists" when a complete track finds its name taken.
    bool Finish(bool complete);
    // Closes and removes the temporary file; the final name is not touched.
    void Discard();
    // Closes the file and leaves it under its temporary name (a track that failed keeps
    // what it read there, and its final name does not hold a file that looks finished).
    // The final name is not touched. Returns the name the file is left under; empty for a
    // final name written directly.
    std::string Keep();

private:
    bool Close();
    void MakeFolders();
    void RemoveMadeFolders();
    void OpenTemp();
    bool Rename(int& error);
    bool WaitForRoom();
    [[noreturn]] void Fail(int error);

    std::string Final;
    std::string Temp;
    TPartialOptions Options;
    std::vector<std::string> MadeFolders; // deepest last
    int Fd = -1;
    int LastError = 0;
    bool IsDirect = false;
    bool Previous = false;
    bool Done = false;
};

// Writes `text` to `name` as a track is written (a partial file, then the rename):
// a full disk or a crash never leaves a short file under the name. True when written;
// else false with `error` set (EEXIST when the name is taken and may not be replaced).
bool WriteWholeFile(const std::string& name, const std::string& text, TReplace replace, int& error);

} // namespace OutputFiles
