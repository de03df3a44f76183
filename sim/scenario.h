// The simulated device library's model: virtual devices read from a
// scenario file (see README.md beside this file).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class ReadMode { kNormal, kError, kOverclaim };

// An operation made to fail by the scenario, with what it reports.
struct Failure {
  bool fails = false;
  unsigned status = 0;
  std::string reason;
};

// One piece of an answer, delivered by reads: stored bytes, or a run of the
// fill pattern (byte i is i * 7 + 1), made only when it is read, so that a
// scenario with a large answer costs nothing until the answer is asked for.
struct Piece {
  Bytes bytes;
  std::size_t fillAt = 0;
  std::size_t fillSize = 0;  // > 0: a run of the pattern
};

struct Answer {
  std::string command;        // as the device sees it, without a '@' marker
  std::vector<Piece> pieces;  // one per Read
};

// What the device has still to say of one piece.
struct Pending {
  std::span<const std::uint8_t> bytes;  // stored bytes left
  std::size_t fillAt = 0;               // or the pattern from here
  std::size_t fillLeft = 0;
};

// A call that fails its first `times` calls on the device, as a device that
// does not answer at once; the calls are counted in the state folder, across
// processes (see sim/state.h).
struct FlakyCall {
  std::string call;  // "tq_UpdateKernelDevice"
  unsigned times = 0;
  unsigned made = 0;  // calls counted here when the state folder is unusable
};

struct Replay {
  Bytes request;
  std::optional<std::vector<Bytes>> response;  // nullopt: stays silent
};

struct Device {
  std::string info;
  bool infoUnterminated = false;  // fills all 4096 bytes, no NUL
  std::int32_t kind = 0;
  std::string vid = "1a2b";
  std::string pid = "3c4d";
  bool infoFails = false;
  bool openFails = false;
  bool writeFails = false;
  ReadMode read = ReadMode::kNormal;
  bool silent = false;
  // Framing of the master in front of this device, when it is a slave.
  bool slave = false;
  std::string slavePrefix, slaveLength, slaveSuffix;
  std::vector<Answer> answers;
  Bytes unknownAnswer = {0x15};
  std::vector<Replay> replays;
  unsigned pictureWidth = 640;
  unsigned pictureHeight = 480;
  bool pictureSizeFails = false;
  bool pictureDataFails = false;
  Failure firmware, exportConfig, importConfig;
  std::vector<FlakyCall> flaky;

  // What the device has still to say, one piece per Read; stored pieces
  // point into the answers above, which stay put once the scenario is read.
  std::deque<Pending> pending;
  bool open = false;
  int lockFd = -1;  // holds the device's lock while it is open here
};

// An entry point made slow: it waits before doing its work, and gives up
// when a signal interrupts the wait, as many libraries do on EINTR.
struct SlowCall {
  std::string name;   // "tq_UpdateKernelDevice"
  long milliseconds;  // kForever: never returns, whatever the signals
};
constexpr long kForever = -1;

struct Scenario {
  std::vector<Device> devices;
  std::optional<unsigned> count;  // reported instead of the device count
  bool nullList = false;
  bool nullLastError = false;
  std::vector<SlowCall> slowCalls;
  std::string crash;          // an entry point that crashes, or "unload"
  bool thread = false;        // a thread of the library's own, from its loading on
  bool claimSignals = false;  // do-nothing handlers of its own, from its loading on
};

// The scenario the library runs: the file TOLVARINE_SIM names, or the
// default one. A scenario that cannot be read or parsed leaves the library
// without devices, and says why on standard error and in the journal
// ("scenario rejected: ...").
Scenario LoadScenario();

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadFile(const char* path);

// Parses a scenario text. Returns the scenario, or nullopt with a one-line
// reason (naming the line) in *error.
std::optional<Scenario> ParseScenario(const std::string& text, std::string* error);

// The scenario used when none is named: one ready device.
extern const char* const kDefaultScenario;

// Writes `count` bytes of the fill pattern, from byte `at` of it.
void FillPattern(std::size_t at, std::uint8_t* out, std::size_t count);

// Decodes hex pairs separated by optional blanks ("7E 01", "7e01").
std::optional<Bytes> DecodeHex(const std::string& text);

// Decodes \r \n \t \\ \xHH escapes of a scenario value.
std::string Unescape(const std::string& text);

}  // namespace sim
