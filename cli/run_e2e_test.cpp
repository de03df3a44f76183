// The run flow end to end: command words, device choice, release order.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/e2e_test_harness.h"

namespace {

using RunFlowTest = ToolTest;

const char kUsage[] =
    "USAGE:\r\n"
    "    TolvarineCli  [--help |\r\n"
    "                   --execute [CMD] |\r\n"
    "                   --firmware xxx.bin|\r\n"
    "                   -i\r\n"
    "Options:\r\n"
    "    --Gpic       Getting images.\r\n"
    "    --execute   setup device by command\r\n"
    "    --firmware  Firmware upgrade command followed by firmware file path\r\n"
    "    --import     Download configuration file\r\n"
    "    --export     Save the device configuration.\r\n"
    "other:\r\n"
    "    --help      show help information\r\n"
    "    -i          show Device info\r\n"
    "Example:\r\n"
    "    TolvarineCli --help                           show help information.\r\n"
    "    TolvarineCli --execute RRDDUR2000             Set the readed timeout.\r\n"
    "    TolvarineCli --execute --custom --prefix 7b3e --len 2l --surfix 007d RRDDUR2000\n"
    "                 Set the readed timeout to slave device.\r\n"
    "    TolvarineCli --firmware xxx.bin               upgrade the firmware.\r\n"
    "    TolvarineCli --import xxx.xml                 Download configuration file.\r\n"
    "    TolvarineCli --import --custom --prefix 7b3e --len 2l --surfix 007d xxx.xml\n"
    "                 Download configuration file to slave device.\r\n"
    "    TolvarineCli -i                               show Device info.\r\n"
    "    TolvarineCli --Gpic                           Getting images.\r\n"
    "    TolvarineCli --export xxx.xml                 Save the device configuration.\r\n"
    "    TolvarineCli {option} -vp vid:pid             Operation on device with specific VID & PID, "
    "Commands {'--custom', '--Gpic'} Not Supported.\r\n";

TEST_F(RunFlowTest, NoArgumentPrintsNothing) {
  const RunResult r = Run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.journal, "");
}

TEST_F(RunFlowTest, HelpPrintsUsageWithoutTouchingDevices) {
  const RunResult r = Run({"--help"}, {.scenario = "# no device at all\n"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.journal, "");
}

TEST_F(RunFlowTest, WithoutLibraryOnlyTheLoaderSpeaks) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-i"}, {"--execute", "RRDDUR2000"}}) {
    const RunResult r = Run(args, {.library = Library::kNone});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("./Tolvarine.so"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
  }
}

TEST_F(RunFlowTest, UnknownCommandWordsNeverEnumerate) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--gpic"}, {"-vp", "1a2b:3c4d", "--export", "out.xml"},
        {"--HELP"}, {""}, {"-i "}}) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "There is no such command, use [--help] to see the command\n");
    EXPECT_EQ(r.journal, "");
  }
}

TEST_F(RunFlowTest, NoDeviceIsReportedAfterReleasing) {
  for (const char* word : {"-i", "--Gpic", "--execute", "--export"}) {
    const RunResult r = Run({word, "x"}, {.scenario = "# no device\n"});
    EXPECT_EQ(r.out, "No device found\n");
    EXPECT_EQ(r.journal, "tq_EnumDevices(&count, 7) -> list, count=0\ntq_ReleaseDevices(&list)\n");
  }
}

TEST_F(RunFlowTest, ListingReadsBothInfoLayouts) {
  const std::string scenario =
      "[device]\n"
      "info = Product Name: X1\\r\\nSerial Number: 123\\r\\nFirmware Version: 2.0\\r\\n\n"
      "kind = 0\n"
      "[device]\n"
      "info = Product Name=X1;Serial Number=123;Firmware Version=2.0\n"
      "kind = 4\n"
      "[device]\n"
      "info = Serial Number:   \\nProduct Name:\\t Cam  \\nFirmware Version: 9\n"
      "kind = 1\n"
      "[device]\n"
      "info = Product Name: A\\nProduct Name: B\\nSerial Number=5;\n"
      "kind = 2\n";
  const RunResult r = Run({"-i"}, {.scenario = scenario});
  const std::string separator = "/*************************************/\r\n";
  EXPECT_EQ(r.out,
            "Device: 1\r\nProduct name: X1\r\nSerial number: 123\r\nFirmware version: 2.0\r\n" +
                separator +
                "Device: 2\r\nProduct name: X1\r\nSerial number: 123\r\nFirmware version: \r\n" +
                separator +
                "Device: 3\r\nProduct name: Cam\r\nSerial number: \r\nFirmware version: \r\n" +
                separator +
                "Device: 4\r\nProduct name: A\r\nSerial number: \r\nFirmware version: \r\n" +
                separator);
  EXPECT_TRUE(Calls(r.journal, "tq_OpenDevice").empty());
  EXPECT_EQ(Calls(r.journal, "tq_GetDeviceInfo").size(), 4u);
}

TEST_F(RunFlowTest, OneDeviceIsOpenedWithoutAsking) {
  const RunResult r = Run({"--export", "out.xml"});
  EXPECT_EQ(r.out.find("Select="), std::string::npos);
  EXPECT_EQ(r.journal,
            "tq_EnumDevices(&count, 7) -> list, count=1\n"
            "tq_OpenDevice(list, 0, 0) -> dev0\n"
            "tq_ReadDevCfgToXml(dev0, \"out.xml\") -> true\n"
            "tq_CloseDevice(&dev0) -> 1\n"
            "tq_ReleaseDevices(&list)\n");
}

TEST_F(RunFlowTest, FailedOpenStillClosesAndReleases) {
  const RunResult r = Run({"--export", "out.xml"}, {.scenario = "[device]\nopen = fail\n"});
  EXPECT_EQ(r.out, "Failed to open the device\n");
  EXPECT_EQ(r.journal,
            "tq_EnumDevices(&count, 7) -> list, count=1\n"
            "tq_OpenDevice(list, 0, 0) -> null\n"
            "tq_CloseDevice(&null) -> 0\n"
            "tq_ReleaseDevices(&list)\n");
}

struct SelectorCase {
  std::vector<std::string> args;
  std::string out;
  std::string opened;  // the OpenDevice line, empty when none
  bool looksUp;
};

TEST_F(RunFlowTest, VidPidSelectorChoosesOrRefuses) {
  const std::vector<SelectorCase> cases = {
      {{"--export", "o.xml", "-vp", "0002:1002"}, "pid:1002,vid:0002.\r\nExport xml file succeeful\n",
       "tq_OpenDevice(list, 1, 0) -> dev1", true},
      {{"--export", "o.xml", "-vp", "0003-1003-extra"}, "pid:1003,vid:0003.\r\nExport xml file succeeful\n",
       "tq_OpenDevice(list, 2, 0) -> dev2", true},
      {{"--export", "o.xml", "-vp", "1a2b:3c4d"}, "pid:3c4d,vid:1a2b.\r\nno device [1a2b:3c4d]\n", "", true},
      {{"--export", "o.xml", "-vp", "0002:100"}, "no device [0002:100]\n", "", false},
      {{"--export", "o.xml", "-vp"}, "no device []\n", "", false},
      {{"--export", "o.xml", "-vp", ""}, "no device []\n", "", false},
  };
  for (const SelectorCase& c : cases) {
    const RunResult r = Run(c.args, {.input = "1\n", .scenario = Devices(3)});
    EXPECT_EQ(r.out, c.out) << c.args.back();
    const auto opened = Calls(r.journal, "tq_OpenDevice");
    EXPECT_EQ(opened.empty() ? "" : opened[0], c.opened) << c.args.back();
    EXPECT_EQ(Calls(r.journal, "tq_FindDeviceIndexByPIDVID").size(), c.looksUp ? 1u : 0u);
    EXPECT_EQ(Calls(r.journal, "tq_ReleaseDevices").size(), 1u);
  }
}

TEST_F(RunFlowTest, VidPidSelectorPassesVidThenPid) {
  const RunResult r = Run({"--export", "o.xml", "-vp", "0002:1002"}, {.scenario = Devices(2)});
  EXPECT_EQ(Calls(r.journal, "tq_FindDeviceIndexByPIDVID")[0],
            "tq_FindDeviceIndexByPIDVID(list, \"0002\", \"1002\") -> 1");
}

TEST_F(RunFlowTest, MissingLookupNeverFallsBackToTheFirstDevice) {
  const RunResult r = Run({"--export", "o.xml", "-vp", "0002:1002"},
                          {.scenario = Devices(2), .library = Library::kLean, .mergeStreams = true});
  EXPECT_EQ(r.out.substr(0, 20), "pid:1002,vid:0002.\r\n");
  EXPECT_NE(r.out.find("tq_FindDeviceIndexByPIDVID"), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 23), "\nno device [0002:1002]\n");
  EXPECT_TRUE(Calls(r.journal, "tq_OpenDevice").empty());
  EXPECT_EQ(Calls(r.journal, "tq_ReleaseDevices").size(), 1u);
}

struct AnswerCase {
  std::string input;
  int index;  // -1: no device chosen
};

TEST_F(RunFlowTest, InteractiveChoiceReadsAnIntegerAsPercentI) {
  const std::vector<AnswerCase> cases = {
      {"2\n", 1},  {"0x2\n", 1}, {"  +3\n", 2}, {"03", 2},          {"0X1x", 0},
      {"0\n", -1}, {"4\n", -1},  {"-1\n", -1},  {"abc\n", -1},      {"", -1},
      {"010\n", -1}, {"4294967298\n", -1}, {"-4294967295\n", -1}, {"0x\n", -1},
  };
  const std::string menu =
      "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\n"
      "3. Unit3 SN:SN3 Fireware Ver:1.3\r\nSelect=";
  for (const AnswerCase& c : cases) {
    const RunResult r = Run({"--export", "o.xml"}, {.input = c.input, .scenario = Devices(3)});
    const auto opened = Calls(r.journal, "tq_OpenDevice");
    if (c.index < 0) {
      EXPECT_EQ(r.out, menu + "No Device Selected\r\n") << c.input;
      EXPECT_TRUE(opened.empty()) << c.input;
    } else {
      EXPECT_EQ(r.out, menu + "Export xml file succeeful\n") << c.input;
      ASSERT_EQ(opened.size(), 1u) << c.input;
      EXPECT_EQ(opened[0], "tq_OpenDevice(list, " + std::to_string(c.index) + ", 0) -> dev" +
                               std::to_string(c.index));
    }
    EXPECT_EQ(Calls(r.journal, "tq_ReleaseDevices").size(), 1u);
  }
}

TEST_F(RunFlowTest, OutputKeepsItsOrderWhenStreamsShareAFile) {
  // The settings file is missing: its error comes between the two traces.
  const RunResult r = Run({"--execute", "RRDDUR2000"}, {.mergeStreams = true});
  EXPECT_EQ(r.out,
            "Request:7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 \n"
            "Error opening file: No such file or directory\n"
            "Response:06 0D \n");
}

}  // namespace

namespace {

// Reads from fd until `text` has arrived or five seconds pass.
std::string ReadUntil(int fd, const std::string& text) {
  std::string seen;
  char chunk[256];
  while (seen.find(text) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    seen.append(chunk, static_cast<std::size_t>(n));
  }
  return seen;
}

TEST_F(RunFlowTest, PromptIsShownBeforeTheAnswerIsRead) {
  // Through pipes, as from a script that waits for the prompt to answer.
  WriteFile("two.sim", Devices(2));
  int toTool[2], fromTool[2];
  ASSERT_EQ(pipe(toTool), 0);
  ASSERT_EQ(pipe(fromTool), 0);
  ASSERT_EQ(symlink(SIM_LIBRARY, (dir_ + "/Tolvarine.so").c_str()), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(toTool[0], 0);
    dup2(fromTool[1], 1);
    close(toTool[1]);
    close(fromTool[0]);
    if (chdir(dir_.c_str()) != 0) _exit(126);
    setenv("TOLVARINE_SIM", "two.sim", 1);
    execl(TOOL_BINARY, TOOL_BINARY, "--export", "o.xml", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toTool[0]);
  close(fromTool[1]);
  const std::string prompt = ReadUntil(fromTool[0], "Select=");
  EXPECT_NE(prompt.find("Select="), std::string::npos) << "the prompt did not arrive before the answer";
  ASSERT_EQ(write(toTool[1], "2\n", 2), 2);
  close(toTool[1]);
  const std::string rest = ReadUntil(fromTool[0], "\n");
  EXPECT_EQ(rest, "Export xml file succeeful\n");
  close(fromTool[0]);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
}

}  // namespace
