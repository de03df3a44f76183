#include "devlib/wrappers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "devlib/loader.h"

namespace {

// Points g_handle at a library for one test, unloading it afterwards. The
// devices it opens are nobody else's: a state folder of its own.
class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(state_), nullptr);
    setenv("TOLVARINE_SIM_STATE", state_, 1);
  }
  void TearDown() override {
    if (g_handle != nullptr) dlclose(g_handle);
    g_handle = nullptr;
    std::filesystem::remove_all(state_);
  }
  static void Load(const char* path) {
    if (g_handle != nullptr) dlclose(g_handle);
    g_handle = dlopen(path, RTLD_NOW);
    ASSERT_NE(g_handle, nullptr) << dlerror();
  }
  char state_[32] = "/tmp/tolvarine-wrappers-XXXXXX";
};

TEST_F(WrapperTest, NotLoadedGivesTheFailureValueSilently) {
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  unsigned count = 5;
  EXPECT_EQ(EnumDevices(&count, 7), nullptr);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(FindDeviceIndexByPIDVID(nullptr, "1a2b", "3c4d"), -1);
  EXPECT_EQ(OpenDevice(nullptr, 0, PROTOCOL_DEFAULT), nullptr);
  EXPECT_FALSE(CloseDevice(nullptr));
  EXPECT_EQ(Read(nullptr, nullptr, 0, 0), 0);
  EXPECT_FALSE(Write(nullptr, nullptr, 0, false));
  EXPECT_EQ(GetLastError(), nullptr);
  EXPECT_EQ(ReadFromSocket(0, 0, nullptr, nullptr), -1);
  EXPECT_EQ(SetNetDeviceConfig(NET_SETTING_DEFAULT, "", 0, 0, ""), -1);
  EXPECT_EQ(CreateTcpService(0, nullptr), 0);
  ReleaseDevices(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(WrapperTest, MissingEntryPointPrintsTheLoaderText) {
  Load(SIM_LEAN_LIBRARY);
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetLastError(), nullptr);
  EXPECT_EQ(FindDeviceIndexByPIDVID(nullptr, "1a2b", "3c4d"), -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("tq_GetLastError"), std::string::npos) << err;
  EXPECT_NE(err.find("tq_FindDeviceIndexByPIDVID"), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\n');
}

TEST_F(WrapperTest, EveryCallLooksItsEntryPointUpAfresh) {
  Load(SIM_LIBRARY);
  testing::internal::CaptureStderr();
  EXPECT_NE(GetLastError(), nullptr);
  Load(SIM_LEAN_LIBRARY);  // a cached address would still answer here
  EXPECT_EQ(GetLastError(), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("tq_GetLastError"), std::string::npos);
}

TEST_F(WrapperTest, IntResultsBecomeBooleans) {
  Load(SIM_LIBRARY);
  unsigned count = 0;
  void* list = EnumDevices(&count, 7);
  ASSERT_EQ(count, 1u);
  void* device = OpenDevice(list, 0, PROTOCOL_DEFAULT);
  unsigned width = 0, height = 0;
  EXPECT_TRUE(GetPicSize(device, &width, &height));
  EXPECT_EQ(width * height, 640u * 480u);
  EXPECT_TRUE(CloseDevice(&device));
  EXPECT_EQ(device, nullptr);
  EXPECT_FALSE(CloseDevice(&device));
  ReleaseDevices(&list);
  EXPECT_EQ(list, nullptr);
}

// Every wrapper reaches an entry point the full library exports: a name
// that does not match the library's fails here, not in the field.
TEST_F(WrapperTest, EveryWrapperFindsItsEntryPoint) {
  Load(SIM_LIBRARY);
  testing::internal::CaptureStderr();
  img_param image{};
  sop_img_param region{};
  img_resolution resolution{};
  IMG_TYPE type{};
  unsigned u = 0;
  int i = 0;
  char text[8] = "";
  void* handle = nullptr;
  CreateTcpService(0, nullptr);
  ExitTcpService();
  GetPicData(nullptr, nullptr, 0);
  GetPicDataByConfig(nullptr, image, nullptr, &u, &resolution);
  GetDeviceImageColorType(nullptr, &resolution, &u);
  ConvertImageColorSpace(nullptr, nullptr, 0, resolution, nullptr);
  GetPicSize(nullptr, &u, &u);
  Read(nullptr, text, sizeof text, 0);
  GetCommandResponse(nullptr, "", 0, text, &i, 0, false, false);
  Write(nullptr, nullptr, 0, false);
  WriteAsHex(nullptr, "", false);
  SendCommand(nullptr, "", 0);
  SendCommandAsHex(nullptr, "", 0);
  SetListener(nullptr, nullptr);
  StopListener(nullptr);
  ReadDevCfgToXml(nullptr, "");
  GetLastError();
  WriteCfgToDev(nullptr, "", 0);
  WriteCfgToSlaveDev(nullptr, "", "", "", "", 0);
  SetCbDevStatusChanged(nullptr, nullptr);
  UpdateKernelDevice(nullptr, "", 0, &u);
  GetDeviceInfo(nullptr, 0, nullptr);
  GetRoiPicData(nullptr, region, nullptr, &u);
  GetRoiPicDataByNet(0, region, nullptr, &u);
  GetBaseInfo(nullptr, 0, text, &i);
  CloseDevice(&handle);
  FindDeviceIndexByPIDVID(nullptr, "", "");
  OpenDevice(nullptr, 0, PROTOCOL_DEFAULT);
  ReleaseDevices(&handle);
  EnumDevices(&u, 7);
  BeginEnumNetDevice();
  StopEnumNetDevice();
  SetNetDeviceConfig(NET_SETTING_DEFAULT, "", 0, 0, "");
  SavePicDataToFile("", nullptr, 0, 0, 8);
  ConnectToService("", 0, &i);
  SendDataToSocket(0, "", 0);
  ReadFromSocket(0, 0, text, &i);
  GetNetImgData(0, 0, 0, 0, 0, text, &i, &type, &i, &i);
  CloseClientSocket(&i);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
