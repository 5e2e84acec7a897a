// Owning handles for the C libraries underneath: every handle is closed once, on
// every way out.
#pragma once

#include <cdio/cdio.h>
#include <soxr.h>

#include <memory>
#include <string>

namespace cdrip {

struct CdioCloser {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioCloser>;

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

// Opens a drive or disc image for its audio with libcdio; null when it holds no disc with
// an audio track. Nothing is read from the disc: the first read of a rip tells whether
// the drive reads audio, and a probe elsewhere on the disc would only cost a seek there
// and back.
CdioPtr openAudioCdio(const std::string& source, bool image);

} // namespace cdrip
