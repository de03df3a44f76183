// Runs the real TolvarineCli binary in a fresh temporary folder, with the
// simulated device library as ./Tolvarine.so, and collects what it printed
// and what the library's journal recorded.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

struct RunResult {
  std::string out;        // standard output (both streams when merged)
  std::string err;        // standard error
  std::string journal;    // one line per library call (or event of the simulator)
  int status = -1;        // exit status, or 128 + signal
  std::string outAtStop;  // standard output when the tool stopped, if it did
};

// The simulated library as ./Tolvarine.so (a link to the build's), its lean
// variant, none, or whatever the test has placed there itself.
enum class Library { kFull, kLean, kNone, kPlaced };

// Signals sent to the tool once `after` shows in its journal or output. A
// tool that stops is continued, with "(stopped)" noted in its journal.
struct Interrupt {
  int signal = 0;
  std::string after;
  int times = 1;
  int gap = 0;  // milliseconds between two of them (those within 100 ms are one)
};

struct RunOptions {
  std::string input;        // standard input; closed at its end (held open, empty,
                            // while an interrupt waits for the prompt)
  std::string answerAfter;  // input is given only once this shows in the output
  std::string scenario;     // scenario text; empty: the default device
  Library library = Library::kFull;
  bool mergeStreams = false;  // stdout and stderr into one file
  int status = 0;             // expected exit status (128 + signal)
  std::string err;            // expected standard error, exactly
  Interrupt interrupt;
  std::vector<int> closed;       // standard descriptors closed at start
  std::vector<int> stalled;      // standard descriptors given a full pipe
                                 // that nobody reads
  std::string outputFile;        // standard output into this file instead
  int readerTakes = -1;          // >= 0: stdout is a pipe whose reader takes that
                                 // many bytes and goes away
  bool terminal = false;         // standard output and error on one pseudo-
                                 // terminal, whose bytes `err` expects
  std::vector<std::string> env;  // "NAME=value" for the run
  int code = -1;                 // >= 0: RunCases runs the case again with
                                 // TOLVARINE_EXIT_STATUS=1, expecting this status
};

// One case of a table: a run and what it must give.
struct Case {
  std::string name;  // shown when the case fails
  std::vector<std::string> args;
  RunOptions options;
  std::string out;                  // exact standard output
  std::vector<std::string> calls;   // journal lines that must appear, in this order
  std::string tail;                 // how the journal ends ("": any way)
  std::vector<std::string> absent;  // calls that must not be made ("tq_Write(")
  std::function<void()> setup;      // prepares the folder before the run
  std::string json;                 // when set, RunCases runs the case again with
                                    // TOLVARINE_JSON=1 and expects this standard
                                    // output ("seconds" read as 0.000)
};

// The JSON result line of a run, as the tables write it: `fields` between
// the command and the seconds.
std::string ResultLine(const std::string& command, const std::string& fields);

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the tool. Fails the test when the exit status or standard error is
  // not what the options expect, or when the simulator rejected the scenario.
  RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {});
  // Runs every case and checks what it must give.
  void RunCases(const std::vector<Case>& cases);
  void WriteFile(const std::string& name, const std::string& content) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;

  std::string dir_;
};

// Journal lines that start with `call` (for example "tq_Write(").
std::vector<std::string> Calls(const std::string& journal, const std::string& call);

// A scenario of `count` devices with the line layout and distinct names.
std::string Devices(int count);

// The usage text "--help" prints.
extern const char kUsage[];

// The default device as JSON results name it.
extern const char kDefaultDevice[];

// The request trace of "--execute RRDDUR2000".
extern const char kRequest[];
