#include "sectorsource.h"

#include "handles.h"

#include <algorithm>

namespace cdrip {
namespace {

// libcdio's cdda layer over one opened drive or image.
class CddaSource final : public SectorSource {
public:
    bool open(const std::string& source, bool image) {
        image_ = image;
        return drive_.open(source, image);
    }

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* /*c2*/) override {
        if (count <= 0 || lsn < 0 || !out)
            return 0;
        // libcdio reads at most nsectors a call (25 for images, and on most drives):
        // longer reads go in pieces, and the first piece that falls short ends the read.
        const int32_t piece = drive_.get()->nsectors > 0 ? drive_.get()->nsectors : count;
        int32_t done = 0;
        while (done < count) {
            const int32_t ask = std::min(piece, count - done);
            const long got =
                cdio_cddap_read(drive_.get(), out + size_t(done) * kSectorBytes, lsn + done, ask);
            if (got <= 0)
                break;
            done += int32_t(std::min<long>(got, ask));
            if (got < ask)
                break;
        }
        return done;
    }

    int32_t cacheSectors() const override { return image_ ? 0 : kDriveCacheSectors; }

private:
    CddaDrive drive_;
    bool image_ = false;
};

} // namespace

std::unique_ptr<SectorSource> openCddaSource(const std::string& source, bool image) {
    auto s = std::make_unique<CddaSource>();
    if (!s->open(source, image))
        return nullptr;
    return s;
}

} // namespace cdrip
