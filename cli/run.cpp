#include "cli/run.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/devices.h"
#include "cli/operations.h"
#include "cli/usage.h"
#include "devlib/interrupts.h"
#include "devlib/loader.h"
#include "devlib/streams.h"
#include "devlib/wrappers.h"
#include "frame/exchange.h"

void* g_hDeviceList = nullptr;
std::uint32_t g_deviceCounts = 0;
std::int32_t g_selDevice = -1;

namespace {

enum class Stage { kHelp, kList, kDevice };

using Handler = void (*)(void* device, int argc, char** argv);

struct Command {
  std::string_view word;
  Stage stage;
  Handler handler;  // for Stage::kDevice
};

constexpr Command kCommands[] = {
    {"--help", Stage::kHelp, nullptr},
    {"-i", Stage::kList, nullptr},
    {"--Gpic", Stage::kDevice, HandleGetPicture},
    {"--firmware", Stage::kDevice, HandleFirmware},
    {"--export", Stage::kDevice, HandleExport},
    {"--execute", Stage::kDevice, HandleExecute},
    {"--import", Stage::kDevice, HandleImport},
};

constexpr int kEnumFlags = 7;
constexpr std::size_t kSelectorLength = 9;  // "vid:pid", four characters each
constexpr std::size_t kIdLength = 4;

const Command* FindCommand(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.word == word) return &command;
  }
  return nullptr;
}

void ReleaseDeviceList() {
  ReleaseDevices(&g_hDeviceList);
  g_hDeviceList = nullptr;
  g_selDevice = -1;
}

// Chooses the device by the "-vp" selector (argument 3 and 4), without
// asking when there is one device, or by asking. Returns false when no
// device was chosen; its message has been printed.
bool ChooseDevice(int argc, char** argv) {
  if (argc >= 4 && std::string_view(argv[3]) == "-vp") {
    const char* selector = argc >= 5 ? argv[4] : "";
    // A short selector cannot be split: asking for it would name no device
    // the user meant.
    if (strnlen(selector, kSelectorLength) < kSelectorLength) {
      std::printf("no device [%s]\n", selector);
      return false;
    }
    char vid[10] = {};
    char pid[10] = {};
    std::memcpy(vid, selector, kIdLength);
    std::memcpy(pid, selector + kIdLength + 1, kIdLength);
    std::printf("pid:%s,vid:%s.\r\n", pid, vid);
    const int index = FindDeviceIndexByPIDVID(g_hDeviceList, vid, pid);
    if (Interruption() != 0) return false;
    // Only an index of the list is a device; anything else names none.
    if (index < 0 || static_cast<std::uint32_t>(index) >= g_deviceCounts) {
      std::printf("no device [%s]\n", selector);
      return false;
    }
    g_selDevice = index;
    return true;
  }
  if (g_deviceCounts == 1) {
    g_selDevice = 0;
    return true;
  }
  return SelectDevice();
}

// Enumerates the devices and runs the command on them; the list is released
// on return. Returns false when there was no device to report.
bool RunOnDevices(const Command& command, int argc, char** argv) {
  g_hDeviceList = EnumDevices(&g_deviceCounts, kEnumFlags);
  // A list handle is needed for every further call; a count without a list
  // describes no device that could be used.
  const bool found = g_deviceCounts != 0 && g_hDeviceList != nullptr;
  if (!found || Interruption() != 0) {
    // Nothing more but the release; an interrupted search found nothing to report.
  } else if (command.stage == Stage::kList) {
    ShowDevice();
  } else if (ChooseDevice(argc, argv)) {
    void* device = OpenDevice(g_hDeviceList, static_cast<unsigned>(g_selDevice), PROTOCOL_DEFAULT);
    if (device == nullptr) {
      std::puts("Failed to open the device");
    } else if (Interruption() == 0) {
      command.handler(device, argc, argv);
    }
    CloseDevice(&device);
  }
  ReleaseDeviceList();
  return found || Interruption() != 0;
}

// "-vp" names the device only as argument 3; anywhere else it would be
// taken for a command, a file name or an option value.
bool SelectorMisplaced(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (i != 3 && std::string_view(argv[i]) == "-vp") return true;
  }
  return false;
}

// Runs the command of argv[1] with the library loaded, and unloads it.
void RunLoaded(int argc, char** argv) {
  const Command* command = argc >= 2 ? FindCommand(argv[1]) : nullptr;
  bool noDevice = false;
  if (argc < 2 || Interruption() != 0) {
    // Nothing asked, or interrupted while loading: nothing to say.
  } else if (command == nullptr) {
    std::puts("There is no such command, use [--help] to see the command");
  } else if (command->stage == Stage::kHelp) {
    ShowHelp();
  } else if (command->stage == Stage::kDevice && SelectorMisplaced(argc, argv)) {
    std::puts("Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid");
  } else {
    noDevice = !RunOnDevices(*command, argc, argv);
  }
  Closedl();
  if (noDevice) std::puts("No device found");
}

}  // namespace

int RunMain(int argc, char** argv) {
  PrepareStandardStreams();
  CatchInterrupts();
  if (Opendl()) RunLoaded(argc, argv);
  FinishOutput();
  EndByInterruption();
  return 0;
}
