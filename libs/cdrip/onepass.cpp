#include "onepass.h"

#include <utility>

namespace cdrip {
namespace {

class CountingSource final : public SectorSource {
public:
    CountingSource(std::unique_ptr<SectorSource> inner, int64_t* sectors)
        : inner_(std::move(inner)), sectors_(sectors) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        if (count > 0)
            *sectors_ += count;
        return inner_->read(lsn, count, out, c2);
    }
    bool hasC2() const override { return inner_->hasC2(); }
    int32_t cacheSectors() const override { return inner_->cacheSectors(); }

private:
    std::unique_ptr<SectorSource> inner_;
    int64_t* sectors_;
};

} // namespace

RipSettings onePassSettings(const RipSettings& secure) {
    RipSettings s = secure;
    // The plain reading: one read a chunk, each sector on its own once where that
    // fails; no second try, since whatever fails is read again securely anyway.
    s.paranoia = false;
    s.retries = 1;
    return s;
}

std::unique_ptr<SectorSource> countingSectors(std::unique_ptr<SectorSource> inner,
                                              int64_t* sectors) {
    if (!inner || !sectors)
        return inner;
    return std::make_unique<CountingSource>(std::move(inner), sectors);
}

} // namespace cdrip
