#include "cli/args.h"

#include <gtest/gtest.h>

using veltrane::cli::ArgSpec;
using veltrane::cli::ParsedArgs;
using veltrane::cli::parseArgs;

namespace {

ArgSpec convertSpec() {
  ArgSpec spec{"convert IN [-o OUT]", "test"};
  spec.option("-o", "OUT", "output").flag("--fine", "fine").option("--margin", "N", "margin");
  return spec;
}

TEST(CliArgs, OptionsFlagsAndPositionals) {
  ParsedArgs a;
  ASSERT_EQ(parseArgs(convertSpec(), {"in.bmp", "-o", "out.apf", "--fine", "--margin=12"}, a, 1, 1), -1);
  EXPECT_EQ(a.positional, std::vector<std::string>{"in.bmp"});
  EXPECT_EQ(a.get("-o", ""), "out.apf");
  EXPECT_TRUE(a.has("--fine"));
  long margin = 0;
  EXPECT_TRUE(a.getInt("--margin", margin));
  EXPECT_EQ(margin, 12);
}

TEST(CliArgs, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
  } cases[] = {
      {{"in.bmp", "--bogus"}},    // unknown option
      {{"in.bmp", "-o"}},         // missing value
      {{"in.bmp", "--fine=1"}},   // value on a flag
      {{}},                       // too few positionals
      {{"a", "b"}},               // too many
  };
  for (const auto& c : cases) {
    ParsedArgs a;
    EXPECT_EQ(parseArgs(convertSpec(), c.args, a, 1, 1), 2);
  }
}

TEST(CliArgs, NonNumericIntegerIsRejected) {
  ParsedArgs a;
  ASSERT_EQ(parseArgs(convertSpec(), {"x", "--margin", "12a"}, a, 1, 1), -1);
  long margin = 0;
  EXPECT_FALSE(a.getInt("--margin", margin));
}

}  // namespace
