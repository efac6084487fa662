// zirv7-sim's command line: what each option sets, and what is refused.
#include "sim/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses the words after the program's name.
bool Parse(std::vector<std::string> words, zirvsim::TCommandLine& line) {
  std::vector<char*> argv = {const_cast<char*>("zirv7-sim")};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return zirvsim::ParseArguments(int(argv.size() - 1), argv.data(), line);
}

TEST(SimCommandLineTest, OptionsSetWhatTheyName) {
  zirvsim::TCommandLine line;
  ASSERT_TRUE(Parse({"--link", "COM3", "--no-pacing", "--crlf", "--fault", "hang-up-after=8",
                     "--seed", "7", "--motor", "gain=2,tau=0.1,friction=1"},
                    line));
  EXPECT_EQ(line.Link, "COM3");
  EXPECT_FALSE(line.Options.Pacing);
  EXPECT_TRUE(line.Options.CrLf);
  EXPECT_EQ(line.Fault, zirvsim::TFault::HangUpAfter);
  EXPECT_EQ(line.FaultParam, 8);
  EXPECT_EQ(line.Options.Seed, 7u);
  EXPECT_EQ(line.Options.Motor.CountsPerSecondPerPercent, 2);
}

TEST(SimCommandLineTest, RefusesWhatItDoesNotUnderstand) {
  const std::vector<std::vector<std::string>> refused = {
      {"--bogus"},
      {"--link"},                      // a value missing
      {"--link", "COM0"},              // no such port name
      {"--link", "COM01"},             // a leading zero
      {"--fault", "no-such-fault"},
      {"--motor", "gain=2,gain=3"},    // a repeated key
      {"--motor", "colour=red"},
      {"--motor"},
      {"--link", "COM33"},             // beyond the tool's port names
      {"--seed", "7x"},                // not a whole number
      {"--fault", "cut-short=2.5"},
  };
  for (const auto& words : refused) {
    zirvsim::TCommandLine line;
    EXPECT_FALSE(Parse(words, line)) << words.front() << (words.size() > 1 ? " " + words[1] : "");
  }
}

TEST(SimCommandLineTest, HelpNeedsNoValidLink) {
  zirvsim::TCommandLine line;
  EXPECT_TRUE(Parse({"--link", "COM0", "--help"}, line));
  EXPECT_TRUE(line.Help);
}

}  // namespace
