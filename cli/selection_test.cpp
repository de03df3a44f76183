#include "cli/selection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct SelectionCase {
  std::string input;
  bool read;
  int value;
};

TEST(ReadSelection, ReadsAsPercentIWithinInt32) {
  const std::vector<SelectionCase> cases = {
      {"2", true, 2},
      {" \n\t 17x", true, 17},
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"017", true, 15},
      {"09", true, 0},
      {"-3", true, -3},
      {"+4", true, 4},
      {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
      {"-2147483648", true, -2147483647 - 1},
      {"-2147483649", false, 0},
      {"99999999999999999999999", false, 0},
      {"abc", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"0x", true, 0},
  };
  for (const SelectionCase& c : cases) {
    std::string buffer = c.input;
    std::FILE* in = fmemopen(buffer.data(), buffer.size() + 1, "r");
    ASSERT_NE(in, nullptr);
    int value = 12345;
    EXPECT_EQ(ReadSelection(in, &value), c.read) << c.input;
    EXPECT_EQ(value, c.read ? c.value : 12345) << c.input;
    std::fclose(in);
  }
}

}  // namespace
