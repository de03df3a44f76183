// Runs the real TolvarineCli binary in a fresh temporary folder, with the
// simulated device library as ./Tolvarine.so, and collects what it printed
// and what the library's journal recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct RunResult {
  std::string out;      // standard output (both streams when merged)
  std::string err;      // standard error
  std::string journal;  // one line per library call
  int status = -1;      // exit status, or 128 + signal
};

enum class Library { kFull, kLean, kNone };

struct RunOptions {
  std::string input;     // standard input; closed at its end
  std::string scenario;  // scenario text; empty: the default device
  Library library = Library::kFull;
  bool mergeStreams = false;  // stdout and stderr into one file
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {});
  void WriteFile(const std::string& name, const std::string& content) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;

  std::string dir_;
};

// Journal lines that start with `call` (for example "tq_Write(").
std::vector<std::string> Calls(const std::string& journal, const std::string& call);

// A scenario of `count` devices with the line layout and distinct names.
std::string Devices(int count);
