#include "devlib/wrappers.h"

#include "devlib/interrupts.h"
#include "devlib/loader.h"

namespace {

constexpr HeldWrite kFirmwareUpdate = {
    "Updating firmware, do not unplug the device...",
    "the firmware update is in progress and will finish before the tool stops"};
constexpr HeldWrite kConfigurationWrite = {
    "Writing the configuration, do not unplug the device...",
    "the configuration write is in progress and will finish before the tool stops"};

// A call that writes to the device: cut short, it can leave the device
// unusable, so interrupts wait until it returns.
template <typename Fn, auto kFailure, typename... Args>
typename EntryResult<Fn>::type CallEntryHeld(const HeldWrite& write, const char* name,
                                             Args... args) {
  Hold hold;
  HoldInterrupts(write, &hold);
  const auto result = CallEntry<Fn, kFailure>(name, args...);
  ReleaseInterrupts(&hold);
  return result;
}

}  // namespace

// clang-format off
int CreateTcpService(int p, TcpServiceCallback cb) { return CallEntry<decltype(tq_CreateTcpService), 0>("tq_CreateTcpService", p, cb); }
int ExitTcpService() { return CallEntry<decltype(tq_ExitTcpService), 0>("tq_ExitTcpService"); }
bool GetPicData(void* d, unsigned char* b, int n) { return CallEntry<decltype(tq_GetPicData), false>("tq_GetPicData", d, b, n); }
bool GetPicDataByConfig(void* h, img_param p, unsigned char* b, unsigned* n, img_resolution* r) { return CallEntry<decltype(tq_GetPicDataByConfig), false>("tq_GetPicDataByConfig", h, p, b, n, r); }
int GetDeviceImageColorType(void* h, img_resolution* r, unsigned* t) { return CallEntry<decltype(tq_GetDeviceImageColorType), 0>("tq_GetDeviceImageColorType", h, r, t); }
bool ConvertImageColorSpace(void* h, unsigned char* s, long n, img_resolution r, unsigned char* d) { return CallEntry<decltype(tq_ConvertImageColorSpace), false>("tq_ConvertImageColorSpace", h, s, n, r, d); }
bool GetPicSize(void* d, unsigned* w, unsigned* h) { return CallEntry<decltype(tq_GetPicSize), 0>("tq_GetPicSize", d, w, h) != 0; }
int Read(void* d, char* b, unsigned n, unsigned t) { return CallEntry<decltype(tq_Read), 0>("tq_Read", d, b, n, t); }
bool GetCommandResponse(void* h, const char* c, unsigned n, char* r, int* rn, unsigned t, bool x, bool w) { return CallEntry<decltype(tq_GetCommandResponse), false>("tq_GetCommandResponse", h, c, n, r, rn, t, x, w); }
bool Write(void* d, const unsigned char* b, unsigned n, bool x) { return CallEntry<decltype(tq_Write), false>("tq_Write", d, b, n, x); }
bool WriteAsHex(void* h, const char* s, bool f) { return CallEntry<decltype(tq_WriteAsHex), false>("tq_WriteAsHex", h, s, f); }
int SendCommand(void* h, const char* s, unsigned t) { return CallEntry<decltype(tq_SendCommand), 0>("tq_SendCommand", h, s, t); }
int SendCommandAsHex(void* h, const char* s, unsigned t) { return CallEntry<decltype(tq_SendCommandAsHex), 0>("tq_SendCommandAsHex", h, s, t); }
void SetListener(void* h, ListenerCallback cb) { CallEntry<decltype(tq_SetListener), 0>("tq_SetListener", h, cb); }
void StopListener(void* h) { CallEntry<decltype(tq_StopListener), 0>("tq_StopListener", h); }
bool ReadDevCfgToXml(void* d, const char* p) { return CallEntry<decltype(tq_ReadDevCfgToXml), false>("tq_ReadDevCfgToXml", d, p); }
const char* GetLastError() { return CallEntry<decltype(tq_GetLastError), nullptr>("tq_GetLastError"); }
bool WriteCfgToDev(void* d, const char* p, int t) { return CallEntryHeld<decltype(tq_WriteCfgToDev), false>(kConfigurationWrite, "tq_WriteCfgToDev", d, p, t); }
bool WriteCfgToSlaveDev(void* d, const char* pre, const char* suf, const char* len, const char* p, int t) { return CallEntryHeld<decltype(tq_WriteCfgToSlaveDev), false>(kConfigurationWrite, "tq_WriteCfgToSlaveDev", d, pre, suf, len, p, t); }
void SetCbDevStatusChanged(void* h, DevStatusCallback cb) { CallEntry<decltype(tq_SetCbDevStatusChanged), 0>("tq_SetCbDevStatusChanged", h, cb); }
bool UpdateKernelDevice(void* d, const char* p, unsigned f, unsigned* s) { return CallEntryHeld<decltype(tq_UpdateKernelDevice), 0>(kFirmwareUpdate, "tq_UpdateKernelDevice", d, p, f, s) != 0; }
bool GetDeviceInfo(void* l, unsigned i, st_device_info* info) { return CallEntry<decltype(tq_GetDeviceInfo), false>("tq_GetDeviceInfo", l, i, info); }
bool GetRoiPicData(void* h, sop_img_param p, unsigned char* b, unsigned* n) { return CallEntry<decltype(tq_GetRoiPicData), false>("tq_GetRoiPicData", h, p, b, n); }
bool GetRoiPicDataByNet(int s, sop_img_param p, unsigned char* b, unsigned* n) { return CallEntry<decltype(tq_GetRoiPicDataByNet), false>("tq_GetRoiPicDataByNet", s, p, b, n); }
void GetBaseInfo(void* h, unsigned k, char* b, int* n) { CallEntry<decltype(tq_GetBaseInfo), 0>("tq_GetBaseInfo", h, k, b, n); }
bool CloseDevice(void** d) { return CallEntry<decltype(tq_CloseDevice), 0>("tq_CloseDevice", d) != 0; }
int FindDeviceIndexByPIDVID(void* l, const char* v, const char* p) { return CallEntry<decltype(tq_FindDeviceIndexByPIDVID), -1>("tq_FindDeviceIndexByPIDVID", l, v, p); }
void* OpenDevice(void* l, unsigned i, T_Porotocol p) { return CallEntry<decltype(tq_OpenDevice), nullptr>("tq_OpenDevice", l, i, p); }
void ReleaseDevices(void** l) { CallEntry<decltype(tq_ReleaseDevices), 0>("tq_ReleaseDevices", l); }
void* EnumDevices(unsigned* c, int f) { return CallEntry<decltype(tq_EnumDevices), nullptr>("tq_EnumDevices", c, f); }
void BeginEnumNetDevice() { CallEntry<decltype(tq_BeginEnumNetDevice), 0>("tq_BeginEnumNetDevice"); }
void StopEnumNetDevice() { CallEntry<decltype(tq_StopEnumNetDevice), 0>("tq_StopEnumNetDevice"); }
int SetNetDeviceConfig(NET_SETTING_TYPE t, const char* a, int p, int m, const char* e) { return CallEntry<decltype(tq_SetNetDeviceConfig), -1>("tq_SetNetDeviceConfig", t, a, p, m, e); }
bool SavePicDataToFile(const char* f, unsigned char* b, int w, int h, int bits) { return CallEntry<decltype(tq_SavePicDataToFile), false>("tq_SavePicDataToFile", f, b, w, h, bits); }
int ConnectToService(const char* host, int p, int* s) { return CallEntry<decltype(tq_connectToService), -1>("tq_connectToService", host, p, s); }
int SendDataToSocket(int s, const char* d, int n) { return CallEntry<decltype(tq_sendDataToSocket), -1>("tq_sendDataToSocket", s, d, n); }
int ReadFromSocket(int s, int t, char* b, int* n) { return CallEntry<decltype(tq_readFromSocket), -1>("tq_readFromSocket", s, t, b, n); }
int GetNetImgData(int s, int x, int y, int w, int h, char* b, int* n, IMG_TYPE* t, int* iw, int* ih) { return CallEntry<decltype(tq_getNetImgData), -1>("tq_getNetImgData", s, x, y, w, h, b, n, t, iw, ih); }
int CloseClientSocket(int* s) { return CallEntry<decltype(tq_CloseClientSocket), -1>("tq_CloseClientSocket", s); }
// clang-format on
