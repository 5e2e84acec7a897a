#include "handles.h"

#include "imagecheck.h"
#include "imagesource.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace cdrip {
namespace {

// A descriptor of the device opened without waiting for a disc, closed once.
class DeviceFd {
public:
    explicit DeviceFd(const std::string& device)
        : fd_(::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)), error_(errno) {}
    DeviceFd(const DeviceFd&) = delete;
    DeviceFd& operator=(const DeviceFd&) = delete;
    ~DeviceFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int error() const { return error_; } // of the open, when it failed

private:
    int fd_;
    int error_;
};

bool goneErrno(int e) {
    return e == ENOENT || e == ENXIO || e == ENODEV;
}

} // namespace

DeviceState deviceState(const std::string& device) {
    const DeviceFd fd(device);
    if (fd.get() < 0)
        return goneErrno(fd.error())                         ? DeviceState::Gone
               : fd.error() == EACCES || fd.error() == EPERM ? DeviceState::NoAccess
                                                             : DeviceState::Unknown;
    const int status = ::ioctl(fd.get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
    if (status < 0)
        return goneErrno(errno) ? DeviceState::Gone : DeviceState::Unknown;
    switch (status) {
    case CDS_DISC_OK:
        return DeviceState::Ready;
    case CDS_TRAY_OPEN:
        return DeviceState::TrayOpen;
    case CDS_NO_DISC:
        return DeviceState::NoDisc;
    case CDS_DRIVE_NOT_READY:
        return DeviceState::NotReady;
    default:
        return DeviceState::Unknown; // CDS_NO_INFO: the driver does not know
    }
}

bool deviceMediaChanged(const std::string& device) {
    const DeviceFd fd(device);
    return fd.get() >= 0 && ::ioctl(fd.get(), CDROM_MEDIA_CHANGED, CDSL_CURRENT) == 1;
}

CdioPtr openCdio(const std::string& source, bool image) {
    if (source.empty())
        return nullptr;
    // libcdio's image readers hang on a FIFO and trust an NRG image's chunk sizes:
    // only images that pass the checks reach them.
    if (image && !imageProblem(source).empty())
        return nullptr;
    // Cue sheets and TOC files are read by the sheet reader, never by libcdio.
    if (image && isSheetImage(source))
        return nullptr;
    // Images go by their file name to the matching image driver (cue sheets and TOC
    // files never get here: the sheet reader reads them).
    return CdioPtr(cdio_open(source.c_str(), image ? DRIVER_UNKNOWN : DRIVER_DEVICE));
}

CdioPtr openAudioCdio(const std::string& source, bool image) {
    CdioPtr cdio = openCdio(source, image);
    if (!cdio)
        return nullptr;
    const track_t first = cdio_get_first_track_num(cdio.get());
    const track_t tracks = cdio_get_num_tracks(cdio.get());
    if (first == CDIO_INVALID_TRACK || tracks == CDIO_INVALID_TRACK)
        return nullptr;
    for (track_t t = first; t < first + tracks; ++t)
        if (cdio_get_track_format(cdio.get(), t) == TRACK_FORMAT_AUDIO)
            return cdio;
    return nullptr;
}

} // namespace cdrip
