#include "handles.h"

#include "imagecheck.h"
#include "imagesource.h"

namespace cdrip {

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

CddaDrive::~CddaDrive() {
    if (drive_)
        cdio_cddap_close_no_free_cdio(drive_);
}

bool CddaDrive::open(const std::string& source, bool image) {
    cdio_ = openCdio(source, image);
    if (!cdio_)
        return false;
    drive_ = cdio_cddap_identify_cdio(cdio_.get(), CDDA_MESSAGE_FORGETIT, nullptr);
    if (!drive_)
        return false;
    cdio_cddap_verbose_set(drive_, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    if (image)
        drive_->bigendianp = 0; // images hold little-endian samples; no guessing
    if (cdio_cddap_open(drive_) != 0)
        return false;
    if (image) {
        drive_->bigendianp = 0;
        drive_->b_swap_bytes = false;
    }
    return true;
}

} // namespace cdrip
