#include "cli/run.h"

#include <cstdio>
#include <string_view>

#include "cli/devices.h"
#include "cli/operations.h"
#include "cli/usage.h"
#include "devlib/loader.h"
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
  Handler handler;  // for Stage::kDevice
};

constexpr Command kCommands[] = {
    {"--version", Stage::kVersion, nullptr},
    {"--help", Stage::kHelp, nullptr},
    {"-i", Stage::kList, nullptr},
    {"--Gpic", Stage::kDevice, HandleGetPicture},
    {"--firmware", Stage::kDevice, HandleFirmware},
    {"--export", Stage::kDevice, HandleExport},
    {"--execute", Stage::kDevice, HandleExecute},
    {"--import", Stage::kDevice, HandleImport},
};

// Options that choose the device as argument 3, their value being
// argument 4; anywhere else they would be taken for a command, a file name
// or an option value.
struct Selector {
  std::string_view option;
  Outcome (*select)(const char* value);
  const char* misplaced;
};

constexpr Selector kSelectors[] = {
    {"-vp", SelectDeviceByIds,
     "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid"},
    {"-sn", SelectDeviceBySerial,
     "Option -sn must be the third argument: TolvarineCli {option} -sn serial"},
};

constexpr int kEnumFlags = 7;

// "-i --json": the listing as JSON.
bool ListsAsJson(int argc, char** argv) {
  return argc >= 3 && std::string_view(argv[2]) == "--json";
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

// Chooses the device: by the selector of argument 3, without asking when
// there is one device, or by asking. Returns kDone when g_selDevice names
// it; otherwise the refusal has been printed.
Outcome ChooseDevice(int argc, char** argv) {
  for (const Selector& selector : kSelectors) {
    if (argc >= 4 && argv[3] == selector.option) return selector.select(argc >= 5 ? argv[4] : "");
  }
  if (g_deviceCounts == 1) {
    g_selDevice = 0;
    return Outcome::kDone;
  }
  return SelectDevice() ? Outcome::kDone : Outcome::kNoDevice;
}

// Lists the devices of the enumerated list, or chooses one, opens it, runs
// the command's handler on it and closes it.
Outcome RunOnDevices(const Command& command, int argc, char** argv) {
  if (command.stage == Stage::kList) {
    ListsAsJson(argc, argv) ? ShowDevicesAsJson() : ShowDevice();
    return Outcome::kDone;
  }
  Outcome outcome = ChooseDevice(argc, argv);
  if (outcome != Outcome::kDone) return outcome;
  void* device = OpenDevice(g_hDeviceList, static_cast<unsigned>(g_selDevice), PROTOCOL_DEFAULT);
  if (device == nullptr) {
    std::puts("Failed to open the device");
    outcome = Outcome::kFailed;
  } else if (Interruption() == 0) {
    outcome = command.handler(device, argc, argv);
    // A stop held during a device write waits for the write's outcome.
    FlushOutput();
    StopIfHeld();
  }
  CloseDevice(&device);
  return outcome;
}

// Runs `command` (argv[1]) with the library loaded, and unloads it.
Outcome RunLoaded(const Command* command, int argc, char** argv) {
  Outcome outcome = Outcome::kRefused;
  bool noDevice = false;
  const char* misplaced = nullptr;
  if (argc < 2 || Interruption() != 0) {
    // Nothing asked, or interrupted while loading: nothing to say.
  } else if (command == nullptr) {
    std::puts("There is no such command, use [--help] to see the command");
  } else if (command->stage == Stage::kHelp) {
    ShowHelp();
    outcome = Outcome::kDone;
  } else if (command->stage == Stage::kDevice &&
             (misplaced = MisplacedSelector(argc, argv)) != nullptr) {
    std::puts(misplaced);
  } else {
    g_hDeviceList = EnumDevices(&g_deviceCounts, kEnumFlags);
    // A list handle is needed for every further call; a count without a
    // list describes no device that could be used.
    noDevice = g_deviceCounts == 0 || g_hDeviceList == nullptr;
    if (!noDevice && Interruption() == 0) outcome = RunOnDevices(*command, argc, argv);
    ReleaseDeviceList();
  }
  Closedl();
  if (noDevice && Interruption() == 0) {
    const bool json = command->stage == Stage::kList && ListsAsJson(argc, argv);
    std::puts(json ? "[]" : "No device found");
    outcome = Outcome::kNoDevice;
  }
  return outcome;
}

}  // namespace

int RunMain(int argc, char** argv) {
  PrepareStandardStreams();
  CatchInterrupts();
  const Command* command = argc >= 2 ? FindCommand(argv[1]) : nullptr;
  Outcome outcome = Outcome::kNoLibrary;
  if (command != nullptr && command->stage == Stage::kVersion) {
    // Before the library: a bug report needs it most where that is missing.
    std::puts("TolvarineCli " TOLVARINE_VERSION);
    outcome = Outcome::kDone;
  } else if (Opendl()) {
    ReclaimSignals();
    outcome = RunLoaded(command, argc, argv);
  }
  // A listing, the usage text or the version is nothing when it is not
  // written; a device outcome stays what it was, so that a script does not
  // repeat a firmware update that succeeded.
  if (!FinishOutput() && command != nullptr && command->stage != Stage::kDevice) {
    outcome = Outcome::kFailed;
  }
  EndByInterruption();
  return ExitStatus(outcome);
}
