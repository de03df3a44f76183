// The device library's binary contract: the records it exchanges and the C
// signature of every entry point it exports. The tool never links against
// these declarations (it reaches the library through the wrappers in
// wrappers.h); they exist so that the wrappers take their function types from
// one place and the simulated library is checked against the same ones.
#pragma once

#include <cstdint>

extern "C" {

// Filled by tq_GetDeviceInfo: a NUL-terminated info text (not guaranteed
// terminated by a misbehaving library) followed by the kind code.
struct st_device_info {
  char info[4096];
  std::int32_t kind;
};

// Records that pass through the tool untouched; only their size and
// alignment matter to the calling convention.
struct img_param {
  std::int32_t fields[11];
};
struct sop_img_param {
  std::int32_t fields[7];
};
struct img_resolution {
  std::uint32_t width;
  std::uint32_t height;
};

enum T_Porotocol : std::int32_t { PROTOCOL_DEFAULT = 0 };
enum NET_SETTING_TYPE : std::int32_t { NET_SETTING_DEFAULT = 0 };
enum IMG_TYPE : std::int32_t { IMG_TYPE_DEFAULT = 0 };

using TcpServiceCallback = void (*)(int connection, const char* clientAddress);
using ListenerCallback = void (*)(void* handle, const char* text, int length);
using DevStatusCallback = void (*)(void* device, bool arrived);

int tq_CreateTcpService(int port, TcpServiceCallback callback);
int tq_ExitTcpService();
bool tq_GetPicData(void* device, unsigned char* buffer, int size);
bool tq_GetPicDataByConfig(void* handle, img_param param, unsigned char* buffer, unsigned* length,
                           img_resolution* resolution);
int tq_GetDeviceImageColorType(void* handle, img_resolution* resolution, unsigned* colorType);
bool tq_ConvertImageColorSpace(void* handle, unsigned char* source, long length,
                               img_resolution resolution, unsigned char* destination);
int tq_GetPicSize(void* device, unsigned* width, unsigned* height);
int tq_Read(void* device, char* buffer, unsigned capacity, unsigned timeout);
bool tq_GetCommandResponse(void* handle, const char* command, unsigned length, char* response,
                           int* responseLength, unsigned timeout, bool asHex, bool waitAll);
bool tq_Write(void* device, const unsigned char* bytes, unsigned count, bool asHex);
bool tq_WriteAsHex(void* handle, const char* text, bool flag);
int tq_SendCommand(void* handle, const char* text, unsigned timeout);
int tq_SendCommandAsHex(void* handle, const char* text, unsigned timeout);
void tq_SetListener(void* handle, ListenerCallback callback);
void tq_StopListener(void* handle);
bool tq_ReadDevCfgToXml(void* device, const char* path);
const char* tq_GetLastError();
bool tq_WriteCfgToDev(void* device, const char* path, int timeout);
bool tq_WriteCfgToSlaveDev(void* device, const char* prefix, const char* suffix,
                           const char* lengthType, const char* path, int timeout);
void tq_SetCbDevStatusChanged(void* handle, DevStatusCallback callback);
int tq_UpdateKernelDevice(void* device, const char* path, unsigned flags, unsigned* status);
bool tq_GetDeviceInfo(void* list, unsigned index, st_device_info* info);
bool tq_GetRoiPicData(void* handle, sop_img_param param, unsigned char* buffer, unsigned* length);
bool tq_GetRoiPicDataByNet(int socket, sop_img_param param, unsigned char* buffer,
                           unsigned* length);
void tq_GetBaseInfo(void* handle, unsigned kind, char* buffer, int* length);
int tq_CloseDevice(void** device);
int tq_FindDeviceIndexByPIDVID(void* list, const char* vid, const char* pid);
void* tq_OpenDevice(void* list, unsigned index, T_Porotocol protocol);
void tq_ReleaseDevices(void** list);
void* tq_EnumDevices(unsigned* count, int flags);
void tq_BeginEnumNetDevice();
void tq_StopEnumNetDevice();
int tq_SetNetDeviceConfig(NET_SETTING_TYPE type, const char* address, int port, int mode,
                          const char* extra);
bool tq_SavePicDataToFile(const char* fileName, unsigned char* buffer, int width, int height,
                          int bitsPerPixel);
int tq_connectToService(const char* host, int port, int* socket);
int tq_sendDataToSocket(int socket, const char* data, int length);
int tq_readFromSocket(int socket, int timeout, char* buffer, int* length);
int tq_getNetImgData(int socket, int x, int y, int width, int height, char* buffer, int* length,
                     IMG_TYPE* type, int* imageWidth, int* imageHeight);
int tq_CloseClientSocket(int* socket);

}  // extern "C"

static_assert(sizeof(st_device_info) == 4100);
static_assert(sizeof(img_param) == 44);
static_assert(sizeof(sop_img_param) == 28);
static_assert(sizeof(img_resolution) == 8);
static_assert(sizeof(T_Porotocol) == 4 && sizeof(NET_SETTING_TYPE) == 4);
static_assert(sizeof(IMG_TYPE) == 4);
