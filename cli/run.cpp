#include "cli/run.h"

#include <cstdio>
#include <string_view>

#include "cli/listing.h"
#include "cli/lock.h"
#include "cli/operations.h"
#include "cli/result.h"
#include "cli/selection.h"
#include "cli/text.h"
#include "cli/usage.h"
#include "devlib/loader.h"
#include "devlib/trace.h"
#include "devlib/wrappers.h"
#include "frame/exchange.h"
#include "process/interrupts.h"
#include "process/streams.h"

void* g_hDeviceList = nullptr;
std::uint32_t g_deviceCounts = 0;
std::int32_t g_selDevice = -1;

namespace {

// kVersion is served before the library is loaded; kHelp, kList and
// kVersion have nothing to show but their output.
enum class Stage { kVersion, kHelp, kList, kDevice };

using Handler = Outcome (*)(void* device, int argc, char** argv);

struct Command {
  std::string_view word;
  Stage stage;
  Handler handler;       // for Stage::kDevice
  const char* progress;  // the JSON progress line of a held write, up to its seconds
};

constexpr Command kCommands[] = {
    {"--version", Stage::kVersion, nullptr, nullptr},
    {"--help", Stage::kHelp, nullptr, nullptr},
    {"-i", Stage::kList, nullptr, nullptr},
    {"--Gpic", Stage::kDevice, HandleGetPicture, nullptr},
    {"--firmware", Stage::kDevice, HandleFirmware,
     "{\"type\": \"progress\", \"command\": \"--firmware\", \"seconds\": "},
    {"--export", Stage::kDevice, HandleExport, nullptr},
    {"--execute", Stage::kDevice, HandleExecute, nullptr},
    {"--import", Stage::kDevice, HandleImport,
     "{\"type\": \"progress\", \"command\": \"--import\", \"seconds\": "},
};

// Options that choose the device as argument 3, their value being
// argument 4; anywhere else they would be taken for a command, a file name
// or an option value. A device chosen by serial number is locked against
// other runs.
struct Selector {
  std::string_view option;
  Outcome (*select)(const char* value);
  const char* misplaced;
  bool locks;
};

constexpr Selector kSelectors[] = {
    {"-vp", SelectDeviceByIds,
     "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid", false},
    {"-sn", SelectDeviceBySerial,
     "Option -sn must be the third argument: TolvarineCli {option} -sn serial", true},
};

constexpr int kEnumFlags = 7;

// "-i --json", and "-i" in JSON mode: the listing as JSON.
bool ListsAsJson(int argc, char** argv) {
  return ReportsAsJson() || (argc >= 3 && std::string_view(argv[2]) == "--json");
}

void ReleaseDeviceList() {
  ReleaseDevices(&g_hDeviceList);
  g_hDeviceList = nullptr;
  g_selDevice = -1;
}

const Command* FindCommand(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.word == word) return &command;
  }
  return nullptr;
}

// The refusal of a selector option that stands elsewhere than as argument
// 3 of a device command, or null.
const char* MisplacedSelector(int argc, char** argv) {
  for (const Selector& selector : kSelectors) {
    for (int i = 2; i < argc; ++i) {
      if (i != 3 && argv[i] == selector.option) return selector.misplaced;
    }
  }
  return nullptr;
}

const Selector* SelectorOf(int argc, char** argv) {
  for (const Selector& selector : kSelectors) {
    if (argc >= 4 && argv[3] == selector.option) return &selector;
  }
  return nullptr;
}

// Chooses the device: by the selector of argument 3, without asking when
// there is one device, or by asking (never in JSON mode: nothing is read
// from standard input there). Returns kDone when g_selDevice names it;
// otherwise the refusal has been told.
Outcome ChooseDevice(int argc, char** argv) {
  if (const Selector* selector = SelectorOf(argc, argv)) {
    return selector->select(argc >= 5 ? argv[4] : "");
  }
  if (g_deviceCounts == 1) {
    g_selDevice = 0;
    return Outcome::kDone;
  }
  if (ReportsAsJson()) {
    SayOutcome("several devices: choose one with -sn or -vp");
    return Outcome::kRefused;
  }
  return SelectDevice() ? Outcome::kDone : Outcome::kNoDevice;
}

// After a failed library operation in JSON mode: the library's reason,
// asked once.
void AskLibraryError(Outcome outcome) {
  if (ReportsAsJson() && outcome == Outcome::kFailed && !Details().errorAsked) {
    NoteLibraryError(GetLastError());
  }
}

// Opens the chosen device, runs the command's handler on it and closes it.
Outcome RunOnDevice(const Command& command, int argc, char** argv) {
  if (ReportsAsJson() && !DeviceNoted()) {
    st_device_info record;
    ReadDeviceRecord(static_cast<unsigned>(g_selDevice), record);
    NoteDevice(static_cast<unsigned>(g_selDevice), record);
  }
  const Selector* selector = SelectorOf(argc, argv);
  const int lock = selector != nullptr && selector->locks ? LockDevice(argv[4]) : kNoLock;
  if (lock == kDeviceBusy) {
    SayOutcome("device [", "");
    SayDeviceText(argv[4]);
    SayOutcome("] is in use by another TolvarineCli");
    return Outcome::kBusy;
  }
  Outcome outcome = Outcome::kFailed;
  void* device = OpenDevice(g_hDeviceList, static_cast<unsigned>(g_selDevice), PROTOCOL_DEFAULT);
  if (device == nullptr) {
    SayOutcome("Failed to open the device");
    AskLibraryError(outcome);
  } else if (Interruption() == 0) {
    ReportProgressAs(ReportsAsJson() ? command.progress : nullptr);
    outcome = command.handler(device, argc, argv);
    AskLibraryError(outcome);
    // A stop held during a device write waits for the write's outcome (in
    // JSON mode, its result line, written at the end).
    if (!ReportsAsJson()) {
      FlushOutput();
      StopIfHeld();
    }
  }
  CloseDevice(&device);
  UnlockDevice(lock);
  return outcome;
}

// Lists the devices of the enumerated list, or chooses one and runs the
// command on it.
Outcome RunOnDevices(const Command& command, int argc, char** argv) {
  if (command.stage == Stage::kList) {
    ListsAsJson(argc, argv) ? ShowDevicesAsJson() : ShowDevice();
    return Outcome::kDone;
  }
  const Outcome chosen = ChooseDevice(argc, argv);
  return chosen == Outcome::kDone ? RunOnDevice(command, argc, argv) : chosen;
}

// Runs `command` (argv[1]) with the library loaded, and unloads it.
Outcome RunLoaded(const Command* command, int argc, char** argv) {
  Outcome outcome = Outcome::kRefused;
  bool noDevice = false;
  const char* misplaced = nullptr;
  if (argc < 2 || Interruption() != 0) {
    // Nothing asked, or interrupted while loading: nothing to say.
  } else if (command == nullptr) {
    SayOutcome("There is no such command, use [--help] to see the command");
  } else if (command->stage == Stage::kHelp) {
    ShowHelp();
    outcome = Outcome::kDone;
  } else if (command->stage == Stage::kDevice &&
             (misplaced = MisplacedSelector(argc, argv)) != nullptr) {
    SayOutcome(misplaced);
  } else {
    g_hDeviceList = EnumDevices(&g_deviceCounts, kEnumFlags);
    // A list handle is needed for every further call; a count without a
    // list describes no device that could be used.
    noDevice = g_deviceCounts == 0 || g_hDeviceList == nullptr;
    if (noDevice) outcome = Outcome::kNoDevice;
    if (!noDevice && Interruption() == 0) outcome = RunOnDevices(*command, argc, argv);
    ReleaseDeviceList();
  }
  // Decided, unless an interrupt cut the work short (a held write that
  // finished stands).
  if (Interruption() == 0 || HeldWriteFinished()) NoteOutcome(outcome);
  Closedl();
  if (noDevice && Interruption() == 0) {
    const bool json = command->stage == Stage::kList && ListsAsJson(argc, argv);
    json ? static_cast<void>(std::puts("[]")) : SayOutcome("No device found");
  }
  return outcome;
}

}  // namespace

int RunMain(int argc, char** argv) {
  PrepareStandardStreams();
  CatchInterrupts();
  OpenTrace();
  BeginResult(argc, argv);
  const Command* command = argc >= 2 ? FindCommand(argv[1]) : nullptr;
  const Stage stage = command != nullptr ? command->stage : Stage::kDevice;
  Outcome outcome = Outcome::kNoLibrary;
  bool loaded = false;
  if (stage == Stage::kVersion) {
    // Before the library: a bug report needs it most where that is missing.
    std::puts("TolvarineCli " TOLVARINE_VERSION);
    outcome = Outcome::kDone;
  } else if ((loaded = Opendl())) {
    ReclaimSignals();
    outcome = RunLoaded(command, argc, argv);
  } else {
    NoteOutcome(outcome);
  }
  // A listing, the usage text or the version is nothing when it is not
  // written; a device outcome stays what it was, so that a script does not
  // repeat a firmware update that succeeded.
  if (!FinishOutput() && command != nullptr && stage != Stage::kDevice) {
    outcome = Outcome::kFailed;
  }
  // JSON mode: one result line, but for what prints its own (the usage
  // text, the version, a listing).
  const bool ownOutput =
      stage == Stage::kVersion || stage == Stage::kHelp || (stage == Stage::kList && loaded);
  if (ReportsAsJson() && !ownOutput) {
    WriteResult(outcome);
    StopIfHeld();
  }
  EndByInterruption();
  return ExitStatus(outcome);
}
