#include "cli/result.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "cli/json.h"
#include "cli/listing.h"
#include "process/interrupts.h"
#include "process/streams.h"

namespace {

constexpr std::string_view kOutcomeNames[] = {"done",      "failed",     "refused",
                                              "no device", "no library", "busy"};
constexpr struct {
  int signal;
  std::string_view name;
} kSignalNames[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};

// The line of a run ended from a signal handler is made here, without
// allocating: everything but a large exchange fits.
constexpr std::size_t kSignalLineSize = 256 * 1024;
char g_signalLine[kSignalLineSize];

long long g_start = 0;  // microseconds, monotonic
const char* g_command = nullptr;
st_device_info g_device;
long long g_deviceIndex = -1;
bool g_workEnded = false;
Outcome g_outcome = Outcome::kFailed;
std::atomic<bool> g_written{false};

long long Microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000LL + now.tv_nsec / 1000;
}

void PutField(JsonText& text, std::string_view name) {
  PutRaw(text, ", \"");
  PutRaw(text, name);
  PutRaw(text, "\": ");
}

void PutOptionalString(JsonText& text, std::string_view name,
                       const std::optional<std::string_view>& value) {
  PutField(text, name);
  if (value) {
    PutString(text, *value);
  } else {
    PutRaw(text, "null");
  }
}

// The whole line, with the exchange's bytes when `withExchange`.
void Compose(JsonText& text, Outcome outcome, bool withExchange) {
  const int signal = Interruption();
  const bool interrupted = signal != 0 && !g_workEnded;
  const RunDetails& details = Details();
  PutRaw(text, "{\"type\": \"result\", \"command\": ");
  if (g_command != nullptr) {
    PutString(text, g_command);
  } else {
    PutRaw(text, "null");
  }
  PutField(text, "device");
  if (g_deviceIndex >= 0) {
    PutDeviceObject(text, static_cast<unsigned>(g_deviceIndex), g_device);
  } else {
    PutRaw(text, "null");
  }
  PutField(text, "outcome");
  PutString(text, interrupted ? "interrupted" : kOutcomeNames[static_cast<int>(outcome)]);
  PutField(text, "status");
  PutNumber(text, signal != 0 ? 128 + signal : static_cast<int>(outcome));
  PutField(text, "message");
  PutString(text, details.message);
  PutOptionalString(text, "error", details.error);
  if (details.file) PutOptionalString(text, "file", details.file);
  if (details.updateError) {
    PutField(text, "updateError");
    PutNumber(text, static_cast<int>(*details.updateError));
  }
  if (details.exchanged) {
    PutField(text, "request");
    withExchange ? PutHexString(text, details.request) : PutRaw(text, "null");
    PutField(text, "response");
    if (withExchange && details.response) {
      PutHexString(text, *details.response);
    } else {
      PutRaw(text, "null");
    }
  }
  if (signal != 0 && !interrupted) {
    for (const auto& known : kSignalNames) {
      if (known.signal == signal) PutOptionalString(text, "signal", known.name);
    }
  }
  PutField(text, "seconds");
  PutSeconds(text, Microseconds() - g_start);
  PutRaw(text, "}\n");
}

// Writes the line whole, in one write when the system takes it so (a file
// opened for appending always does). Async-signal-safe.
void WriteLine(std::string_view line) {
  while (!line.empty()) {
    const ssize_t written = write(STDOUT_FILENO, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    line.remove_prefix(static_cast<std::size_t>(written));
  }
}

// The last words of a run that a signal handler ends (a library call that
// does not return): its result, if standard output takes it at once.
void SayResultFromHandler() {
  if (g_written.exchange(true)) return;
  pollfd ready{STDOUT_FILENO, POLLOUT, 0};
  if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) return;
  JsonText text = JsonInto(g_signalLine);
  Compose(text, g_outcome, true);
  if (text.cut) {
    text = JsonInto(g_signalLine);
    Compose(text, g_outcome, false);
  }
  if (!text.cut) WriteLine(JsonWritten(g_signalLine, text));
}

}  // namespace

void BeginResult(int argc, char** argv) {
  g_start = Microseconds();
  g_command = argc >= 2 ? argv[1] : nullptr;
  if (ReportsAsJson()) SetLastWords(SayResultFromHandler);
}

void NoteDevice(unsigned index, const st_device_info& record) {
  g_device = record;
  g_deviceIndex = index;
}

bool DeviceNoted() { return g_deviceIndex >= 0; }

void NoteOutcome(Outcome outcome) {
  g_outcome = outcome;
  g_workEnded = true;
}

void WriteResult(Outcome outcome) {
  if (g_written.exchange(true)) return;
  const RunDetails& details = Details();
  std::size_t size = 1024 + kDeviceObjectSize + JsonStringBound(details.message.size()) +
                     JsonStringBound(details.error ? details.error->size() : 0) +
                     JsonStringBound(details.file ? details.file->size() : 0) +
                     JsonStringBound(g_command != nullptr ? std::strlen(g_command) : 0) +
                     2 * details.request.size() +
                     2 * (details.response ? details.response->size() : 0);
  char* line = static_cast<char*>(std::malloc(size));
  if (line == nullptr) {
    ReportError("TolvarineCli: not enough memory for the result line");
    return;
  }
  JsonText text = JsonInto({line, size});
  Compose(text, outcome, true);
  FlushOutput();
  WriteLine(JsonWritten({line, size}, text));
  std::free(line);
}
