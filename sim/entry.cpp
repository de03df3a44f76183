// The entry points of the simulated device library. Every call is appended
// to the journal named by TOLVARINE_SIM_JOURNAL, one line per call.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "devlib/contract.h"
#include "sim/behaviour.h"
#include "sim/journal.h"
#include "sim/scenario.h"
#include "sim/state.h"

namespace {

using sim::BoolText;
using sim::Hex;
using sim::Journal;
using sim::Quoted;

struct State {
  sim::Scenario scenario;
  int list = 0;  // its address is the list handle
  std::string lastError;
};

State LoadState() {
  State state;
  state.scenario = sim::LoadScenario();
  sim::ArmLifetimeFaults(state.scenario);
  return state;
}

// The library's state, read from the scenario when the library is loaded.
State& Library() {
  static State state = LoadState();
  return state;
}

// The prologue of every entry point (sim::ApplyFaults).
bool Prologue(const char* call, bool waits = true) {
  return sim::ApplyFaults(Library().scenario, call, waits);
}

sim::Device* FindDevice(void* handle) {
  for (sim::Device& device : Library().scenario.devices) {
    if (&device == handle) return &device;
  }
  return nullptr;
}

// A handle as the journal shows it: list, devN, null or the raw address.
std::string HandleName(const void* handle) {
  if (handle == nullptr) return "null";
  if (handle == &Library().list) return "list";
  const auto& devices = Library().scenario.devices;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (&devices[i] == handle) return "dev" + std::to_string(i);
  }
  char raw[32];
  std::snprintf(raw, sizeof raw, "%p", handle);
  return raw;
}

bool Fail(const std::string& reason) {
  Library().lastError = reason;
  return false;
}

// The scenario is read when the library is loaded, as a vendor library
// starts up in its initialisers.
__attribute__((constructor)) void AtLoad() { Library(); }

sim::Device* OpenDeviceOf(void* handle) {
  sim::Device* device = FindDevice(handle);
  return device != nullptr && device->open ? device : nullptr;
}

// The device's name in the state folder (sim::StateName).
std::string StateName(const sim::Device& device) {
  return sim::StateName(device,
                        static_cast<std::size_t>(&device - Library().scenario.devices.data()));
}

// The status of a firmware update the device did not answer.
constexpr unsigned kNoAnswerStatus = 7;

// Whether the device answers `call` this time: a flaky call fails its first
// calls (sim::FlakyAttempt). A failing one stores its reason and notes
// ", flaky 1 of 2" for the journal line.
bool Answers(sim::Device& device, const char* call, std::string* note) {
  for (sim::FlakyCall& flaky : device.flaky) {
    if (flaky.call != call) continue;
    const unsigned attempt = sim::FlakyAttempt(StateName(device), flaky);
    if (attempt == 0) return true;
    const std::string of = std::to_string(attempt) + " of " + std::to_string(flaky.times);
    *note = ", flaky " + of;
    return Fail("device did not answer (flaky, attempt " + of + ")");
  }
  return true;
}

// Takes the device for this process; false, with the reason stored and
// ", busy" noted, while another process holds it.
bool Claim(sim::Device& device, std::string* note) {
  if (device.lockFd >= 0) return true;  // opened before by this process
  if (sim::LockDevice(StateName(device), &device.lockFd) != sim::Claim::kBusy) return true;
  *note = ", busy";
  return Fail("device is in use by another process");
}

void Unclaim(sim::Device& device) {
  if (device.lockFd >= 0) close(device.lockFd);
  device.lockFd = -1;
}

// Accepts a configuration the device takes (sim::RefuseConfiguration).
bool TakeConfiguration(const sim::Device& device, const char* path) {
  const std::string reason = sim::RefuseConfiguration(device, path);
  return reason.empty() || Fail(reason);
}

// " -> result" as the journal shows the result of an idle call.
template <typename Result>
std::string ResultText(long result) {
  if constexpr (std::is_void_v<Result>) {
    return "";
  } else if constexpr (std::is_same_v<Result, bool>) {
    return result != 0 ? " -> true" : " -> false";
  } else {
    return " -> " + std::to_string(result);
  }
}

}  // namespace

extern "C" {

void* tq_EnumDevices(unsigned* count, int flags) {
  State& state = Library();
  const bool entered = Prologue("tq_EnumDevices");
  const auto devices = static_cast<unsigned>(state.scenario.devices.size());
  const unsigned reported = entered ? state.scenario.count.value_or(devices) : 0;
  if (count != nullptr) *count = reported;
  void* list = state.scenario.nullList || !entered ? nullptr : &state.list;
  Journal("tq_EnumDevices(&count, %d) -> %s, count=%u", flags, HandleName(list).c_str(), reported);
  return list;
}

bool tq_GetDeviceInfo(void* list, unsigned index, st_device_info* info) {
  State& state = Library();
  bool ok = Prologue("tq_GetDeviceInfo") && list == &state.list &&
            index < state.scenario.devices.size() && info != nullptr;
  if (ok && state.scenario.devices[index].infoFails) ok = Fail("device info unavailable");
  if (ok) {
    const sim::Device& device = state.scenario.devices[index];
    std::memset(info->info, 0, sizeof info->info);
    if (device.infoUnterminated) {
      for (std::size_t i = 0; i < sizeof info->info; ++i) {
        info->info[i] = device.info.empty() ? 'x' : device.info[i % device.info.size()];
      }
    } else {
      std::memcpy(info->info, device.info.data(),
                  std::min(device.info.size(), sizeof info->info - 1));
    }
    info->kind = device.kind;
  }
  Journal("tq_GetDeviceInfo(%s, %u, &info) -> %s", HandleName(list).c_str(), index, BoolText(ok));
  return ok;
}

int tq_FindDeviceIndexByPIDVID(void* list, const char* vid, const char* pid) {
  State& state = Library();
  int index = -1;
  if (Prologue("tq_FindDeviceIndexByPIDVID") && list == &state.list && vid != nullptr &&
      pid != nullptr) {
    const auto& devices = state.scenario.devices;
    for (std::size_t i = 0; i < devices.size() && index < 0; ++i) {
      if (strcasecmp(devices[i].vid.c_str(), vid) == 0 &&
          strcasecmp(devices[i].pid.c_str(), pid) == 0) {
        index = static_cast<int>(i);
      }
    }
  }
  Journal("tq_FindDeviceIndexByPIDVID(%s, %s, %s) -> %d", HandleName(list).c_str(),
          Quoted(vid).c_str(), Quoted(pid).c_str(), index);
  return index;
}

void* tq_OpenDevice(void* list, unsigned index, T_Porotocol protocol) {
  State& state = Library();
  sim::Device* device = nullptr;
  std::string note;
  if (Prologue("tq_OpenDevice") && list == &state.list && index < state.scenario.devices.size()) {
    device = &state.scenario.devices[index];
    if (device->openFails) {
      Fail("device cannot be opened");
      device = nullptr;
    } else if (Claim(*device, &note) && Answers(*device, "tq_OpenDevice", &note)) {
      device->open = true;
    } else {
      if (!device->open) Unclaim(*device);
      device = nullptr;
    }
  }
  Journal("tq_OpenDevice(%s, %u, %d) -> %s%s", HandleName(list).c_str(), index,
          static_cast<int>(protocol), HandleName(device).c_str(), note.c_str());
  return device;
}

int tq_CloseDevice(void** device) {
  Prologue("tq_CloseDevice");  // closes all the same
  sim::Device* open = device != nullptr ? OpenDeviceOf(*device) : nullptr;
  Journal("tq_CloseDevice(&%s) -> %d", device != nullptr ? HandleName(*device).c_str() : "(null)",
          open != nullptr);
  if (open != nullptr) {
    open->open = false;
    open->pending.clear();
    Unclaim(*open);
    *device = nullptr;
  }
  return open != nullptr;
}

void tq_ReleaseDevices(void** list) {
  Prologue("tq_ReleaseDevices");  // releases all the same
  Journal("tq_ReleaseDevices(&%s)", list != nullptr ? HandleName(*list).c_str() : "(null)");
  if (list != nullptr && *list == &Library().list) *list = nullptr;
}

bool tq_Write(void* handle, const unsigned char* bytes, unsigned count, bool asHex) {
  bool ok = Prologue("tq_Write");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note, flaky;
  ok = ok && device != nullptr && (bytes != nullptr || count == 0);
  ok = ok && Answers(*device, "tq_Write", &flaky);
  if (ok && device->writeFails) ok = Fail("write failed");
  if (ok) note = sim::Receive(*device, {bytes, count});
  Journal("tq_Write(%s, [%s], %u, %s) -> %s%s%s%s", HandleName(handle).c_str(),
          bytes != nullptr ? Hex(bytes, count).c_str() : "null", count, BoolText(asHex),
          BoolText(ok), flaky.c_str(), note.empty() ? "" : "; device: ", note.c_str());
  return ok;
}

int tq_Read(void* handle, char* buffer, unsigned capacity, unsigned timeout) {
  sim::Device* device = OpenDeviceOf(handle);
  // A device with nothing to say keeps the read waiting; a signal ends it.
  const bool answered = Prologue("tq_Read", device == nullptr || device->pending.empty());
  int result = 0;
  std::string note;
  if (device == nullptr || buffer == nullptr || !answered) {
    result = -1;
  } else if (!Answers(*device, "tq_Read", &note) || device->read == sim::ReadMode::kError) {
    result = -1;
  } else if (!device->pending.empty()) {
    sim::Pending& piece = device->pending.front();
    auto* out = reinterpret_cast<std::uint8_t*>(buffer);
    const std::size_t count =
        std::min<std::size_t>(piece.bytes.empty() ? piece.fillLeft : piece.bytes.size(), capacity);
    if (piece.bytes.empty()) {
      sim::FillPattern(piece.fillAt, out, count);
      piece.fillAt += count;
      piece.fillLeft -= count;
    } else {
      std::memcpy(out, piece.bytes.data(), count);
      piece.bytes = piece.bytes.subspan(count);
    }
    if (piece.bytes.empty() && piece.fillLeft == 0) device->pending.pop_front();
    result = static_cast<int>(count);
    // Claims more than it was offered (and more than it stored).
    if (device->read == sim::ReadMode::kOverclaim) {
      result =
          static_cast<int>(std::min<std::uint64_t>(std::uint64_t{capacity} + 1000, 0x7FFFFFFF));
    }
  }
  Journal("tq_Read(%s, %u, %u) -> %d%s", HandleName(handle).c_str(), capacity, timeout, result,
          note.c_str());
  return result;
}

int tq_GetPicSize(void* handle, unsigned* width, unsigned* height) {
  bool ok = Prologue("tq_GetPicSize");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  ok = ok && device != nullptr && width != nullptr && height != nullptr;
  ok = ok && Answers(*device, "tq_GetPicSize", &note);
  if (ok && device->pictureSizeFails) ok = Fail("picture size unavailable");
  if (ok) {
    *width = device->pictureWidth;
    *height = device->pictureHeight;
  }
  Journal("tq_GetPicSize(%s, &width, &height) -> %d, %ux%u%s", HandleName(handle).c_str(), ok,
          ok ? *width : 0, ok ? *height : 0, note.c_str());
  return ok;
}

bool tq_GetPicData(void* handle, unsigned char* buffer, int size) {
  bool ok = Prologue("tq_GetPicData");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  ok = ok && device != nullptr && (buffer != nullptr || size == 0);
  ok = ok && Answers(*device, "tq_GetPicData", &note);
  if (ok && device->pictureDataFails) ok = Fail("picture capture failed");
  if (ok && std::uint64_t{device->pictureWidth} * device->pictureHeight !=
                static_cast<std::uint64_t>(size)) {
    ok = Fail("picture buffer of " + std::to_string(size) +
              " bytes does not match the picture size");
  }
  if (ok) {
    for (unsigned y = 0; y < device->pictureHeight; ++y) {
      for (unsigned x = 0; x < device->pictureWidth; ++x) {
        buffer[std::size_t{y} * device->pictureWidth + x] = sim::PicturePixel(x, y);
      }
    }
  }
  Journal("tq_GetPicData(%s, buffer, %d) -> %s%s", HandleName(handle).c_str(), size, BoolText(ok),
          note.c_str());
  return ok;
}

bool tq_SavePicDataToFile(const char* name, unsigned char* buffer, int width, int height,
                          int bits) {
  bool ok = Prologue("tq_SavePicDataToFile") || Fail("interrupted");
  if (ok && (name == nullptr || buffer == nullptr || width < 0 || height < 0)) {
    ok = Fail("invalid picture arguments");
  }
  if (ok && bits != 8) ok = Fail("only 8 bits per pixel are supported");
  if (ok) {
    const std::string problem =
        sim::WriteBmp(name, buffer, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!problem.empty()) ok = Fail(problem);
  }
  Journal("tq_SavePicDataToFile(%s, buffer, %d, %d, %d) -> %s", Quoted(name).c_str(), width, height,
          bits, BoolText(ok));
  return ok;
}

int tq_UpdateKernelDevice(void* handle, const char* path, unsigned flags, unsigned* status) {
  const bool finished = Prologue("tq_UpdateKernelDevice");
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = device != nullptr && path != nullptr;
  unsigned code = 1;
  std::string note;
  if (ok && !finished) {
    code = 4;
    ok = Fail("firmware update interrupted: the device needs a new update");
  } else if (ok && !Answers(*device, "tq_UpdateKernelDevice", &note)) {
    code = kNoAnswerStatus;
    ok = false;
  } else if (ok && device->firmware.fails) {
    code = device->firmware.status;
    ok = Fail(device->firmware.reason);
  } else if (ok) {
    const std::optional<std::string> image = sim::ReadFile(path);
    if (!image) {
      code = 2;
      ok = Fail(std::string("cannot open firmware file ") + path);
    } else if (image->empty()) {
      code = 3;
      ok = Fail(std::string("firmware file ") + path + " is empty");
    } else {
      code = 0;
    }
  }
  if (status != nullptr && device != nullptr) *status = code;
  Journal("tq_UpdateKernelDevice(%s, %s, %u, &status) -> %d, status=%u%s",
          HandleName(handle).c_str(), Quoted(path).c_str(), flags, ok, code, note.c_str());
  return ok;
}

bool tq_ReadDevCfgToXml(void* handle, const char* path) {
  bool ok = Prologue("tq_ReadDevCfgToXml");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  ok = ok && device != nullptr && path != nullptr;
  ok = ok && Answers(*device, "tq_ReadDevCfgToXml", &note);
  if (ok && device->exportConfig.fails) ok = Fail(device->exportConfig.reason);
  if (ok) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
      ok = Fail(std::string("cannot create ") + path + ": " + std::strerror(errno));
    } else {
      const std::string xml = sim::ConfigurationXml(*device);
      ok = std::fwrite(xml.data(), 1, xml.size(), file) == xml.size();
      ok = std::fclose(file) == 0 && ok;
      if (!ok) Fail(std::string("cannot write ") + path);
    }
  }
  Journal("tq_ReadDevCfgToXml(%s, %s) -> %s%s", HandleName(handle).c_str(), Quoted(path).c_str(),
          BoolText(ok), note.c_str());
  return ok;
}

bool tq_WriteCfgToDev(void* handle, const char* path, int timeout) {
  bool ok = Prologue("tq_WriteCfgToDev") || Fail("configuration write interrupted");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  ok = ok && device != nullptr && Answers(*device, "tq_WriteCfgToDev", &note);
  if (ok && device->slave) {
    ok = Fail("the device is behind a master: write its configuration with its slave framing");
  }
  ok = ok && TakeConfiguration(*device, path);
  Journal("tq_WriteCfgToDev(%s, %s, %d) -> %s%s", HandleName(handle).c_str(), Quoted(path).c_str(),
          timeout, BoolText(ok), note.c_str());
  return ok;
}

bool tq_WriteCfgToSlaveDev(void* handle, const char* prefix, const char* suffix,
                           const char* lengthType, const char* path, int timeout) {
  bool ok = Prologue("tq_WriteCfgToSlaveDev") || Fail("configuration write interrupted");
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  ok = ok && device != nullptr && Answers(*device, "tq_WriteCfgToSlaveDev", &note);
  if (ok &&
      (!prefix || !suffix || !lengthType || !sim::DecodeHex(prefix) || !sim::DecodeHex(suffix))) {
    ok = Fail("slave prefix and suffix must be hex texts");
  }
  if (ok && !device->slave) {
    ok = Fail("the device is not behind a master: write its configuration without slave framing");
  } else if (ok && (device->slavePrefix != prefix || device->slaveSuffix != suffix ||
                    device->slaveLength != lengthType)) {
    ok = Fail("slave framing does not match the device behind the master");
  }
  ok = ok && TakeConfiguration(*device, path);
  Journal("tq_WriteCfgToSlaveDev(%s, %s, %s, %s, %s, %d) -> %s%s", HandleName(handle).c_str(),
          Quoted(prefix).c_str(), Quoted(suffix).c_str(), Quoted(lengthType).c_str(),
          Quoted(path).c_str(), timeout, BoolText(ok), note.c_str());
  return ok;
}

const char* tq_GetLastError() {
  Prologue("tq_GetLastError");
  State& state = Library();
  const char* text = state.scenario.nullLastError ? nullptr : state.lastError.c_str();
  Journal("tq_GetLastError() -> %s", Quoted(text).c_str());
  return text;
}

// Entry points no command of the tool uses: each answers as an idle
// library, journaling its arguments in the given form and returning the
// given result. A definition whose types differ from the contract's does
// not compile.
// clang-format off
#define SIM_IDLE_ENTRY_POINTS(X)                                                                   \
  X(int, CreateTcpService, (int port, TcpServiceCallback), 0, "%d, callback", port)                \
  X(int, ExitTcpService, (), 0, "")                                                                \
  X(bool, GetPicDataByConfig, (void* h, img_param, unsigned char*, unsigned*, img_resolution*),    \
    false, "%s, ...", HandleName(h).c_str())                                                       \
  X(int, GetDeviceImageColorType, (void* h, img_resolution*, unsigned*), 0, "%s, ...",             \
    HandleName(h).c_str())                                                                         \
  X(bool, ConvertImageColorSpace, (void* h, unsigned char*, long, img_resolution, unsigned char*), \
    false, "%s, ...", HandleName(h).c_str())                                                       \
  X(bool, GetCommandResponse, (void* h, const char* c, unsigned, char*, int*, unsigned, bool,      \
    bool), false, "%s, %s, ...", HandleName(h).c_str(), Quoted(c).c_str())                         \
  X(bool, WriteAsHex, (void* h, const char* t, bool), false, "%s, %s, ...", HandleName(h).c_str(), \
    Quoted(t).c_str())                                                                             \
  X(int, SendCommand, (void* h, const char* t, unsigned), 0, "%s, %s, ...",                        \
    HandleName(h).c_str(), Quoted(t).c_str())                                                      \
  X(int, SendCommandAsHex, (void* h, const char* t, unsigned), 0, "%s, %s, ...",                   \
    HandleName(h).c_str(), Quoted(t).c_str())                                                      \
  X(void, SetListener, (void* h, ListenerCallback), 0, "%s, callback", HandleName(h).c_str())      \
  X(void, StopListener, (void* h), 0, "%s", HandleName(h).c_str())                                 \
  X(void, SetCbDevStatusChanged, (void* h, DevStatusCallback), 0, "%s, callback",                  \
    HandleName(h).c_str())                                                                         \
  X(bool, GetRoiPicData, (void* h, sop_img_param, unsigned char*, unsigned*), false, "%s, ...",    \
    HandleName(h).c_str())                                                                         \
  X(bool, GetRoiPicDataByNet, (int s, sop_img_param, unsigned char*, unsigned*), false, "%d, ...", \
    s)                                                                                             \
  X(void, GetBaseInfo, (void* h, unsigned k, char*, int*), 0, "%s, %u, ...",                       \
    HandleName(h).c_str(), k)                                                                      \
  X(void, BeginEnumNetDevice, (), 0, "")                                                           \
  X(void, StopEnumNetDevice, (), 0, "")                                                            \
  X(int, SetNetDeviceConfig, (NET_SETTING_TYPE t, const char* a, int, int, const char*), -1,       \
    "%d, %s, ...", static_cast<int>(t), Quoted(a).c_str())                                         \
  X(int, connectToService, (const char* host, int port, int*), -1, "%s, %d, &socket",              \
    Quoted(host).c_str(), port)                                                                    \
  X(int, sendDataToSocket, (int s, const char*, int n), -1, "%d, data, %d", s, n)                  \
  X(int, readFromSocket, (int s, int t, char*, int*), -1, "%d, %d, buffer, &length", s, t)         \
  X(int, getNetImgData, (int s, int, int, int, int, char*, int*, IMG_TYPE*, int*, int*), -1,       \
    "%d, ...", s)                                                                                  \
  X(int, CloseClientSocket, (int*), -1, "&socket")

#define SIM_IDLE(type, name, parameters, result, format, ...)                                      \
  type tq_##name parameters {                                                                      \
    Prologue("tq_" #name);                                                                         \
    Journal("tq_" #name "(" format ")%s" __VA_OPT__(, ) __VA_ARGS__,                               \
            ResultText<type>(result).c_str());                                                     \
    return static_cast<type>(result);                                                              \
  }
SIM_IDLE_ENTRY_POINTS(SIM_IDLE)
// clang-format on

}  // extern "C"
