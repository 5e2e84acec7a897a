#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include <sys/types.h>

// The output file could not be created: "Cannot create file <name>", followed by
// ": <reason>" when the system gave one.
class EFCreateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
// judged as it will be used, trimmed: it is refused when it starts with "/", holds a
// control character (codes 0 to 31 and 127) anywhere, or has a "/"-separated part that
// is empty, ".", ".." or blank (once its own blanks are trimmed). A "/" between good
// parts makes a sub-folder.
bool IsInvalidTitle(const std::string& title);

// Output folder + "/" (unless it ends in one) + title + ".wav" or ".mp3", folder and
// title trimmed first.
std::string OutputName(const std::string& outDir, const std::string& title, bool mp3);

// Throws EInvalidFileName for `name` when IsInvalidTitle(title).
void CheckTitle(const std::string& title, const std::string& name);

// Creates the folder part of a file name with every missing parent; true when it
// exists afterwards. A failure shows again, with its reason, when the file is created.
bool CreateFolderOf(const std::string& name);

// The text fit for a terminal: a backslash doubled, tab, newline and carriage return
// as \t \n \r, any other control character (escape included) as \xHH.
std::string EscapeControls(const std::string& text);

// The system's text for an error number ("No space left on device").
std::string ErrorText(int error);

// The file one track is written to. It is created exclusively beside the final name,
// as "." + file name + ".partial-" + six random characters, so that a rip that is
// killed leaves nothing under the final name. Finish moves it there. A final name that
// is a device (/dev/null) is written directly.
class TPartialFile {
public:
    // Throws EFCreateError "Cannot create file <final name>: <reason>" when the final
    // name is a folder or too long, or the temporary file cannot be created.
    explicit TPartialFile(std::string finalName);
    // Removes the temporary file unless Finish or Discard ran.
    ~TPartialFile();
    TPartialFile(const TPartialFile&) = delete;
    TPartialFile& operator=(const TPartialFile&) = delete;

    // Appends (Write) or writes at a position; false with Error() set when not every
    // byte went out.
    bool Write(const void* data, std::size_t count);
    bool WriteAt(off_t pos, const void* data, std::size_t count);
    int Error() const { return LastError; }

    const std::string& FinalName() const { return Final; }
    const std::string& TempName() const { return Temp; }
    // Something (a file, a link, ...) was under the final name when this file was made.
    bool PreviousExisted() const { return Previous; }

    // Closes the file and decides its fate. A complete track is renamed over the final
    // name (a symbolic link there is replaced, not followed). A track that ended early
    // is removed when something existed under the final name before, so that stays as
    // it was; otherwise it gets the final name too. Returns true when the final name
    // now holds this file. Throws EFCreateError when the rename fails.
    bool Finish(bool complete);
    // Closes and removes the temporary file; the final name is not touched.
    void Discard();

private:
    bool Close();

    std::string Final;
    std::string Temp;
    int Fd = -1;
    int LastError = 0;
    bool Direct = false;
    bool Previous = false;
    bool Done = false;
};

} // namespace OutputFiles
