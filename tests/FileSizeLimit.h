#pragma once

#include <csignal>

#include <sys/resource.h>

// Lowers this process's file-size limit (RLIMIT_FSIZE) for as long as the object
// lives: a write past `bytes` then fails with EFBIG, as on a quota or a full disk, and
// works the same for root. SIGXFSZ is ignored meanwhile, so the write fails instead of
// ending the process. A child started meanwhile inherits both.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Old);
        OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = Old;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Old);
        std::signal(SIGXFSZ, OldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit Old{};
    void (*OldHandler)(int) = nullptr;
};
