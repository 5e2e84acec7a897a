// AccurateRip's list of drive offsets as a hostile server could send it.

#include "verify/DriveOffsets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<DriveOffsetEntry> entries = ParseDriveOffsets(bytes);
    // 69 bytes a record: no more entries than records, and none for bytes that are not
    // a whole number of them.
    if (entries.size() > size / 69 || (size % 69 != 0 && !entries.empty())) {
        std::abort();
    }
    for (const DriveOffsetEntry& e : entries) {
        if (e.Name.empty() || e.Name.size() > 32 || e.Offset < -32768 || e.Offset > 32767) {
            std::abort();
        }
    }
    // Looking a drive up in the list: an identification made of the input itself too.
    FindDriveOffset(entries, "PLEXTOR DVDR PX-716A 1.11");
    FindDriveOffset(entries, std::string(bytes.substr(0, 64)));
    return 0;
}
