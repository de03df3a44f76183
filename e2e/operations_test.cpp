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
      {"33 x 7",
       {"--Gpic"},
       {.scenario = "[device]\npicture = 33x7\n"},
       "",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 33x7",
        "tq_GetPicData(dev0, buffer, 231) -> true",
        "tq_SavePicDataToFile(\"test.bmp\", buffer, 33, 7, 8) -> true"},
       kReleased},
      {"size unknown",
       {"--Gpic"},
       {.scenario = "[device]\npicture = fail\n"},
       "Failed to get image resolution\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 0, 0x0"},
       kReleased,
       {"tq_GetPicData"}},
      {"capture fails",
       {"--Gpic"},
       {.scenario = "[device]\npicdata = fail\n", .code = 1},
       "Failed to get image data\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 640x480",
        "tq_GetPicData(dev0, buffer, 307200) -> false"},
       kReleased,
       {"tq_SavePicDataToFile"}},
      {"0 x 0",
       {"--Gpic"},
       {.scenario = "[device]\npicture = 0x0\n"},
       "",
       {"tq_GetPicData(dev0, buffer, 0) -> true",
        "tq_SavePicDataToFile(\"test.bmp\", buffer, 0, 0, 8) -> true"},
       kReleased},
      // The byte count does not fit the library's int: nothing is fetched.
      {"65536 x 65536",
       {"--Gpic"},
       {.scenario = "[device]\npicture = 65536x65536\n"},
       "Failed to get image resolution\n",
       {},
       kReleased,
       {"tq_GetPicData"}},
      {"4294967295 x 0",
       {"--Gpic"},
       {.scenario = "[device]\npicture = 4294967295x0\n"},
       "Failed to get image resolution\n",
       {},
       kReleased,
       {"tq_GetPicData"}},
  });
}

TEST_F(OperationsTest, FirmwareOutcomes) {
  RunCases({
      {"update",
       {"--firmware", "fw.bin"},
       {.code = 0},
       "updateError=0,succeed in updating the firmware \n",
       {"tq_UpdateKernelDevice(dev0, \"fw.bin\", 0, &status) -> 1, status=0"},
       kReleased},
      {"status left untouched",
       {"--firmware", "fw.bin"},
       {.scenario = "[device]\nfirmware = fail 4294967295 busy\n"},
       "updateError=-1,failed to update the firmware\n",
       {},
       kReleased},
      {"refused",
       {"--firmware", "fw.bin"},
       {.scenario = "[device]\nfirmware = fail 7 checksum mismatch\n", .code = 1},
       "updateError=7,failed to update the firmware\n",
       {},
       kReleased},
      {"no file named",
       {"--firmware"},
       {.code = 2},
       "No firmware file\n",
       {},
       kReleased,
       {"tq_UpdateKernelDevice"}},
  });
}

TEST_F(OperationsTest, ExportOutcomes) {
  RunCases({
      {"export",
       {"--export", "out.xml"},
       {},
       "Export xml file succeeful\n",
       {"tq_ReadDevCfgToXml(dev0, \"out.xml\") -> true"},
       kReleased},
      {"refused",
       {"--export", "out.xml"},
       {.scenario = "[device]\nexport = fail storage busy\n", .code = 1},
       "Export xml file failed\n",
       {},
       kReleased},
      {"no file named",
       {"--export"},
       {},
       "No export xml file\n",
       {},
       kReleased,
       {"tq_ReadDevCfgToXml"}},
  });
  EXPECT_NE(ReadFile("out.xml").find("<configuration"), std::string::npos);
}

TEST_F(OperationsTest, ImportOutcomes) {
  const std::string slave = "--custom";
  RunCases({
      {"import",
       {"--import", "cfg.xml"},
       {},
       "Write configure to device successful.\n",
       {"tq_WriteCfgToDev(dev0, \"cfg.xml\", 750) -> true"},
       kReleased,
       {},
       [this] { WriteFile("setting.ini", "readtimeout=750\n"); }},
      // The library's reason, with no line end added.
      {"refused",
       {"--import", "cfg.xml"},
       {.scenario = "[device]\nimport = fail device busy\n", .code = 1},
       "device busy",
       {},
       "tq_GetLastError() -> \"device busy\"\n" + kReleased},
      {"slave options in order",
       {"--import", slave, "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"},
       {.scenario = "[device]\nslave = 7b3e 2l 007d\n"},
       "Write configure to device successful.\n",
       {"tq_WriteCfgToSlaveDev(dev0, \"7b3e\", \"007d\", \"2l\", \"cfg.xml\", 750) -> true"},
       kReleased},
      {"slave framing of another device",
       {"--import", slave, "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"},
       {.scenario = "[device]\nslave = 7b3e 2l 0d0a\n"},
       "slave framing does not match the device behind the master",
       {},
       kReleased},
      {"plain write to a device behind a master",
       {"--import", "cfg.xml"},
       {.scenario = "[device]\nslave = 7b3e 2l 007d\n"},
       "the device is behind a master: write its configuration with its slave framing",
       {},
       kReleased},
      {"slave write to a device on its own",
       {"--import", slave, "--len", "1", "cfg.xml"},
       {},
       "the device is not behind a master: write its configuration without slave framing",
       {},
       kReleased},
      {"on the device the selector names",
       {"--import", "cfg.xml", "-vp", "0002:1002"},
       {.scenario = Devices(3)},
       "pid:1002,vid:0002.\r\nWrite configure to device successful.\n",
       {"tq_WriteCfgToDev(dev1, \"cfg.xml\", 750) -> true"}},
      {"no last error entry point",
       {"--import", "missing.xml"},
       {.library = Library::kLean, .err = "./Tolvarine.so: undefined symbol: tq_GetLastError\n"},
       "",
       {},
       kReleased},
      {"no file named",
       {"--import"},
       {},
       "No execute command\n",
       {},
       kReleased,
       {"tq_WriteCfgToDev"}},
      {"--custom without options",
       {"--import", slave, "cfg.xml"},
       {},
       "There must be one of the [--prefix],[--len],[--suffix] options\n",
       {},
       kReleased,
       {"tq_WriteCfgToSlaveDev"}},
      {"--custom, half a pair",
       {"--import", slave, "--len", "2l", "--prefix", "cfg.xml"},
       {},
       "Check [--prefix],[--len],[--suffix] options\n",
       {},
       kReleased,
       {"tq_WriteCfgToSlaveDev"}},
      {"--custom, long length type",
       {"--import", slave, "--len", "2lx", "cfg.xml"},
       {},
       "The value of [--len] is too long\n",
       {},
       kReleased,
       {"tq_WriteCfgToSlaveDev"}},
  });
}

}  // namespace
