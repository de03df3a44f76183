// A misbehaving device library and hostile input: the tool stays within its
// buffers, prints the agreed message, exits 0 and never acts on a device the
// user did not choose. Run under the sanitizer build by `make sanitize`.
#include <string>
#include <vector>

#include "cli/e2e_test_harness.h"

namespace {

using HardeningTest = ToolTest;

struct MisbehaviourCase {
  std::string name;
  std::string scenario;
  std::vector<std::string> args;
  std::string out;   // exact standard output
  bool writes;       // whether anything may reach tq_Write
};

const std::string kInfo = "info = Product Name: P\\nSerial Number: S\\nFirmware Version: F\\n\n";
const std::string kRequest = "Request:7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 \n";

TEST_F(HardeningTest, MisbehavingLibrary) {
  const std::string longValue(200, 'v');
  const std::vector<MisbehaviourCase> cases = {
      {"info without NUL", "[device]\ninfo = Product Name: " + longValue + "\\n\ninfo.unterminated = yes\n",
       {"-i"},
       "Device: 1\r\nProduct name: " + std::string(127, 'v') +
           "\r\nSerial number: \r\nFirmware version: \r\n/*************************************/\r\n",
       false},
      {"info call fails", "[device]\n" + kInfo + "getinfo = fail\n", {"-i"},
       "Device: 1\r\nProduct name: \r\nSerial number: \r\nFirmware version: \r\n"
       "/*************************************/\r\n",
       false},
      {"count without list", "list = null\n[device]\n" + kInfo, {"--execute", "RRDDUR2000"}, "No device found\n", false},
      {"count beyond the list", "count = 2\n[device]\n" + kInfo, {"--execute", "RRDDUR2000"},
       "1. P SN:S Fireware Ver:F\r\n2.  SN: Fireware Ver:\r\nSelect=Failed to open the device\n", false},
      {"open fails", "[device]\nopen = fail\n", {"--execute", "RRDDUR2000"}, "Failed to open the device\n", false},
      {"write fails", "[device]\nwrite = fail\n", {"--execute", "RRDDUR2000"}, kRequest + "Response: time out\n", true},
      {"read fails at once", "[device]\nread = error\n", {"--execute", "RRDDUR2000"},
       kRequest + "Response: time out\n", true},
      {"huge picture", "[device]\npicture = 65536x65536\n", {"--Gpic"}, "Failed to get image resolution\n", false},
      {"null last error", "lasterror = null\n[device]\nimport = fail x\n", {"--import", "cfg.xml"}, "", false},
      {"directives in info", "[device]\ninfo = Product Name: %s%n%x\\n\n", {"-i"},
       "Device: 1\r\nProduct name: %s%n%x\r\nSerial number: \r\nFirmware version: \r\n"
       "/*************************************/\r\n",
       false},
      {"directives in last error", "[device]\nimport = fail %s%n%x%p\n", {"--import", "cfg.xml"}, "%s%n%x%p", false},
      {"directives in selector", Devices(2), {"--execute", "RRDDUR2000", "-vp", "%s%n%x%n%n"},
       "pid:x%n%,vid:%s%n.\r\nno device [%s%n%x%n%n]\n", false},
  };
  for (const MisbehaviourCase& c : cases) {
    const RunResult r = Run(c.args, {.input = "2\n", .scenario = c.scenario});
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(Calls(r.journal, "tq_Write(").empty(), !c.writes) << c.name;
    EXPECT_EQ(Calls(r.journal, "tq_ReleaseDevices").size(), 1u) << c.name;
  }
}

TEST_F(HardeningTest, OversizedArgumentsAreRefusedBeforeAnythingIsSent) {
  const std::string huge(100000, 'A');
  const std::vector<std::vector<std::string>> refused = {
      {"--execute", "--custom", "--prefix", huge, "RRDDUR2000"},
      {"--execute", "--custom", "--surfix", "00" + huge, "RRDDUR2000"},
      {"--execute", "--custom", "--len", huge, "RRDDUR2000"},
      {"--import", "--custom", "--prefix", huge, "cfg.xml"},
  };
  for (const auto& args : refused) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("is too long"), std::string::npos) << r.out.substr(0, 80);
    EXPECT_TRUE(Calls(r.journal, "tq_Write(").empty());
    EXPECT_TRUE(Calls(r.journal, "tq_WriteCfgToSlaveDev").empty());
  }
  // A long command is framed whole.
  const RunResult r = Run({"--execute", huge});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), 8 + (huge.size() + 9) * 3 + 1 + 13);
}

}  // namespace
