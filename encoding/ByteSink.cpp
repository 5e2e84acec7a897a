#include "encoding/ByteSink.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace Encoding {

bool ReadToEnd(int fd, const std::function<bool(const uint8_t*, std::size_t)>& take,
               int* readError) {
    *readError = 0;
    std::vector<uint8_t> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *readError = errno;
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!take(buffer.data(), static_cast<std::size_t>(n))) {
            return false;
        }
    }
}

bool TByteSink::AppendFrom(int fd, std::string* error) {
    int readError = 0;
    if (ReadToEnd(
            fd, [this](const uint8_t* p, std::size_t n) { return Append(p, n); }, &readError)) {
        return true;
    }
    *error = readError != 0 ? std::string(std::strerror(readError)) : Error();
    return false;
}

bool TFdSink::Append(const void* data, std::size_t count) {
    if (!WriteAt(End, data, count)) {
        return false;
    }
    return true;
}

bool TFdSink::WriteAt(uint64_t pos, const void* data, std::size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t n = ::pwrite(Fd, p, count, static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            LastError = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        pos += static_cast<uint64_t>(n);
        count -= static_cast<std::size_t>(n);
        End = pos > End ? pos : End;
    }
    return true;
}

std::string TFdSink::Error() const {
    return std::strerror(LastError != 0 ? LastError : ENOSPC);
}

} // namespace Encoding
