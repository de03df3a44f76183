// The run flow end to end: command words, device choice, release order.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "e2e/harness.h"

namespace {

using RunFlowTest = ToolTest;

const char kNoSuchCommand[] = "There is no such command, use [--help] to see the command\n";
const char kNoLibrary[] =
    "./Tolvarine.so: cannot open shared object file: No such file or directory\n";
const std::string kSeparator = "/*************************************/\r\n";

TEST_F(RunFlowTest, CommandWordsAndTheLibrary) {
  const std::string noDevice =
      "tq_EnumDevices(&count, 7) -> list, count=0\ntq_ReleaseDevices(&list)\n";
  const RunOptions none = {.scenario = "# no device\n", .code = 3};
  RunCases({
      {.name = "no argument", .options = {.code = 2}, .absent = {"tq_"}},
      {.name = "--version without a library",
       .args = {"--version"},
       .options = {.library = Library::kNone, .code = 0},
       .out = "TolvarineCli " TOOL_VERSION "\n"},
      {.name = "--help touches no device",
       .args = {"--help"},
       .options = {.scenario = "# no device at all\n"},
       .out = kUsage,
       .absent = {"tq_"}},
      {.name = "no library, --help",
       .args = {"--help"},
       .options = {.library = Library::kNone, .err = kNoLibrary}},
      {.name = "no library, -i",
       .args = {"-i"},
       .options = {.library = Library::kNone, .err = kNoLibrary},
       .json = ResultLine("\"-i\"",
                          "\"device\": null, \"outcome\": \"no library\", \"status\": 4, "
                          "\"message\": \"./Tolvarine.so: cannot open shared object file: No such "
                          "file or directory\", \"error\": null")},
      {.name = "no library, --execute",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.library = Library::kNone, .err = kNoLibrary}},
      {.name = "misspelt word",
       .args = {"--gpic"},
       .options = {.code = 2},
       .out = kNoSuchCommand,
       .absent = {"tq_"},
       .json = ResultLine("\"--gpic\"",
                          "\"device\": null, \"outcome\": \"refused\", \"status\": 2, "
                          "\"message\": \"There is no such command, use [--help] to see the "
                          "command\", \"error\": null")},
      {.name = "-vp first",
       .args = {"-vp", "1a2b:3c4d", "--export", "out.xml"},
       .out = kNoSuchCommand,
       .absent = {"tq_"}},
      {.name = "upper case",
       .args = {"--HELP"},
       .options = {.env = {"TOLVARINE_EXIT_STATUS=yes"}},
       .out = kNoSuchCommand,
       .absent = {"tq_"}},
      {.name = "empty word", .args = {""}, .out = kNoSuchCommand, .absent = {"tq_"}},
      {.name = "trailing blank", .args = {"-i "}, .out = kNoSuchCommand, .absent = {"tq_"}},
      // "No device found" comes after the list is released and the library unloaded.
      {.name = "no device, -i",
       .args = {"-i", "x"},
       .options = none,
       .out = "No device found\n",
       .tail = noDevice},
      {.name = "no device, -i --json",
       .args = {"-i", "--json"},
       .options = none,
       .out = "[]\n",
       .tail = noDevice},
      {.name = "-i --JSON is a text listing",
       .args = {"-i", "--JSON"},
       .options = none,
       .out = "No device found\n",
       .tail = noDevice},
      {.name = "no device, --Gpic",
       .args = {"--Gpic", "x"},
       .options = none,
       .out = "No device found\n",
       .tail = noDevice},
      {.name = "no device, --execute",
       .args = {"--execute", "x"},
       .options = none,
       .out = "No device found\n",
       .tail = noDevice,
       .json = ResultLine("\"--execute\"",
                          "\"device\": null, \"outcome\": \"no device\", \"status\": 3, "
                          "\"message\": \"No device found\", \"error\": null")},
      {.name = "no device, --export",
       .args = {"--export", "x"},
       .options = none,
       .out = "No device found\n",
       .tail = noDevice},
  });
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
  std::string everyDevice = "[";
  for (int i = 1; i <= 1025; ++i) {
    const std::string n = std::to_string(i);
    everyDevice += "\n  {\"device\": " + n + ", \"product\": \"Unit" + n + "\", \"serial\": \"SN" +
                   n + "\", \"firmware\": \"1." + n + "\"},";
  }
  everyDevice += "\n  {\"device\": 1026, \"product\": \"" + std::string(300, 'P') +
                 "\", \"serial\": \"\", \"firmware\": \"\"}\n]\n";
  RunCases(
      {{.name = "four layouts",
        .args = {"-i"},
        .options = {.scenario = scenario},
        .out = "Device: 1\r\nProduct name: X1\r\nSerial number: 123\r\nFirmware version: 2.0\r\n" +
               kSeparator +
               "Device: 2\r\nProduct name: X1\r\nSerial number: 123\r\nFirmware version: \r\n" +
               kSeparator +
               "Device: 3\r\nProduct name: Cam\r\nSerial number: \r\nFirmware version: \r\n" +
               kSeparator +
               "Device: 4\r\nProduct name: A\r\nSerial number: \r\nFirmware version: \r\n" +
               kSeparator,
        .calls = {"tq_GetDeviceInfo(list, 0, &info) -> true"},
        .tail = "tq_GetDeviceInfo(list, 3, &info) -> true\ntq_ReleaseDevices(&list)\n",
        .absent = {"tq_OpenDevice"}},
       // Quotes, backslash, controls, UTF-8 and bytes that are none of it.
       {.name = "as JSON, every device, whole values",
        .args = {"-i", "--json"},
        .options = {.scenario = Devices(1025) + "[device]\ninfo = Product Name: " +
                                std::string(300, 'P') + "\\n\n"},
        .out = everyDevice,
        .tail = "tq_GetDeviceInfo(list, 1025, &info) -> true\ntq_ReleaseDevices(&list)\n"},
       {.name = "as JSON",
        .args = {"-i", "--json"},
        .options = {.scenario = R"([device]
info = Product Name: "q\\\t\x1b\xc2\x85µ\xff\xe2\x82\nSerial Number: 1\n
)",
                    .code = 0},
        .out = R"([
  {"device": 1, "product": "\"q\\\t\u001b\u0085µ\ufffd\ufffd\ufffd", "serial": "1", "firmware": ""}
]
)"}});
}

TEST_F(RunFlowTest, DeviceChoiceOpensClosesAndReleasesInOrder) {
  RunCases({
      {.name = "one device is opened without asking",
       .args = {"--export", "out.xml"},
       .out = "Export xml file succeeful\n",
       .tail = "tq_EnumDevices(&count, 7) -> list, count=1\n"
               "tq_OpenDevice(list, 0, 0) -> dev0\n"
               "tq_ReadDevCfgToXml(dev0, \"out.xml\") -> true\n"
               "tq_CloseDevice(&dev0) -> 1\n"
               "tq_ReleaseDevices(&list)\n"},
      {.name = "a failed open still closes and releases",
       .args = {"--export", "out.xml"},
       .options = {.scenario = "[device]\nopen = fail\n"},
       .out = "Failed to open the device\n",
       .tail = "tq_EnumDevices(&count, 7) -> list, count=1\n"
               "tq_OpenDevice(list, 0, 0) -> null\n"
               "tq_CloseDevice(&null) -> 0\n"
               "tq_ReleaseDevices(&list)\n"},
  });
}

TEST_F(RunFlowTest, SelectorsChooseOrRefuse) {
  const RunOptions three = {.input = "1\n", .scenario = Devices(3)};
  const std::string released = "tq_ReleaseDevices(&list)\n";
  const std::string controls = "\x1b]0;x\a\n" + std::string(4096, 'S');
  const std::string misplaced =
      "Option -sn must be the third argument: TolvarineCli {option} -sn serial\n";
  // Refused choices: nothing is opened, or (misplaced) nothing touched.
  const std::vector<std::tuple<std::vector<std::string>, std::string, int>> refusals = {
      {{"-sn", "DUP"}, "2 devices have serial number [DUP]\n", 3},
      {{"-sn"}, "no device []\n", 3},
      {{"-sn", ""}, "no device []\n", 3},
      {{"-sn", controls}, "no device [" + controls + "]\n", 3},
      {{"-vp", "0001:1001", "-sn", "DUP"}, misplaced, 2},
  };
  const std::string longSerial =
      "[device]\ninfo = Serial Number: " + std::string(130, 'L') + "\\n\n";
  std::vector<Case> cases;
  for (auto [args, out, code] : refusals) {
    args.insert(args.begin(), {"--export", "o.xml"});
    const std::string scenario = "[device]\ninfo = Serial Number: DUP\\n\n";
    cases.push_back({.name = out.substr(0, 24),
                     .args = args,
                     .options = {.scenario = scenario + scenario, .code = code},
                     .out = out,
                     .tail = code == 3 ? released : "",
                     .absent = {code == 3 ? "tq_OpenDevice" : "tq_"}});
  }
  RunCases(cases);
  RunCases({
      {.name = "serial number chooses",
       .args = {"--export", "o.xml", "-sn", "SN2"},
       .options = three,
       .out = "Export xml file succeeful\n",
       .tail =
           "tq_EnumDevices(&count, 7) -> list, count=3\ntq_GetDeviceInfo(list, 0, &info) -> true\n"
           "tq_GetDeviceInfo(list, 1, &info) -> true\ntq_GetDeviceInfo(list, 2, &info) -> true\n"
           "tq_OpenDevice(list, 1, 0) -> dev1\ntq_ReadDevCfgToXml(dev1, \"o.xml\") -> true\n"
           "tq_CloseDevice(&dev1) -> 1\ntq_ReleaseDevices(&list)\n"},
      {.name = "serial number of no device, one attached",
       .args = {"--firmware", "f.bin", "-sn", "SN2"},
       .options = {.scenario = Devices(1), .code = 3},
       .out = "no device [SN2]\n",
       .tail = released,
       .absent = {"tq_OpenDevice"}},
      // Every device is read, whole serial numbers compared.
      {.name = "serial number past the 1024th device",
       .args = {"--export", "o.xml", "-sn", "SN1050"},
       .options = {.scenario = Devices(1100)},
       .out = "Export xml file succeeful\n",
       .calls = {"tq_GetDeviceInfo(list, 1099, &info) -> true",
                 "tq_OpenDevice(list, 1049, 0) -> dev1049"},
       .tail = released},
      {.name = "duplicate past the 1024th device",
       .args = {"--firmware", "f.bin", "-sn", "SN1"},
       .options = {.scenario = Devices(1100) + Devices(1), .code = 3},
       .out = "2 devices have serial number [SN1]\n",
       .tail = released,
       .absent = {"tq_OpenDevice"}},
      {.name = "a prefix is no serial number",
       .args = {"--export", "o.xml", "-sn", std::string(127, 'L')},
       .options = {.scenario = longSerial, .code = 3},
       .out = "no device [" + std::string(127, 'L') + "]\n",
       .tail = released,
       .absent = {"tq_OpenDevice"}},
      {.name = "a long serial number chooses",
       .args = {"--export", "o.xml", "-sn", std::string(130, 'L')},
       .options = {.scenario = longSerial},
       .out = "Export xml file succeeful\n",
       .calls = {"tq_OpenDevice(list, 0, 0) -> dev0"}},
      // In JSON mode nothing is read from standard input: no menu.
      {.name = "several devices, no selector",
       .args = {"--export", "o.xml"},
       .options = three,
       .out = "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\n"
              "3. Unit3 SN:SN3 Fireware Ver:1.3\r\nSelect=Export xml file succeeful\n",
       .json = ResultLine("\"--export\"",
                          "\"device\": null, \"outcome\": \"refused\", "
                          "\"status\": 2, \"message\": \"several devices: "
                          "choose one with -sn or -vp\", \"error\": null")},
      {.name = "-sn second",
       .args = {"--export", "-sn", "SN1"},
       .options = {.code = 2},
       .out = misplaced,
       .absent = {"tq_"}},
      {.name = "VID first, then PID",
       .args = {"--export", "o.xml", "-vp", "0002:1002"},
       .options = three,
       .out = "pid:1002,vid:0002.\r\nExport xml file succeeful\n",
       .calls = {"tq_FindDeviceIndexByPIDVID(list, \"0002\", \"1002\") -> 1",
                 "tq_OpenDevice(list, 1, 0) -> dev1"},
       .tail = released},
      {.name = "characters after the PID",
       .args = {"--export", "o.xml", "-vp", "0003-1003-extra"},
       .options = three,
       .out = "pid:1003,vid:0003.\r\nExport xml file succeeful\n",
       .calls = {"tq_OpenDevice(list, 2, 0) -> dev2"},
       .tail = released},
      {.name = "no such device",
       .args = {"--export", "o.xml", "-vp", "1a2b:3c4d"},
       .options = three,
       .out = "pid:3c4d,vid:1a2b.\r\nno device [1a2b:3c4d]\n",
       .calls = {"tq_FindDeviceIndexByPIDVID(list, \"1a2b\", \"3c4d\") -> -1"},
       .tail = released,
       .absent = {"tq_OpenDevice"}},
      {.name = "short selector",
       .args = {"--export", "o.xml", "-vp", "0002:100"},
       .options = three,
       .out = "no device [0002:100]\n",
       .tail = released,
       .absent = {"tq_OpenDevice", "tq_FindDeviceIndexByPIDVID"}},
      {.name = "no selector",
       .args = {"--export", "o.xml", "-vp"},
       .options = three,
       .out = "no device []\n",
       .tail = released,
       .absent = {"tq_OpenDevice", "tq_FindDeviceIndexByPIDVID"}},
      {.name = "empty selector",
       .args = {"--export", "o.xml", "-vp", ""},
       .options = three,
       .out = "no device []\n",
       .tail = released,
       .absent = {"tq_OpenDevice", "tq_FindDeviceIndexByPIDVID"}},
      // A missing lookup never falls back to the first device.
      {.name = "lookup missing from the library",
       .args = {"--export", "o.xml", "-vp", "0002:1002"},
       .options = {.scenario = Devices(2), .library = Library::kLean, .mergeStreams = true},
       .out =
           "pid:1002,vid:0002.\r\n./Tolvarine.so: undefined symbol: tq_FindDeviceIndexByPIDVID\nno "
           "device [0002:1002]\n",
       .tail = released,
       .absent = {"tq_OpenDevice"}},
  });
}

TEST_F(RunFlowTest, InteractiveChoiceReadsAnIntegerAsPercentI) {
  const std::vector<std::pair<std::string, int>> answers = {
      {"2\n", 1},    {"0x2\n", 1},         {"  +3\n", 2},         {"03", 2},     {"0X1x", 0},
      {"0\n", -1},   {"4\n", -1},          {"-1\n", -1},          {"abc\n", -1}, {"", -1},
      {"010\n", -1}, {"4294967298\n", -1}, {"-4294967295\n", -1}, {"0x\n", -1},
  };
  const std::string menu =
      "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\n"
      "3. Unit3 SN:SN3 Fireware Ver:1.3\r\nSelect=";
  std::vector<Case> cases;
  for (const auto& [input, index] : answers) {
    const RunOptions options = {.input = input, .scenario = Devices(3), .code = index < 0 ? 3 : 0};
    if (index < 0) {
      cases.push_back({.name = "answer " + input,
                       .args = {"--export", "o.xml"},
                       .options = options,
                       .out = menu + "No Device Selected\r\n",
                       .tail = "tq_ReleaseDevices(&list)\n",
                       .absent = {"tq_OpenDevice"}});
    } else {
      const std::string n = std::to_string(index);
      cases.push_back({.name = "answer " + input,
                       .args = {"--export", "o.xml"},
                       .options = options,
                       .out = menu + "Export xml file succeeful\n",
                       .calls = {"tq_OpenDevice(list, " + n + ", 0) -> dev" + n},
                       .tail = "tq_ReleaseDevices(&list)\n"});
    }
  }
  RunCases(cases);
}

TEST_F(RunFlowTest, OutputKeepsItsOrder) {
  RunCases({
      // The settings file is missing: its error comes between the two traces.
      {.name = "missing settings file",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.mergeStreams = true},
       .out = std::string(kRequest) +
              "Error opening file: No such file or directory\nResponse:06 0D \n"},
      // As from a script that waits for the prompt to answer it.
      {.name = "prompt shown before the answer is read",
       .args = {"--export", "o.xml"},
       .options = {.input = "2\n", .answerAfter = "Select=", .scenario = Devices(2)},
       .out = "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\nSelect="
              "Export xml file succeeful\n"},
  });
}

// One process per device: a run holding serial SN2 (here the test itself)
// makes another one for SN2 busy; other serials go on beside it.
TEST_F(RunFlowTest, ASerialNumberIsLockedForOneRun) {
  const int holder = open((dir_ + "/TolvarineCli-sn-SN2.lock").c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  const std::string inUse = "device [SN2] is in use by another TolvarineCli";
  RunCases({
      {.name = "held by another run",
       .args = {"--export", "o.xml", "-sn", "SN2"},
       .options = {.scenario = Devices(3), .code = 5},
       .out = inUse + "\n",
       .absent = {"tq_OpenDevice"},
       .json = ResultLine("\"--export\"",
                          "\"device\": {\"device\": 2, \"product\": \"Unit2\", \"serial\": "
                          "\"SN2\", \"firmware\": \"1.2\"}, \"outcome\": \"busy\", \"status\": "
                          "5, \"message\": \"" +
                              inUse + "\", \"error\": null")},
      {.name = "another serial beside it",
       .args = {"--export", "o.xml", "-sn", "SN1"},
       .options = {.scenario = Devices(3), .code = 0},
       .out = "Export xml file succeeful\n",
       .calls = {"tq_OpenDevice(list, 0, 0) -> dev0"}},
      {.name = "no lock to be had: said, and the run goes on",
       .args = {"--export", "o.xml", "-sn", "SN1"},
       .options = {.scenario = Devices(3),
                   .err = "TolvarineCli: cannot lock the device with serial number [SN1] "
                          "(/nonexistent/TolvarineCli-sn-SN1.lock: No such file or directory); "
                          "going on without the lock\n",
                   .env = {"TOLVARINE_LOCK_DIR=/nonexistent"}},
       .out = "Export xml file succeeful\n"},
  });
  close(holder);
}

}  // namespace
