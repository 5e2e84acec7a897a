// The one-pass read: a sector range read once at the drive's full speed, for a caller
// that proves the audio another way (its AccurateRip checksum) and reads securely only
// what that does not prove.
//
// Every sector is read once, in long runs one after the other, so that the drive never
// seeks back. Where a read fails, the sectors from there on are read on their own once
// each; a sector that still fails, or that the drive flags with C2 errors where it
// offers C2 pointers, is a suspect sector: delivered as silence and reported like a
// damaged sector of the secure reader (counted, and listed with the chunk that holds
// it), so that the caller reads it again securely. The reading itself is the ripper's
// plain reading: the same read offset, the same sector source with the same fault
// injection, the same test for bytes a short transfer did not deliver.
#pragma once

#include "ripper.h"
#include "sectorsource.h"

#include <cstdint>
#include <memory>

namespace cdrip {

// The ripper's settings for a one-pass read of what `secure` would read securely.
RipSettings onePassSettings(const RipSettings& secure);

// `inner`, with every sector a read asks it for added to *sectors: what a range cost
// in sectors read, whichever reader read it.
std::unique_ptr<SectorSource> countingSectors(std::unique_ptr<SectorSource> inner,
                                              int64_t* sectors);

} // namespace cdrip
