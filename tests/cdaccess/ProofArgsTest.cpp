// velmora-rip's options for the proof of a rip, through the whole command-line parser.

#include "RipArgs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct ProofArgsRow {
    std::string Name;
    std::vector<const char*> Argv; // after the program name
    bool Ok;
    bool Test;
    std::optional<int> Offset;
    bool AccurateRip;
    std::optional<std::string> Report;
    std::string Error;
};

class ProofArgs : public testing::TestWithParam<ProofArgsRow> {};

TEST_P(ProofArgs, Parse) {
    const ProofArgsRow& row = GetParam();
    std::vector<const char*> argv{"velmora-rip"};
    argv.insert(argv.end(), row.Argv.begin(), row.Argv.end());
    riptool::Arguments args;
    std::string error;
    ASSERT_EQ(riptool::ParseArguments(static_cast<int>(argv.size()), argv.data(), args, error),
              row.Ok)
        << error;
    EXPECT_EQ(error, row.Error);
    if (!row.Ok) {
        return;
    }
    EXPECT_EQ(args.command, riptool::Command::Rip);
    EXPECT_EQ(args.proof.test, row.Test);
    EXPECT_EQ(args.proof.offset, row.Offset);
    EXPECT_EQ(args.proof.accurateRip, row.AccurateRip);
    EXPECT_EQ(args.proof.report, row.Report);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProofArgs,
    testing::Values(
        ProofArgsRow{"Defaults", {"rip"}, true, false, std::nullopt, true, std::nullopt, ""},
        ProofArgsRow{"Everything",
                     {"rip", "--test", "--offset", "-472", "--no-accuraterip", "--report", "r.json",
                      "disc.cue"},
                     true,
                     true,
                     -472,
                     false,
                     std::string("r.json"),
                     ""},
        ProofArgsRow{"InlineValues",
                     {"rip", "--offset=+667", "--report=x.json"},
                     true,
                     false,
                     667,
                     true,
                     std::string("x.json"),
                     ""},
        ProofArgsRow{"OffsetTooLarge",
                     {"rip", "--offset", "5881"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: 5881 (samples, -5880 to 5880)"},
        ProofArgsRow{"OffsetNotANumber",
                     {"rip", "--offset", "6x"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: 6x (samples, -5880 to 5880)"},
        // One sign at most: "+-5" is no number, not -5.
        ProofArgsRow{"OffsetPlusMinus",
                     {"rip", "--offset=+-5"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: +-5 (samples, -5880 to 5880)"},
        ProofArgsRow{"OffsetMinusPlus",
                     {"rip", "--offset=-+5"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: -+5 (samples, -5880 to 5880)"},
        ProofArgsRow{"OffsetSignAlone",
                     {"rip", "--offset=+"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: + (samples, -5880 to 5880)"},
        ProofArgsRow{"OffsetLowestTaken",
                     {"rip", "--offset=-5880"},
                     true,
                     false,
                     -5880,
                     true,
                     std::nullopt,
                     ""},
        ProofArgsRow{"OffsetHighestTaken",
                     {"rip", "--offset=+5880"},
                     true,
                     false,
                     5880,
                     true,
                     std::nullopt,
                     ""},
        ProofArgsRow{"OffsetBelowLowest",
                     {"rip", "--offset=-5881"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "bad read offset: -5881 (samples, -5880 to 5880)"},
        ProofArgsRow{"OffsetMissing",
                     {"rip", "--offset"},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "option --offset needs a value"},
        ProofArgsRow{"ReportEmpty",
                     {"rip", "--report="},
                     false,
                     false,
                     std::nullopt,
                     true,
                     std::nullopt,
                     "option --report needs a file name"}),
    [](const testing::TestParamInfo<ProofArgsRow>& row) { return row.param.Name; });

} // namespace
