// Checks of disc image files before libcdio reads them: libcdio's readers hang on a
// FIFO and trust the sizes inside an NRG image. Each check returns why the image
// cannot be read ("" when nothing is wrong); the texts name the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace cdrip {

// The file must exist and be a regular file; a symbolic link to one is fine.
std::string fileProblem(const std::string& path);

// Reads n bytes at `at` into `out`; false when they are not all there.
using ReadAt = std::function<bool(uint64_t at, void* out, size_t n)>;

// The chunk chain of an NRG image of `size` bytes: the footer ("NER5" and an 8-byte
// offset, or "NERO" and a 4-byte offset, big-endian) points to a chain of chunks (4-byte
// id, 4-byte big-endian size, data) that must stay inside the file before the footer,
// hold only known ids, and end with "END!".
std::string nrgProblem(const ReadAt& read, uint64_t size);

// All checks that apply to the image at `path`, by its extension (cue sheets and TOC
// files are read by the sheet reader, which makes its own checks).
std::string imageProblem(const std::string& path);

} // namespace cdrip
