#include "frame/slave_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct OptionsCase {
  std::vector<std::string> args;  // after the program name
  bool ok;
  std::string prefix, lengthType, suffix, payload, printed;
};

// Runs the parser on args, capturing what it prints.
std::optional<SlaveOptions> Parse(std::vector<std::string> args, std::string* printed) {
  args.insert(args.begin(), "TolvarineCli");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  auto options = ParseSlaveOptions(static_cast<int>(args.size()), argv.data());
  *printed = testing::internal::GetCapturedStdout();
  if (options) {  // copy out of the vector that is about to go
    static std::vector<std::string> keep;
    keep = {options->prefix, options->lengthType, options->suffix, options->payload};
    options = SlaveOptions{keep[0].c_str(), keep[1].c_str(), keep[2].c_str(), keep[3].c_str()};
  }
  return options;
}

TEST(SlaveOptions, GrammarAndMessages) {
  const std::string few = "There must be one of the [--prefix],[--len],[--suffix] options\n";
  const std::string check = "Check [--prefix],[--len],[--suffix] options\n";
  const std::vector<OptionsCase> cases = {
      {{"--execute", "--custom", "CMD"}, false, "", "", "", "", few},
      {{"--execute", "--custom"}, false, "", "", "", "", few},
      {{"--execute", "--custom", "--prefix", "CMD"}, false, "", "", "", "", check},
      {{"--execute", "--custom", "--prefix", "7b3e", "--len", "CMD"}, false, "", "", "", "", check},
      {{"--execute", "--custom", "a", "b", "c", "d", "e", "f", "g", "h", "CMD"},
       false,
       "",
       "",
       "",
       "",
       check},
      {{"--execute", "--custom", "--prefix", "7b3e", "CMD"}, true, "7b3e", "", "", "CMD", ""},
      {{"--import", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"},
       true,
       "7b3e",
       "2l",
       "007d",
       "cfg.xml",
       ""},
      {{"--execute", "--custom", "--suffix", "007d", "CMD"}, true, "", "", "", "CMD", ""},
      {{"--execute", "--custom", "--prefix", "11", "--prefix", "22", "CMD"},
       true,
       "22",
       "",
       "",
       "CMD",
       ""},
      {{"--execute", "--custom", "--prefix", "--len", "--surfix", "aa", "CMD"},
       true,
       "--len",
       "",
       "aa",
       "CMD",
       ""},
      {{"--execute", "--custom", "--len", "2lx", "CMD"},
       false,
       "",
       "",
       "",
       "",
       "The value of [--len] is too long\n"},
      {{"--execute", "--custom", "--prefix", std::string(127, 'a'), "CMD"},
       true,
       std::string(127, 'a'),
       "",
       "",
       "CMD",
       ""},
      {{"--execute", "--custom", "--prefix", std::string(128, 'a'), "CMD"},
       false,
       "",
       "",
       "",
       "",
       "The value of [--prefix] is too long\n"},
      {{"--execute", "--custom", "--surfix", std::string(200, 'a'), "CMD"},
       false,
       "",
       "",
       "",
       "",
       "The value of [--suffix] is too long\n"},
      {{"--execute", "--custom", "--other", std::string(200, 'a'), "CMD"},
       true,
       "",
       "",
       "",
       "CMD",
       ""},
  };
  for (const OptionsCase& c : cases) {
    std::string printed;
    const auto options = Parse(c.args, &printed);
    EXPECT_EQ(printed, c.printed) << c.args.size();
    ASSERT_EQ(options.has_value(), c.ok) << c.args.size();
    if (!options) continue;
    EXPECT_STREQ(options->prefix, c.prefix.c_str());
    EXPECT_STREQ(options->lengthType, c.lengthType.c_str());
    EXPECT_STREQ(options->suffix, c.suffix.c_str());
    EXPECT_STREQ(options->payload, c.payload.c_str());
  }
}

}  // namespace
