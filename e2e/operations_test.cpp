// Picture, firmware, configuration export and import end to end.
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

class OperationsTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("setting.ini", "readtimeout=2000\n");
    WriteFile("cfg.xml",
              "<?xml version=\"1.0\"?>\n<configuration><setting "
              "name=\"gain\">4</setting></configuration>\n");
    WriteFile("fw.bin", "firmware image");
  }
};

const std::string kReleased = "tq_CloseDevice(&dev0) -> 1\ntq_ReleaseDevices(&list)\n";

TEST_F(OperationsTest, PictureOutcomes) {
  RunCases({
      {.name = "33 x 7",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicture = 33x7\n"},
       .calls = {"tq_GetPicSize(dev0, &width, &height) -> 1, 33x7",
                 "tq_GetPicData(dev0, buffer, 231) -> true",
                 "tq_SavePicDataToFile(\"test.bmp\", buffer, 33, 7, 8) -> true"},
       .tail = kReleased},
      {.name = "size unknown",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicture = fail\n"},
       .out = "Failed to get image resolution\n",
       .calls = {"tq_GetPicSize(dev0, &width, &height) -> 0, 0x0"},
       .tail = kReleased,
       .absent = {"tq_GetPicData"}},
      {.name = "capture fails",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicdata = fail\n", .code = 1},
       .out = "Failed to get image data\n",
       .calls = {"tq_GetPicSize(dev0, &width, &height) -> 1, 640x480",
                 "tq_GetPicData(dev0, buffer, 307200) -> false"},
       .tail = kReleased,
       .absent = {"tq_SavePicDataToFile"}},
      {.name = "0 x 0",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicture = 0x0\n"},
       .calls = {"tq_GetPicData(dev0, buffer, 0) -> true",
                 "tq_SavePicDataToFile(\"test.bmp\", buffer, 0, 0, 8) -> true"},
       .tail = kReleased},
      // The byte count does not fit the library's int: nothing is fetched.
      {.name = "65536 x 65536",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicture = 65536x65536\n"},
       .out = "Failed to get image resolution\n",
       .tail = kReleased,
       .absent = {"tq_GetPicData"}},
      {.name = "4294967295 x 0",
       .args = {"--Gpic"},
       .options = {.scenario = "[device]\npicture = 4294967295x0\n"},
       .out = "Failed to get image resolution\n",
       .tail = kReleased,
       .absent = {"tq_GetPicData"}},
  });
}

TEST_F(OperationsTest, FirmwareOutcomes) {
  RunCases({
      {.name = "update",
       .args = {"--firmware", "fw.bin"},
       .options = {.code = 0},
       .out = "updateError=0,succeed in updating the firmware \n",
       .calls = {"tq_UpdateKernelDevice(dev0, \"fw.bin\", 0, &status) -> 1, status=0"},
       .tail = kReleased,
       .json = ResultLine("\"--firmware\"",
                          "\"device\": " + std::string(kDefaultDevice) +
                              ", \"outcome\": \"done\", \"status\": 0, \"message\": "
                              "\"updateError=0,succeed in updating the firmware \", \"error\": "
                              "null, \"file\": \"fw.bin\", \"updateError\": 0")},
      {.name = "status left untouched",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "[device]\nfirmware = fail 4294967295 busy\n"},
       .out = "updateError=-1,failed to update the firmware\n",
       .tail = kReleased},
      {.name = "refused",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "[device]\nfirmware = fail 7 checksum mismatch\n", .code = 1},
       .out = "updateError=7,failed to update the firmware\n",
       .tail = kReleased,
       .json = ResultLine("\"--firmware\"",
                          "\"device\": {\"device\": 1, \"product\": \"\", \"serial\": \"\", "
                          "\"firmware\": \"\"}, \"outcome\": \"failed\", \"status\": 1, "
                          "\"message\": \"updateError=7,failed to update the firmware\", "
                          "\"error\": \"checksum mismatch\", \"file\": \"fw.bin\", "
                          "\"updateError\": 7")},
      {.name = "no file named",
       .args = {"--firmware"},
       .options = {.code = 2},
       .out = "No firmware file\n",
       .tail = kReleased,
       .absent = {"tq_UpdateKernelDevice"}},
  });
}

TEST_F(OperationsTest, ExportOutcomes) {
  RunCases({
      {.name = "export",
       .args = {"--export", "out.xml"},
       .out = "Export xml file succeeful\n",
       .calls = {"tq_ReadDevCfgToXml(dev0, \"out.xml\") -> true"},
       .tail = kReleased},
      {.name = "refused",
       .args = {"--export", "out.xml"},
       .options = {.scenario = "[device]\nexport = fail storage busy\n", .code = 1},
       .out = "Export xml file failed\n",
       .tail = kReleased},
      {.name = "no file named",
       .args = {"--export"},
       .out = "No export xml file\n",
       .tail = kReleased,
       .absent = {"tq_ReadDevCfgToXml"}},
  });
  EXPECT_NE(ReadFile("out.xml").find("<configuration"), std::string::npos);
}

TEST_F(OperationsTest, ImportOutcomes) {
  const std::string slave = "--custom";
  RunCases({
      {.name = "import",
       .args = {"--import", "cfg.xml"},
       .out = "Write configure to device successful.\n",
       .calls = {"tq_WriteCfgToDev(dev0, \"cfg.xml\", 750) -> true"},
       .tail = kReleased,
       .setup = [this] { WriteFile("setting.ini", "readtimeout=750\n"); }},
      // The library's reason, with no line end added.
      {.name = "refused",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "[device]\nimport = fail device busy\n", .code = 1},
       .out = "device busy",
       .tail = "tq_GetLastError() -> \"device busy\"\n" + kReleased},
      {.name = "slave options in order",
       .args = {"--import", slave, "--prefix", "7b3e", "--len", "2l", "--surfix", "007d",
                "cfg.xml"},
       .options = {.scenario = "[device]\nslave = 7b3e 2l 007d\n"},
       .out = "Write configure to device successful.\n",
       .calls =
           {"tq_WriteCfgToSlaveDev(dev0, \"7b3e\", \"007d\", \"2l\", \"cfg.xml\", 750) -> true"},
       .tail = kReleased},
      {.name = "slave framing of another device",
       .args = {"--import", slave, "--prefix", "7b3e", "--len", "2l", "--surfix", "007d",
                "cfg.xml"},
       .options = {.scenario = "[device]\nslave = 7b3e 2l 0d0a\n"},
       .out = "slave framing does not match the device behind the master",
       .tail = kReleased},
      {.name = "plain write to a device behind a master",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "[device]\nslave = 7b3e 2l 007d\n"},
       .out = "the device is behind a master: write its configuration with its slave framing",
       .tail = kReleased},
      {.name = "slave write to a device on its own",
       .args = {"--import", slave, "--len", "1", "cfg.xml"},
       .out = "the device is not behind a master: write its configuration without slave framing",
       .tail = kReleased},
      {.name = "on the device the selector names",
       .args = {"--import", "cfg.xml", "-vp", "0002:1002"},
       .options = {.scenario = Devices(3)},
       .out = "pid:1002,vid:0002.\r\nWrite configure to device successful.\n",
       .calls = {"tq_WriteCfgToDev(dev1, \"cfg.xml\", 750) -> true"}},
      {.name = "no last error entry point",
       .args = {"--import", "missing.xml"},
       .options = {.library = Library::kLean,
                   .err = "./Tolvarine.so: undefined symbol: tq_GetLastError\n"},
       .tail = kReleased},
      {.name = "no file named",
       .args = {"--import"},
       .out = "No execute command\n",
       .tail = kReleased,
       .absent = {"tq_WriteCfgToDev"}},
      {.name = "--custom without options",
       .args = {"--import", slave, "cfg.xml"},
       .out = "There must be one of the [--prefix],[--len],[--suffix] options\n",
       .tail = kReleased,
       .absent = {"tq_WriteCfgToSlaveDev"}},
      {.name = "--custom, half a pair",
       .args = {"--import", slave, "--len", "2l", "--prefix", "cfg.xml"},
       .out = "Check [--prefix],[--len],[--suffix] options\n",
       .tail = kReleased,
       .absent = {"tq_WriteCfgToSlaveDev"}},
      {.name = "--custom, long length type",
       .args = {"--import", slave, "--len", "2lx", "cfg.xml"},
       .out = "The value of [--len] is too long\n",
       .tail = kReleased,
       .absent = {"tq_WriteCfgToSlaveDev"}},
  });
}

}  // namespace
