#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace Encoding {

// Where an encoder's bytes go. Append adds at the end; WriteAt writes over bytes already
// there (the headers an encoder completes when its stream ends). Both return false when
// not every byte went out; Error() then says why.
class TByteSink {
public:
    virtual ~TByteSink() = default;
    virtual bool Append(const void* data, std::size_t count) = 0;
    virtual bool WriteAt(uint64_t pos, const void* data, std::size_t count) = 0;
    virtual std::string Error() const = 0;
    // Appends the rest of the open file `fd`, from its offset to its end. False with the
    // reason in *error (a read error, or the sink's).
    virtual bool AppendFrom(int fd, std::string* error);
};

// Reads the open file `fd` from its offset to its end, handing each piece to `take`.
// False when a read fails (*readError = errno) or `take` refuses a piece (*readError = 0).
bool ReadToEnd(int fd, const std::function<bool(const uint8_t*, std::size_t)>& take,
               int* readError);

// A sink over an open file descriptor (not owned) of a file that starts empty.
class TFdSink : public TByteSink {
public:
    explicit TFdSink(int fd) : Fd(fd) {}
    bool Append(const void* data, std::size_t count) override;
    bool WriteAt(uint64_t pos, const void* data, std::size_t count) override;
    std::string Error() const override;

private:
    int Fd;
    uint64_t End = 0;
    int LastError = 0;
};

} // namespace Encoding
