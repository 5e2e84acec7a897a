#pragma once

#include <optional>
#include <string>

// The options of velmora-rip that prove a rip: a second read, the read offset,
// AccurateRip and the JSON report.
namespace riptool {

struct ProofArguments {
    bool test = false;                 // --test: read each track twice, compare CRCs
    std::optional<int> offset;         // --offset N: read offset in samples
    bool accurateRip = true;           // --no-accuraterip turns the look-up off
    bool secure = false;               // --secure: every track read securely, none once first
    std::optional<std::string> report; // --report FILE: the JSON report
    bool overwrite = false;            // --overwrite also lets the report replace a file
};

// --test, --no-accuraterip and --secure; false for any other argument.
bool ParseProofFlag(const std::string& arg, ProofArguments& proof);
// Whether `name` is one of the proof options that take a value.
bool IsProofOption(const std::string& name);
// --offset N and --report FILE; false with a one-line message on a bad value.
bool ParseProofOption(const std::string& name, const std::string& value, ProofArguments& proof,
                      std::string& error);

} // namespace riptool
