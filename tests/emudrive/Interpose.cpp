// The emulated drive as a preloaded library: stat, open, ioctl, read and close of the
// configured device path (and of the descriptors opened on it) go to the drive model;
// everything else goes on to the C library. The device gets a real descriptor, one of
// /dev/null, so that code that polls or closes it sees a valid one.
//
// Configuration, read when the first call needs the drive: VELMORA_EMU_MODEL (a file of
// key=value lines), then VELMORA_EMU (key=value items separated by ';'), then
// VELMORA_EMU_DEVICE. A test in the same process changes the drive with
// velmora_emudrive_control() (found with dlsym).
#undef _FORTIFY_SOURCE
#include "Drive.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace {

using namespace emudrive;

// The drive and the descriptors open on it. The mutex guards all three.
std::recursive_mutex driveLock;
Drive* drive = nullptr;                      // created once, on first use
std::map<int, long long>* openFds = nullptr; // descriptor -> read position
bool starting = false; // the drive reads its files: their opens are not the device's

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts the drive from the environment. A bad configuration ends the program: a test
// must not run on a drive other than the one it asked for.
Drive& theDrive() {
    if (drive)
        return *drive;
    Model model;
    std::string error, settings;
    starting = true;
    if (const char* file = std::getenv("VELMORA_EMU_MODEL"))
        settings += fileText(file) + "\n";
    if (const char* inline_ = std::getenv("VELMORA_EMU"))
        settings += std::string(inline_) + "\n";
    if (const char* device = std::getenv("VELMORA_EMU_DEVICE"))
        settings += std::string("device=") + device + "\n";
    if (const char* stats = std::getenv("VELMORA_EMU_STATS"))
        settings += std::string("stats=") + stats + "\n";
    drive = new Drive;
    openFds = new std::map<int, long long>;
    if (!parseSettings(settings, &model, &error) || !drive->configure(model, &error)) {
        std::fprintf(stderr, "emulated drive: %s\n", error.c_str());
        std::_Exit(97);
    }
    starting = false;
    return *drive;
}

bool configured() {
    if (starting)
        return false;
    return std::getenv("VELMORA_EMU_MODEL") || std::getenv("VELMORA_EMU") ||
           std::getenv("VELMORA_EMU_DEVICE");
}

bool isDevice(const char* path) {
    if (!path || !configured())
        return false;
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    return theDrive().model().device == path;
}

// Other CD devices of the machine, hidden so that a test sees only its own drive.
bool isOtherCdDevice(const char* path) {
    if (!path || !configured() || std::strncmp(path, "/dev/", 5) != 0)
        return false;
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    if (!theDrive().model().hideOthers)
        return false;
    const char* name = path + 5;
    for (const char* prefix : {"cdrom", "dvd", "sr", "scd", "hd", "sg", "cdroms/"})
        if (std::strncmp(name, prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
}

bool ours(int fd) {
    if (!configured())
        return false;
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    theDrive();
    return openFds->count(fd) != 0;
}

void fillStat(struct stat* st) {
    std::memset(st, 0, sizeof *st);
    const Model& m = theDrive().model();
    st->st_mode = S_IFBLK | 0660;
    st->st_rdev = makedev(unsigned(m.major), unsigned(m.minor));
    st->st_nlink = 1;
    st->st_blksize = 2048;
    st->st_dev = makedev(0, 5);
    st->st_ino = 4000 + ino_t(m.minor);
}

// stat of the device: a block device while the drive is there. 1: handled.
int statDevice(const char* path, struct stat* st, int* result) {
    if (isOtherCdDevice(path) && !isDevice(path)) {
        errno = ENOENT;
        *result = -1;
        return 1;
    }
    if (!isDevice(path))
        return 0;
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    fillStat(st);
    *result = 0;
    return 1;
}

int openDevice(const char* path, int flags, int* result) {
    if (isOtherCdDevice(path) && !isDevice(path)) {
        errno = ENOENT;
        *result = -1;
        return 1;
    }
    if (!isDevice(path))
        return 0;
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    Drive& d = theDrive();
    if (d.gone()) {
        errno = ENXIO;
        *result = -1;
        return 1;
    }
    if (!(flags & O_NONBLOCK) && !d.ready()) {
        errno = ENOMEDIUM;
        *result = -1;
        return 1;
    }
    static auto realOpen = next<int (*)(const char*, int, ...)>("open");
    const int fd = realOpen("/dev/null", O_RDONLY | (flags & O_CLOEXEC));
    if (fd >= 0)
        (*openFds)[fd] = 0;
    *result = fd;
    return 1;
}

int packet(Drive& d, cdrom_generic_command* cgc) {
    uint8_t cdb[12] = {};
    std::memcpy(cdb, cgc->cmd, sizeof cdb);
    const Outcome o = d.packet(cdb, cgc->buffer, cgc->buflen);
    if (o.checkCondition) {
        cgc->stat = 2; // CHECK CONDITION
        if (cgc->sense) {
            auto* s = reinterpret_cast<uint8_t*>(cgc->sense);
            std::memset(s, 0, 18);
            s[0] = uint8_t(0x70 | (o.sense.info >= 0 ? 0x80 : 0));
            s[2] = o.sense.key;
            if (o.sense.info >= 0) {
                const uint32_t info = uint32_t(o.sense.info);
                s[3] = uint8_t(info >> 24);
                s[4] = uint8_t(info >> 16);
                s[5] = uint8_t(info >> 8);
                s[6] = uint8_t(info);
            }
            s[7] = 10;
            s[12] = o.sense.asc;
            s[13] = o.sense.ascq;
        }
    } else if (o.errnoValue == 0) {
        cgc->stat = 0;
    }
    if (o.errnoValue) {
        errno = o.errnoValue;
        return -1;
    }
    return 0;
}

void writeStats() {
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    if (!drive)
        return;
    if (drive->model().statsFile.empty())
        drive->flushLog();
    else
        std::ofstream(drive->model().statsFile, std::ios::app) << drive->statsJson() << '\n';
}

struct AtExit {
    ~AtExit() { writeStats(); }
} atExit;

} // namespace

extern "C" {

// Changes the drive from a test in the same process: key=value items separated by ';'.
// "reset=1" first starts over from the settings that follow (a new model); otherwise
// tray=open|closed|nodisc, gone=1, change=CUE, insert=CUE and reset_stats=1 act on the
// running drive. 0 done, -1 refused (the reason on stderr).
__attribute__((visibility("default"))) int velmora_emudrive_control(const char* settings) {
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    Drive& d = theDrive();
    std::string text = settings ? settings : "", error;
    if (text.rfind("reset=1", 0) == 0) {
        Model model;
        model.device = d.model().device;
        model.statsFile = d.model().statsFile;
        if (!parseSettings(text.substr(7), &model, &error) || !d.configure(model, &error)) {
            std::fprintf(stderr, "emulated drive: %s\n", error.c_str());
            return -1;
        }
        return 0;
    }
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ';')) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos ||
            !d.control(item.substr(0, eq), item.substr(eq + 1), &error)) {
            std::fprintf(stderr, "emulated drive: %s\n",
                         error.empty() ? item.c_str() : error.c_str());
            return -1;
        }
    }
    return 0;
}

// The drive's statistics as one JSON object (see README.md), NUL-terminated in `out`.
__attribute__((visibility("default"))) int velmora_emudrive_stats(char* out, int size) {
    std::lock_guard<std::recursive_mutex> guard(driveLock);
    const std::string json = theDrive().statsJson();
    if (!out || size < int(json.size()) + 1)
        return -1;
    std::memcpy(out, json.c_str(), json.size() + 1);
    return 0;
}

int stat(const char* path, struct stat* st) {
    int result = 0;
    if (statDevice(path, st, &result))
        return result;
    static auto real = next<int (*)(const char*, struct stat*)>("stat");
    return real(path, st);
}

int lstat(const char* path, struct stat* st) {
    int result = 0;
    if (statDevice(path, st, &result))
        return result;
    static auto real = next<int (*)(const char*, struct stat*)>("lstat");
    return real(path, st);
}

int stat64(const char* path, struct stat64* st) {
    int result = 0;
    if (statDevice(path, reinterpret_cast<struct stat*>(st), &result))
        return result;
    static auto real = next<int (*)(const char*, struct stat64*)>("stat64");
    return real(path, st);
}

int lstat64(const char* path, struct stat64* st) {
    int result = 0;
    if (statDevice(path, reinterpret_cast<struct stat*>(st), &result))
        return result;
    static auto real = next<int (*)(const char*, struct stat64*)>("lstat64");
    return real(path, st);
}

int fstat(int fd, struct stat* st) {
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        fillStat(st);
        return 0;
    }
    static auto real = next<int (*)(int, struct stat*)>("fstat");
    return real(fd, st);
}

int fstat64(int fd, struct stat64* st) {
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        fillStat(reinterpret_cast<struct stat*>(st));
        return 0;
    }
    static auto real = next<int (*)(int, struct stat64*)>("fstat64");
    return real(fd, st);
}

int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
    int result = 0;
    if (path[0] == '/' && statDevice(path, st, &result))
        return result;
    static auto real = next<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return real(dirfd, path, st, flags);
}

char* realpath(const char* path, char* resolved) {
    if (isDevice(path)) {
        const size_t n = std::strlen(path) + 1;
        char* out = resolved ? resolved : static_cast<char*>(std::malloc(n));
        if (out)
            std::memcpy(out, path, n);
        return out;
    }
    static auto real = next<char* (*)(const char*, char*)>("realpath");
    return real(path, resolved);
}

int open(const char* path, int flags, ...) {
    int result = 0;
    if (openDevice(path, flags, &result))
        return result;
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    int result = 0;
    if (openDevice(path, flags, &result))
        return result;
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = next<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}

int __open_2(const char* path, int flags) {
    int result = 0;
    if (openDevice(path, flags, &result))
        return result;
    static auto real = next<int (*)(const char*, int)>("__open_2");
    return real(path, flags);
}

int __open64_2(const char* path, int flags) {
    int result = 0;
    if (openDevice(path, flags, &result))
        return result;
    static auto real = next<int (*)(const char*, int)>("__open64_2");
    return real(path, flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
    int result = 0;
    if (path[0] == '/' && openDevice(path, flags, &result))
        return result;
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = next<int (*)(int, const char*, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int close(int fd) {
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        openFds->erase(fd);
    }
    static auto real = next<int (*)(int)>("close");
    return real(fd);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        Drive& d = theDrive();
        if (request == CDROM_SEND_PACKET) {
            if (d.gone()) {
                errno = ENODEV;
                return -1;
            }
            return packet(d, static_cast<cdrom_generic_command*>(arg));
        }
        int err = 0;
        const long r = d.ioctl(request, arg, &err);
        if (r < 0)
            errno = err;
        return int(r);
    }
    static auto real = next<int (*)(int, unsigned long, void*)>("ioctl");
    return real(fd, request, arg);
}

ssize_t read(int fd, void* buffer, size_t count) {
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        int err = 0;
        long long& position = (*openFds)[fd];
        const long n = theDrive().readBlocks(position, static_cast<uint8_t*>(buffer), count, &err);
        if (n < 0) {
            errno = err;
            return -1;
        }
        position += n;
        return n;
    }
    static auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    return real(fd, buffer, count);
}

off_t lseek(int fd, off_t offset, int whence) {
    if (ours(fd)) {
        std::lock_guard<std::recursive_mutex> guard(driveLock);
        long long& position = (*openFds)[fd];
        if (whence == SEEK_SET)
            position = offset;
        else if (whence == SEEK_CUR)
            position += offset;
        else {
            errno = EINVAL;
            return -1;
        }
        return off_t(position);
    }
    static auto real = next<off_t (*)(int, off_t, int)>("lseek");
    return real(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    return lseek(fd, offset, whence);
}

} // extern "C"
