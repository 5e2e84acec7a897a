#include "ProofArgs.h"

#include <charconv>

namespace riptool {

namespace {

// Ten sectors either way: far beyond any drive's offset.
constexpr int MaxOffset = 5880;

} // namespace

bool ParseProofFlag(const std::string& arg, ProofArguments& proof) {
    if (arg == "--test") {
        proof.test = true;
        return true;
    }
    if (arg == "--no-accuraterip") {
        proof.accurateRip = false;
        return true;
    }
    if (arg == "--secure") {
        proof.secure = true;
        return true;
    }
    return false;
}

bool IsProofOption(const std::string& name) {
    return name == "--offset" || name == "--report";
}

bool ParseProofOption(const std::string& name, const std::string& value, ProofArguments& proof,
                      std::string& error) {
    if (name == "--report") {
        if (value.empty()) {
            error = "option --report needs a file name";
            return false;
        }
        proof.report = value;
        return true;
    }
    // One sign at most: "+6" and "-6", never "+-6".
    const bool plus = value.rfind('+', 0) == 0;
    const char* first = value.data() + (plus ? 1 : 0);
    const char* last = value.data() + value.size();
    int offset = 0;
    const auto [end, ec] = std::from_chars(first, last, offset);
    if (ec != std::errc() || end != last || first == last || (plus && *first == '-') ||
        offset < -MaxOffset || offset > MaxOffset) {
        error = "bad read offset: " + value + " (samples, -5880 to 5880)";
        return false;
    }
    proof.offset = offset;
    return true;
}

} // namespace riptool
