// The entry points of the simulated device library. Every call is appended
// to the journal named by TOLVARINE_SIM_JOURNAL, one line per call.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "devlib/contract.h"
#include "sim/behaviour.h"
#include "sim/scenario.h"

namespace {

struct State {
  sim::Scenario scenario;
  int list = 0;  // its address is the list handle
  std::string lastError;
};

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

// Appends one line to the journal.
void Journal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Read by the library's destructor, which must not depend on the state's.
bool g_crashAtUnload = false;
// A thread of the library's own, as vendor libraries keep one for device
// events: it blocks no signal, so a signal sent to the process may be
// delivered to it. Woken through the pipe and joined at unload.
pthread_t g_thread;
int g_threadWake[2] = {-1, -1};

void* WaitForUnload(void*) {
  pollfd wake{g_threadWake[0], POLLIN, 0};
  while (poll(&wake, 1, -1) < 0 && errno == EINTR) {
  }
  return nullptr;
}

State LoadState() {
  State state;
  std::string text = sim::kDefaultScenario;
  const char* path = std::getenv("TOLVARINE_SIM");
  if (path != nullptr && *path != '\0') {
    const std::optional<std::string> content = ReadFile(path);
    if (!content) {
      std::fprintf(stderr, "Tolvarine.so (simulated): cannot read scenario %s\n", path);
      Journal("scenario rejected: cannot read %s", path);
      text.clear();
    } else {
      text = *content;
    }
  }
  std::string error;
  auto scenario = sim::ParseScenario(text, &error);
  if (!scenario) {
    std::fprintf(stderr, "Tolvarine.so (simulated): %s: %s\n", path, error.c_str());
    Journal("scenario rejected: %s", error.c_str());
  } else {
    state.scenario = std::move(*scenario);
  }
  g_crashAtUnload = state.scenario.crash == "unload";
  if (state.scenario.thread && pipe2(g_threadWake, O_CLOEXEC) == 0 &&
      pthread_create(&g_thread, nullptr, WaitForUnload, nullptr) != 0) {
    close(g_threadWake[0]);
    close(g_threadWake[1]);
    g_threadWake[1] = -1;
  }
  return state;
}

// The library's state, read from the scenario when the library is loaded.
State& Library() {
  static State state = LoadState();
  return state;
}

// Kept open for the library's lifetime, as a vendor library keeps its log:
// a tool that leaves a standard descriptor closed would write into it.
int JournalFd() {
  static const int fd = [] {
    const char* path = std::getenv("TOLVARINE_SIM_JOURNAL");
    if (path == nullptr || *path == '\0') return -1;
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }();
  return fd;
}

void Journal(const char* format, ...) {
  const int fd = JournalFd();
  if (fd < 0) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, again);
  va_end(again);
  line.back() = '\n';
  // One write per line: a crash right after it loses nothing.
  for (std::size_t at = 0; at < line.size();) {
    const ssize_t written = write(fd, line.data() + at, line.size() - at);
    if (written <= 0 && errno != EINTR) return;
    if (written > 0) at += static_cast<std::size_t>(written);
  }
}

// What the scenario makes of a call before it does its work: a crash, or a
// wait. Returns false when a signal cut the wait short; the call then fails.
bool Enter(const char* call) {
  const sim::Scenario& scenario = Library().scenario;
  if (scenario.crash == call) {
    Journal("%s crashes", call);
    std::abort();
  }
  for (const sim::SlowCall& slow : scenario.slowCalls) {
    if (slow.name != call) continue;
    const bool forever = slow.milliseconds == sim::kForever;
    Journal("%s waits %s", call,
            forever ? "forever" : (std::to_string(slow.milliseconds) + " ms").c_str());
    timespec rest{forever ? 3600 : slow.milliseconds / 1000,
                  forever ? 0 : slow.milliseconds % 1000 * 1000000};
    while (nanosleep(&rest, &rest) != 0 || forever) {
      if (forever) {
        rest = {3600, 0};
      } else if (errno == EINTR) {
        Journal("%s gives up: interrupted", call);
        return false;
      }
    }
  }
  return true;
}

// A text argument, quoted with C escapes so that every byte is visible.
std::string Quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20 || *p >= 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string out;
  char pair[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += pair;
  }
  return out;
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

const char* BoolText(bool value) { return value ? "true" : "false"; }

bool Fail(const std::string& reason) {
  Library().lastError = reason;
  return false;
}

// The scenario is read when the library is loaded, as a vendor library
// starts up in its initialisers.
__attribute__((constructor)) void AtLoad() { Library(); }

__attribute__((destructor)) void AtUnload() {
  if (g_threadWake[1] >= 0) {
    close(g_threadWake[1]);
    pthread_join(g_thread, nullptr);
  }
  if (g_crashAtUnload) {
    Journal("unload crashes");
    std::abort();
  }
}

sim::Device* OpenDeviceOf(void* handle) {
  sim::Device* device = FindDevice(handle);
  return device != nullptr && device->open ? device : nullptr;
}

// Accepts a configuration file that exists, is not empty and is well formed.
bool TakeConfiguration(sim::Device& device, const char* path) {
  if (device.importConfig.fails) return Fail(device.importConfig.reason);
  if (path == nullptr) return Fail("no configuration file given");
  errno = 0;
  const std::optional<std::string> content = ReadFile(path);
  if (!content) {
    return Fail(std::string("cannot open configuration file ") + path + ": " +
                std::strerror(errno ? errno : EIO));
  }
  const std::string& text = *content;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    return Fail(std::string("configuration file ") + path + " is empty");
  }
  const std::string problem = sim::CheckXml(text);
  if (!problem.empty()) {
    return Fail(std::string("configuration file ") + path + " is not well-formed XML: " + problem);
  }
  return true;
}

}  // namespace

extern "C" {

void* tq_EnumDevices(unsigned* count, int flags) {
  State& state = Library();
  const bool entered = Enter("tq_EnumDevices");
  const auto devices = static_cast<unsigned>(state.scenario.devices.size());
  const unsigned reported = entered ? state.scenario.count.value_or(devices) : 0;
  if (count != nullptr) *count = reported;
  void* list = state.scenario.nullList || !entered ? nullptr : &state.list;
  Journal("tq_EnumDevices(&count, %d) -> %s, count=%u", flags, HandleName(list).c_str(), reported);
  return list;
}

bool tq_GetDeviceInfo(void* list, unsigned index, st_device_info* info) {
  State& state = Library();
  bool ok = Enter("tq_GetDeviceInfo") && list == &state.list &&
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
  if (Enter("tq_FindDeviceIndexByPIDVID") && list == &state.list && vid != nullptr &&
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
  if (Enter("tq_OpenDevice") && list == &state.list && index < state.scenario.devices.size()) {
    device = &state.scenario.devices[index];
    if (device->openFails) {
      Fail("device cannot be opened");
      device = nullptr;
    } else {
      device->open = true;
    }
  }
  Journal("tq_OpenDevice(%s, %u, %d) -> %s", HandleName(list).c_str(), index,
          static_cast<int>(protocol), HandleName(device).c_str());
  return device;
}

int tq_CloseDevice(void** device) {
  Enter("tq_CloseDevice");  // closes all the same
  sim::Device* open = device != nullptr ? OpenDeviceOf(*device) : nullptr;
  Journal("tq_CloseDevice(&%s) -> %d", device != nullptr ? HandleName(*device).c_str() : "(null)",
          open != nullptr);
  if (open != nullptr) {
    open->open = false;
    open->pending.clear();
    *device = nullptr;
  }
  return open != nullptr;
}

void tq_ReleaseDevices(void** list) {
  Enter("tq_ReleaseDevices");  // releases all the same
  Journal("tq_ReleaseDevices(&%s)", list != nullptr ? HandleName(*list).c_str() : "(null)");
  if (list != nullptr && *list == &Library().list) *list = nullptr;
}

bool tq_Write(void* handle, const unsigned char* bytes, unsigned count, bool asHex) {
  sim::Device* device = OpenDeviceOf(handle);
  std::string note;
  bool ok = Enter("tq_Write") && device != nullptr && (bytes != nullptr || count == 0);
  if (ok && device->writeFails) ok = Fail("write failed");
  if (ok) note = sim::Receive(*device, {bytes, count});
  Journal("tq_Write(%s, [%s], %u, %s) -> %s%s%s", HandleName(handle).c_str(),
          bytes != nullptr ? Hex(bytes, count).c_str() : "null", count, BoolText(asHex),
          BoolText(ok), note.empty() ? "" : "; device: ", note.c_str());
  return ok;
}

int tq_Read(void* handle, char* buffer, unsigned capacity, unsigned timeout) {
  sim::Device* device = OpenDeviceOf(handle);
  int result = 0;
  if (device == nullptr || buffer == nullptr) {
    result = -1;
  } else if (device->read == sim::ReadMode::kError) {
    result = -1;
  } else if (device->pending.empty() && !Enter("tq_Read")) {
    // A device with nothing to say keeps the read waiting; a signal ends it.
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
  Journal("tq_Read(%s, %u, %u) -> %d", HandleName(handle).c_str(), capacity, timeout, result);
  return result;
}

int tq_GetPicSize(void* handle, unsigned* width, unsigned* height) {
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = Enter("tq_GetPicSize") && device != nullptr && width != nullptr && height != nullptr;
  if (ok && device->pictureSizeFails) ok = Fail("picture size unavailable");
  if (ok) {
    *width = device->pictureWidth;
    *height = device->pictureHeight;
  }
  Journal("tq_GetPicSize(%s, &width, &height) -> %d, %ux%u", HandleName(handle).c_str(), ok,
          ok ? *width : 0, ok ? *height : 0);
  return ok;
}

bool tq_GetPicData(void* handle, unsigned char* buffer, int size) {
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = Enter("tq_GetPicData") && device != nullptr && (buffer != nullptr || size == 0);
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
  Journal("tq_GetPicData(%s, buffer, %d) -> %s", HandleName(handle).c_str(), size, BoolText(ok));
  return ok;
}

bool tq_SavePicDataToFile(const char* name, unsigned char* buffer, int width, int height,
                          int bits) {
  bool ok = name != nullptr && buffer != nullptr && width >= 0 && height >= 0;
  if (!ok) Fail("invalid picture arguments");
  if (ok && !Enter("tq_SavePicDataToFile")) ok = Fail("interrupted");
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
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = device != nullptr && path != nullptr;
  unsigned code = 1;
  if (ok && !Enter("tq_UpdateKernelDevice")) {
    code = 4;
    ok = Fail("firmware update interrupted: the device needs a new update");
  } else if (ok && device->firmware.fails) {
    code = device->firmware.status;
    ok = Fail(device->firmware.reason);
  } else if (ok) {
    const std::optional<std::string> image = ReadFile(path);
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
  Journal("tq_UpdateKernelDevice(%s, %s, %u, &status) -> %d, status=%u", HandleName(handle).c_str(),
          Quoted(path).c_str(), flags, ok, code);
  return ok;
}

bool tq_ReadDevCfgToXml(void* handle, const char* path) {
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = Enter("tq_ReadDevCfgToXml") && device != nullptr && path != nullptr;
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
  Journal("tq_ReadDevCfgToXml(%s, %s) -> %s", HandleName(handle).c_str(), Quoted(path).c_str(),
          BoolText(ok));
  return ok;
}

bool tq_WriteCfgToDev(void* handle, const char* path, int timeout) {
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = device != nullptr;
  if (ok && !Enter("tq_WriteCfgToDev")) ok = Fail("configuration write interrupted");
  if (ok && device->slave) {
    ok = Fail("the device is behind a master: write its configuration with its slave framing");
  }
  ok = ok && TakeConfiguration(*device, path);
  Journal("tq_WriteCfgToDev(%s, %s, %d) -> %s", HandleName(handle).c_str(), Quoted(path).c_str(),
          timeout, BoolText(ok));
  return ok;
}

bool tq_WriteCfgToSlaveDev(void* handle, const char* prefix, const char* suffix,
                           const char* lengthType, const char* path, int timeout) {
  sim::Device* device = OpenDeviceOf(handle);
  bool ok = device != nullptr;
  if (ok && !Enter("tq_WriteCfgToSlaveDev")) ok = Fail("configuration write interrupted");
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
  Journal("tq_WriteCfgToSlaveDev(%s, %s, %s, %s, %s, %d) -> %s", HandleName(handle).c_str(),
          Quoted(prefix).c_str(), Quoted(suffix).c_str(), Quoted(lengthType).c_str(),
          Quoted(path).c_str(), timeout, BoolText(ok));
  return ok;
}

const char* tq_GetLastError() {
  State& state = Library();
  Enter("tq_GetLastError");
  const char* text = state.scenario.nullLastError ? nullptr : state.lastError.c_str();
  Journal("tq_GetLastError() -> %s", Quoted(text).c_str());
  return text;
}

// Entry points no command of the tool uses: they answer as an idle library.
int tq_CreateTcpService(int port, TcpServiceCallback) {
  Journal("tq_CreateTcpService(%d, callback) -> 0", port);
  return 0;
}
int tq_ExitTcpService() {
  Journal("tq_ExitTcpService() -> 0");
  return 0;
}
bool tq_GetPicDataByConfig(void* h, img_param, unsigned char*, unsigned*, img_resolution*) {
  Journal("tq_GetPicDataByConfig(%s, ...) -> false", HandleName(h).c_str());
  return false;
}
int tq_GetDeviceImageColorType(void* h, img_resolution*, unsigned*) {
  Journal("tq_GetDeviceImageColorType(%s, ...) -> 0", HandleName(h).c_str());
  return 0;
}
bool tq_ConvertImageColorSpace(void* h, unsigned char*, long, img_resolution, unsigned char*) {
  Journal("tq_ConvertImageColorSpace(%s, ...) -> false", HandleName(h).c_str());
  return false;
}
bool tq_GetCommandResponse(void* h, const char* c, unsigned, char*, int*, unsigned, bool, bool) {
  Journal("tq_GetCommandResponse(%s, %s, ...) -> false", HandleName(h).c_str(), Quoted(c).c_str());
  return false;
}
bool tq_WriteAsHex(void* h, const char* t, bool) {
  Journal("tq_WriteAsHex(%s, %s, ...) -> false", HandleName(h).c_str(), Quoted(t).c_str());
  return false;
}
int tq_SendCommand(void* h, const char* t, unsigned) {
  Journal("tq_SendCommand(%s, %s, ...) -> 0", HandleName(h).c_str(), Quoted(t).c_str());
  return 0;
}
int tq_SendCommandAsHex(void* h, const char* t, unsigned) {
  Journal("tq_SendCommandAsHex(%s, %s, ...) -> 0", HandleName(h).c_str(), Quoted(t).c_str());
  return 0;
}
void tq_SetListener(void* h, ListenerCallback) {
  Journal("tq_SetListener(%s, callback)", HandleName(h).c_str());
}
void tq_StopListener(void* h) { Journal("tq_StopListener(%s)", HandleName(h).c_str()); }
void tq_SetCbDevStatusChanged(void* h, DevStatusCallback) {
  Journal("tq_SetCbDevStatusChanged(%s, callback)", HandleName(h).c_str());
}
bool tq_GetRoiPicData(void* h, sop_img_param, unsigned char*, unsigned*) {
  Journal("tq_GetRoiPicData(%s, ...) -> false", HandleName(h).c_str());
  return false;
}
bool tq_GetRoiPicDataByNet(int s, sop_img_param, unsigned char*, unsigned*) {
  Journal("tq_GetRoiPicDataByNet(%d, ...) -> false", s);
  return false;
}
void tq_GetBaseInfo(void* h, unsigned k, char*, int*) {
  Journal("tq_GetBaseInfo(%s, %u, ...)", HandleName(h).c_str(), k);
}
void tq_BeginEnumNetDevice() { Journal("tq_BeginEnumNetDevice()"); }
void tq_StopEnumNetDevice() { Journal("tq_StopEnumNetDevice()"); }
int tq_SetNetDeviceConfig(NET_SETTING_TYPE t, const char* a, int, int, const char*) {
  Journal("tq_SetNetDeviceConfig(%d, %s, ...) -> -1", static_cast<int>(t), Quoted(a).c_str());
  return -1;
}
int tq_connectToService(const char* host, int port, int*) {
  Journal("tq_connectToService(%s, %d, &socket) -> -1", Quoted(host).c_str(), port);
  return -1;
}
int tq_sendDataToSocket(int s, const char*, int n) {
  Journal("tq_sendDataToSocket(%d, data, %d) -> -1", s, n);
  return -1;
}
int tq_readFromSocket(int s, int t, char*, int*) {
  Journal("tq_readFromSocket(%d, %d, buffer, &length) -> -1", s, t);
  return -1;
}
int tq_getNetImgData(int s, int, int, int, int, char*, int*, IMG_TYPE*, int*, int*) {
  Journal("tq_getNetImgData(%d, ...) -> -1", s);
  return -1;
}
int tq_CloseClientSocket(int* s) {
  Journal("tq_CloseClientSocket(&socket) -> -1");
  (void)s;
  return -1;
}

}  // extern "C"
