#include "devlib/wrappers.h"

#include "devlib/loader.h"
#include "process/interrupts.h"

namespace {

constexpr HeldWrite kFirmwareUpdate = {"the firmware update",
                                       "Updating firmware, do not unplug the device..."};
constexpr HeldWrite kConfigurationWrite = {
    "the configuration write", "Writing the configuration, do not unplug the device..."};

// A call that writes to the device: cut short or frozen, it can leave the
// device unusable, so signals wait until it returns. After an interrupt it
// is not made at all, and fails.
template <typename Fn, auto kFailure, typename... Args>
typename EntryResult<Fn>::type CallEntryHeld(const HeldWrite& write, const char* name,
                                             Args... args) {
  auto result = static_cast<typename EntryResult<Fn>::type>(kFailure);
  auto call = [&] { result = CallEntry<Fn, kFailure>(name, args...); };
  RunHeld(
      write, [](void* context) { (*static_cast<decltype(call)*>(context))(); }, &call);
  return result;
}

}  // namespace

// Each entry point's name is written once: the contract's declaration of
// tq_<name> gives the type, and its spelling the name looked up, so a
// misspelt name does not compile.
#define CALL(name, failure, ...) \
  CallEntry<decltype(tq_##name), failure>("tq_" #name __VA_OPT__(, ) __VA_ARGS__)
#define CALL_HELD(write, name, failure, ...) \
  CallEntryHeld<decltype(tq_##name), failure>(write, "tq_" #name __VA_OPT__(, ) __VA_ARGS__)

// clang-format off
int CreateTcpService(int p, TcpServiceCallback cb) { return CALL(CreateTcpService, 0, p, cb); }
int ExitTcpService() { return CALL(ExitTcpService, 0); }
bool GetPicData(void* d, unsigned char* b, int n) { return CALL(GetPicData, false, d, b, n); }
bool GetPicDataByConfig(void* h, img_param p, unsigned char* b, unsigned* n, img_resolution* r) { return CALL(GetPicDataByConfig, false, h, p, b, n, r); }
int GetDeviceImageColorType(void* h, img_resolution* r, unsigned* t) { return CALL(GetDeviceImageColorType, 0, h, r, t); }
bool ConvertImageColorSpace(void* h, unsigned char* s, long n, img_resolution r, unsigned char* d) { return CALL(ConvertImageColorSpace, false, h, s, n, r, d); }
bool GetPicSize(void* d, unsigned* w, unsigned* h) { return CALL(GetPicSize, 0, d, w, h) != 0; }
int Read(void* d, char* b, unsigned n, unsigned t) { return CALL(Read, 0, d, b, n, t); }
bool GetCommandResponse(void* h, const char* c, unsigned n, char* r, int* rn, unsigned t, bool x, bool w) { return CALL(GetCommandResponse, false, h, c, n, r, rn, t, x, w); }
bool Write(void* d, const unsigned char* b, unsigned n, bool x) { return CALL(Write, false, d, b, n, x); }
bool WriteAsHex(void* h, const char* s, bool f) { return CALL(WriteAsHex, false, h, s, f); }
int SendCommand(void* h, const char* s, unsigned t) { return CALL(SendCommand, 0, h, s, t); }
int SendCommandAsHex(void* h, const char* s, unsigned t) { return CALL(SendCommandAsHex, 0, h, s, t); }
void SetListener(void* h, ListenerCallback cb) { CALL(SetListener, 0, h, cb); }
void StopListener(void* h) { CALL(StopListener, 0, h); }
bool ReadDevCfgToXml(void* d, const char* p) { return CALL(ReadDevCfgToXml, false, d, p); }
const char* GetLastError() { return CALL(GetLastError, nullptr); }
bool WriteCfgToDev(void* d, const char* p, int t) { return CALL_HELD(kConfigurationWrite, WriteCfgToDev, false, d, p, t); }
bool WriteCfgToSlaveDev(void* d, const char* pre, const char* suf, const char* len, const char* p, int t) { return CALL_HELD(kConfigurationWrite, WriteCfgToSlaveDev, false, d, pre, suf, len, p, t); }
void SetCbDevStatusChanged(void* h, DevStatusCallback cb) { CALL(SetCbDevStatusChanged, 0, h, cb); }
bool UpdateKernelDevice(void* d, const char* p, unsigned f, unsigned* s) { return CALL_HELD(kFirmwareUpdate, UpdateKernelDevice, 0, d, p, f, s) != 0; }
bool GetDeviceInfo(void* l, unsigned i, st_device_info* info) { return CALL(GetDeviceInfo, false, l, i, info); }
bool GetRoiPicData(void* h, sop_img_param p, unsigned char* b, unsigned* n) { return CALL(GetRoiPicData, false, h, p, b, n); }
bool GetRoiPicDataByNet(int s, sop_img_param p, unsigned char* b, unsigned* n) { return CALL(GetRoiPicDataByNet, false, s, p, b, n); }
void GetBaseInfo(void* h, unsigned k, char* b, int* n) { CALL(GetBaseInfo, 0, h, k, b, n); }
bool CloseDevice(void** d) { return CALL(CloseDevice, 0, d) != 0; }
int FindDeviceIndexByPIDVID(void* l, const char* v, const char* p) { return CALL(FindDeviceIndexByPIDVID, -1, l, v, p); }
void* OpenDevice(void* l, unsigned i, T_Porotocol p) { return CALL(OpenDevice, nullptr, l, i, p); }
void ReleaseDevices(void** l) { CALL(ReleaseDevices, 0, l); }
void* EnumDevices(unsigned* c, int f) { return CALL(EnumDevices, nullptr, c, f); }
void BeginEnumNetDevice() { CALL(BeginEnumNetDevice, 0); }
void StopEnumNetDevice() { CALL(StopEnumNetDevice, 0); }
int SetNetDeviceConfig(NET_SETTING_TYPE t, const char* a, int p, int m, const char* e) { return CALL(SetNetDeviceConfig, -1, t, a, p, m, e); }
bool SavePicDataToFile(const char* f, unsigned char* b, int w, int h, int bits) { return CALL(SavePicDataToFile, false, f, b, w, h, bits); }
int ConnectToService(const char* host, int p, int* s) { return CALL(connectToService, -1, host, p, s); }
int SendDataToSocket(int s, const char* d, int n) { return CALL(sendDataToSocket, -1, s, d, n); }
int ReadFromSocket(int s, int t, char* b, int* n) { return CALL(readFromSocket, -1, s, t, b, n); }
int GetNetImgData(int s, int x, int y, int w, int h, char* b, int* n, IMG_TYPE* t, int* iw, int* ih) { return CALL(getNetImgData, -1, s, x, y, w, h, b, n, t, iw, ih); }
int CloseClientSocket(int* s) { return CALL(CloseClientSocket, -1, s); }
// clang-format on
