// Owning handles for the C libraries underneath: every handle is closed once, on
// every way out.
#pragma once

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <soxr.h>

#include <memory>
#include <string>

namespace cdrip {

struct CdioCloser {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioCloser>;

struct ParanoiaCloser {
    void operator()(cdrom_paranoia_t* p) const { cdio_paranoia_free(p); }
};
using ParanoiaPtr = std::unique_ptr<cdrom_paranoia_t, ParanoiaCloser>;

struct SoxrCloser {
    void operator()(soxr_t p) const { soxr_delete(p); }
};
using SoxrPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrCloser>;

// Opens a device or disc image with libcdio; null when it cannot be opened.
CdioPtr openCdio(const std::string& source, bool image);

// What a CD drive's driver says of it (CDROM_DRIVE_STATUS), asked without reading the
// disc. Unknown: the driver does not tell (the disc is then tried as it is).
enum class DeviceState { Ready, TrayOpen, NoDisc, NotReady, Gone, NoAccess, Unknown };
DeviceState deviceState(const std::string& device);

// True when the drive's driver has seen the medium change (ejected, closed, replaced)
// since the last time it was asked (CDROM_MEDIA_CHANGED); asking clears it.
bool deviceMediaChanged(const std::string& device);

// A paranoia drive over its own libcdio handle. The drive is closed before the
// handle it reads through.
class CddaDrive {
public:
    CddaDrive() = default;
    CddaDrive(const CddaDrive&) = delete;
    CddaDrive& operator=(const CddaDrive&) = delete;
    ~CddaDrive();

    // Opens `source`; false when it holds no readable disc.
    bool open(const std::string& source, bool image);
    cdrom_drive_t* get() const { return drive_; }

private:
    CdioPtr cdio_;
    cdrom_drive_t* drive_ = nullptr;
};

} // namespace cdrip
