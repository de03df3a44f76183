#include "settings/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Each test runs in a fresh temporary folder, where setting.ini is looked for.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "tolvarine-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }
  static void Write(const std::string& content) {
    std::ofstream("setting.ini", std::ios::binary) << content;
  }

  fs::path previous_, dir_;
};

TEST_F(SettingsTest, ReadsTheFirstReadTimeoutLine) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"readtimeout=500", 500},
      {"readtimeout=500\n", 500},
      {"readtimeout=500\r\n", 500},
      {"readtimeout = 500\n", 2000},
      {"readtimeout= 500\n", 500},
      {"readtimeout=500 \n", 500},
      {"readtimeout=500\t\n", 500},
      {"#readtimeout=500\n", 2000},
      {";readtimeout=500\n", 2000},
      {" readtimeout=500\n", 2000},
      {"readtimeout=\n", 2000},
      {"readtimeout= \n", 2000},
      {"readtimeout=  \n", 0},
      {"readtimeout=abc\n", 0},
      {"readtimeout=-20x\n", -20},
      {"readtimeout=+7\n", 7},
      {"readtimeout=1=2\n", 1},
      {"readtimeout=300\nreadtimeout=400\n", 300},
      {"other=5\n", 2000},
      {"\n\nnothing here\nREADTIMEOUT=9\nreadtimeout=9\n", 9},
      {"readtimeout=2147483647\n", 2147483647},
      {"readtimeout=2147483648\n", 2147483647},
      {"readtimeout=-2147483648\n", -2147483647 - 1},
      {"readtimeout=-99999999999999999999\n", -2147483647 - 1},
      {"", 2000},
      // A line longer than a read piece continues as a line of its own.
      {std::string(1023, 'x') + "readtimeout=42\n", 42},
      {std::string(1022, 'x') + "readtimeout=42\n", 2000},
      // Values are cut at 127 characters before conversion.
      {"readtimeout=" + std::string(126, ' ') + "42\n", 4},
  };
  for (const auto& [content, expected] : cases) {
    Write(content);
    EXPECT_EQ(getReadTimeout(), expected) << content.substr(0, 60);
  }
}

TEST_F(SettingsTest, MissingFileReportsAndFallsBack) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(getReadTimeout(), 2000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error opening file: No such file or directory\n");
}

TEST_F(SettingsTest, FileIsReadAfreshAtEachCall) {
  Write("readtimeout=1\n");
  EXPECT_EQ(getReadTimeout(), 1);
  Write("readtimeout=2\n");
  EXPECT_EQ(getReadTimeout(), 2);
}

}  // namespace
