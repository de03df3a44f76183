// Picture, firmware, configuration export and import end to end.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/e2e_test_harness.h"

namespace {

using OperationsTest = ToolTest;

constexpr char kGoodXml[] = "<?xml version=\"1.0\"?>\n<configuration><setting name=\"gain\">4</setting></configuration>\n";

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

struct PictureCase {
  std::string scenario;
  std::string out;
  std::vector<std::string> calls;  // the picture calls made, in order
};

TEST_F(OperationsTest, PictureOutcomes) {
  const std::vector<PictureCase> cases = {
      {"[device]\npicture = 33x7\n", "",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 33x7", "tq_GetPicData(dev0, buffer, 231) -> true",
        "tq_SavePicDataToFile(\"test.bmp\", buffer, 33, 7, 8) -> true"}},
      {"[device]\npicture = fail\n", "Failed to get image resolution\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 0, 0x0"}},
      {"[device]\npicdata = fail\n", "Failed to get image data\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 640x480", "tq_GetPicData(dev0, buffer, 307200) -> false"}},
      {"[device]\npicture = 0x0\n", "",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 0x0", "tq_GetPicData(dev0, buffer, 0) -> true",
        "tq_SavePicDataToFile(\"test.bmp\", buffer, 0, 0, 8) -> true"}},
      // The byte count does not fit the library's int: nothing is fetched.
      {"[device]\npicture = 65536x65536\n", "Failed to get image resolution\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 65536x65536"}},
      {"[device]\npicture = 4294967295x0\n", "Failed to get image resolution\n",
       {"tq_GetPicSize(dev0, &width, &height) -> 1, 4294967295x0"}},
  };
  for (const PictureCase& c : cases) {
    const RunResult r = Run({"--Gpic"}, {.scenario = c.scenario});
    EXPECT_EQ(r.out, c.out) << c.scenario;
    std::vector<std::string> calls;
    for (const char* name : {"tq_GetPicSize", "tq_GetPicData", "tq_SavePicDataToFile"}) {
      for (const std::string& line : Calls(r.journal, name)) calls.push_back(line);
    }
    EXPECT_EQ(calls, c.calls) << c.scenario;
  }
}

TEST_F(OperationsTest, PictureFileIsAGrayscaleBitmap) {
  Run({"--Gpic"}, {.scenario = "[device]\npicture = 33x7\n"});
  const std::string bmp = ReadFile("test.bmp");
  const std::uint32_t stride = 36;
  ASSERT_EQ(bmp.size(), 14 + 40 + 1024 + stride * 7);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(Little32(bmp, 2), bmp.size());
  EXPECT_EQ(Little32(bmp, 10), 14u + 40 + 1024);
  EXPECT_EQ(Little32(bmp, 14), 40u);
  EXPECT_EQ(Little32(bmp, 18), 33u);
  EXPECT_EQ(Little32(bmp, 22), 7u);
  EXPECT_EQ(Little32(bmp, 28) & 0xFFFF, 8u);
  EXPECT_EQ(Little32(bmp, 54 + 4 * 200), 0x00C8C8C8u);  // grey palette
}

struct FirmwareCase {
  std::string scenario;
  std::vector<std::string> args;
  std::string out;
};

TEST_F(OperationsTest, FirmwareOutcomes) {
  WriteFile("fw.bin", "firmware image");
  WriteFile("empty.bin", "");
  const std::vector<FirmwareCase> cases = {
      {"", {"--firmware", "fw.bin"}, "updateError=0,succeed in updating the firmware \n"},
      {"", {"--firmware", "missing.bin"}, "updateError=2,failed to update the firmware\n"},
      {"", {"--firmware", "empty.bin"}, "updateError=3,failed to update the firmware\n"},
      {"[device]\nfirmware = fail 4294967295 flash busy\n", {"--firmware", "fw.bin"},
       "updateError=-1,failed to update the firmware\n"},
      {"[device]\nfirmware = fail 7 checksum mismatch\n", {"--firmware", "fw.bin"},
       "updateError=7,failed to update the firmware\n"},
  };
  for (const FirmwareCase& c : cases) {
    const RunResult r = Run(c.args, {.scenario = c.scenario});
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
  const RunResult r = Run({"--firmware"});
  EXPECT_EQ(r.out, "No firmware file\n");
  EXPECT_TRUE(Calls(r.journal, "tq_UpdateKernelDevice").empty());
}

TEST_F(OperationsTest, ExportOutcomes) {
  RunResult r = Run({"--export", "cfg.xml"});
  EXPECT_EQ(r.out, "Export xml file succeeful\n");
  EXPECT_NE(ReadFile("cfg.xml").find("<configuration"), std::string::npos);
  r = Run({"--export", "cfg.xml"}, {.scenario = "[device]\nexport = fail storage busy\n"});
  EXPECT_EQ(r.out, "Export xml file failed\n");
  r = Run({"--export", "no/such/dir/cfg.xml"});
  EXPECT_EQ(r.out, "Export xml file failed\n");
  r = Run({"--export"});
  EXPECT_EQ(r.out, "No export xml file\n");
  EXPECT_TRUE(Calls(r.journal, "tq_ReadDevCfgToXml").empty());
}

struct ImportCase {
  std::vector<std::string> args;
  std::string scenario;
  std::string out;
};

TEST_F(OperationsTest, ImportOutcomes) {
  WriteFile("cfg.xml", kGoodXml);
  WriteFile("empty.xml", "");
  WriteFile("bad.xml", "<configuration><setting></configuration>");
  const std::vector<ImportCase> cases = {
      {{"--import", "cfg.xml"}, "", "Write configure to device successful.\n"},
      {{"--import", "missing.xml"}, "", "cannot open configuration file missing.xml: No such file or directory"},
      {{"--import", "empty.xml"}, "", "configuration file empty.xml is empty"},
      {{"--import", "bad.xml"}, "",
       "configuration file bad.xml is not well-formed XML: closing tag does not match <setting>"},
      {{"--import", "cfg.xml"}, "[device]\nimport = fail %s%n%x busy\n", "%s%n%x busy"},
      {{"--import", "bad.xml"}, "lasterror = null\n[device]\n", ""},
      {{"--import"}, "", "No execute command\n"},
      {{"--import", "--custom", "cfg.xml"}, "", "There must be one of the [--prefix],[--len],[--suffix] options\n"},
      {{"--import", "--custom", "--len", "2l", "--prefix", "cfg.xml"}, "", "Check [--prefix],[--len],[--suffix] options\n"},
      {{"--import", "--custom", "--len", "2lx", "cfg.xml"}, "", "The value of [--len] is too long\n"},
      {{"--import", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"}, "",
       "Write configure to device successful.\n"},
  };
  for (const ImportCase& c : cases) {
    const RunResult r = Run(c.args, {.scenario = c.scenario});
    EXPECT_EQ(r.out, c.out) << c.args.back() << " " << c.scenario;
  }
}

TEST_F(OperationsTest, ImportPassesTheTimeoutAndSlaveOptionsInOrder) {
  WriteFile("cfg.xml", kGoodXml);
  WriteFile("setting.ini", "readtimeout=750\n");
  RunResult r = Run({"--import", "cfg.xml"});
  EXPECT_EQ(Calls(r.journal, "tq_WriteCfgToDev")[0], "tq_WriteCfgToDev(dev0, \"cfg.xml\", 750) -> true");
  r = Run({"--import", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"});
  EXPECT_EQ(Calls(r.journal, "tq_WriteCfgToSlaveDev")[0],
            "tq_WriteCfgToSlaveDev(dev0, \"7b3e\", \"007d\", \"2l\", \"cfg.xml\", 750) -> true");
  EXPECT_EQ(r.out, "Write configure to device successful.\n");
  r = Run({"--import", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "cfg.xml"},
          {.scenario = "[device]\nslave = 7b3e 2l 0d0a\n"});
  EXPECT_EQ(r.out, "slave framing does not match the device behind the master");
}

TEST_F(OperationsTest, ImportOnTheDeviceTheSelectorNames) {
  WriteFile("cfg.xml", kGoodXml);
  const RunResult r = Run({"--import", "cfg.xml", "-vp", "0002:1002"}, {.scenario = Devices(3)});
  EXPECT_EQ(r.out, "pid:1002,vid:0002.\r\nWrite configure to device successful.\n");
  EXPECT_EQ(Calls(r.journal, "tq_WriteCfgToDev")[0], "tq_WriteCfgToDev(dev1, \"cfg.xml\", 2000) -> true");
}

TEST_F(OperationsTest, ImportFailureWithoutLastErrorEntryPoint) {
  const RunResult r = Run({"--import", "missing.xml"}, {.library = Library::kLean});
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("tq_GetLastError"), std::string::npos);
  EXPECT_EQ(r.err.back(), '\n');
}

}  // namespace
