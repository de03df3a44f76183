// One call-through wrapper per entry point of the device library. Each looks
// its entry point up when called: a library that lacks an entry point loads
// all the same, and only calls of that wrapper fail. On failure (library not
// loaded, entry point missing) a wrapper returns the failure value noted
// beside it; a missing entry point is also reported on standard error.
#pragma once

#include "devlib/contract.h"

// A table: one wrapper a line or two, its failure value aligned beside it.
// clang-format off
int CreateTcpService(int port, TcpServiceCallback callback);                  // 0
int ExitTcpService();                                                         // 0
bool GetPicData(void* device, unsigned char* buffer, int size);               // false
bool GetPicDataByConfig(void* handle, img_param param, unsigned char* buffer,
                        unsigned* length, img_resolution* resolution);       // false
int GetDeviceImageColorType(void* handle, img_resolution* resolution,
                            unsigned* colorType);                             // 0
bool ConvertImageColorSpace(void* handle, unsigned char* source, long length,
                            img_resolution resolution,
                            unsigned char* destination);                      // false
bool GetPicSize(void* device, unsigned* width, unsigned* height);            // false
int Read(void* device, char* buffer, unsigned capacity, unsigned timeout);   // 0
bool GetCommandResponse(void* handle, const char* command, unsigned length,
                        char* response, int* responseLength, unsigned timeout,
                        bool asHex, bool waitAll);                            // false
bool Write(void* device, const unsigned char* bytes, unsigned count,
           bool asHex);                                                       // false
bool WriteAsHex(void* handle, const char* text, bool flag);                   // false
int SendCommand(void* handle, const char* text, unsigned timeout);            // 0
int SendCommandAsHex(void* handle, const char* text, unsigned timeout);       // 0
void SetListener(void* handle, ListenerCallback callback);
void StopListener(void* handle);
bool ReadDevCfgToXml(void* device, const char* path);                         // false
const char* GetLastError();                                                   // null
bool WriteCfgToDev(void* device, const char* path, int timeout);              // false
bool WriteCfgToSlaveDev(void* device, const char* prefix, const char* suffix,
                        const char* lengthType, const char* path,
                        int timeout);                                         // false
void SetCbDevStatusChanged(void* handle, DevStatusCallback callback);
bool UpdateKernelDevice(void* device, const char* path, unsigned flags,
                        unsigned* status);                                    // false
bool GetDeviceInfo(void* list, unsigned index, st_device_info* info);         // false
bool GetRoiPicData(void* handle, sop_img_param param, unsigned char* buffer,
                   unsigned* length);                                         // false
bool GetRoiPicDataByNet(int socket, sop_img_param param, unsigned char* buffer,
                        unsigned* length);                                    // false
void GetBaseInfo(void* handle, unsigned kind, char* buffer, int* length);
bool CloseDevice(void** device);                                              // false
// -1, not 0: a missing entry point must never select the first device.
int FindDeviceIndexByPIDVID(void* list, const char* vid, const char* pid);   // -1
void* OpenDevice(void* list, unsigned index, T_Porotocol protocol);           // null
void ReleaseDevices(void** list);
void* EnumDevices(unsigned* count, int flags);                                // null
void BeginEnumNetDevice();
void StopEnumNetDevice();
int SetNetDeviceConfig(NET_SETTING_TYPE type, const char* address, int port,
                       int mode, const char* extra);                          // -1
bool SavePicDataToFile(const char* fileName, unsigned char* buffer, int width,
                       int height, int bitsPerPixel);                         // false
int ConnectToService(const char* host, int port, int* socket);                // -1
int SendDataToSocket(int socket, const char* data, int length);               // -1
int ReadFromSocket(int socket, int timeout, char* buffer, int* length);       // -1
int GetNetImgData(int socket, int x, int y, int width, int height, char* buffer,
                  int* length, IMG_TYPE* type, int* imageWidth,
                  int* imageHeight);                                          // -1
int CloseClientSocket(int* socket);                                           // -1
// clang-format on
