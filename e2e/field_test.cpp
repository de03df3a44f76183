// A misbehaving library, hostile input and the field: signals, crashes,
// closed or failing streams, odd files, a library others could replace.
// The tool stays within its buffers, prints the agreed message, never acts
// on a device the user did not choose, and ends with status 0 unless a
// signal ended it. Run under the sanitizers and valgrind too.
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

class FieldTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("setting.ini", "readtimeout=2000\n");
    WriteFile("fw.bin", "firmware image");
    WriteFile("cfg.xml", "<configuration/>");
  }
  // Puts a folder or a FIFO where the tool expects a file.
  std::function<void()> Folder(const std::string& name) {
    return [this, name] {
      fs::remove_all(dir_ + "/" + name);
      fs::create_directory(dir_ + "/" + name);
    };
  }
  std::function<void()> Fifo(const std::string& name) {
    return [this, name] {
      fs::remove_all(dir_ + "/" + name);
      ASSERT_EQ(mkfifo((dir_ + "/" + name).c_str(), 0644), 0);
    };
  }
};

const std::string kInfo = "info = Product Name: P\\nSerial Number: S\\nFirmware Version: F\\n\n";
const std::string kReleased = "tq_CloseDevice(&dev0) -> 1\ntq_ReleaseDevices(&list)\n";
const std::string kUpdated =
    "tq_UpdateKernelDevice(dev0, \"fw.bin\", 0, &status) -> 1, status=0\n" + kReleased;
const std::string kMisplaced =
    "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid\n";
const std::vector<std::string> kNoWrite = {"tq_Write("};

std::string Listing(int count) {
  std::string out = "Device: 1\r\nProduct name: P\r\nSerial number: S\r\nFirmware version: F\r\n";
  for (int i = 2; i <= count; ++i) {
    out += "/*************************************/\r\nDevice: " + std::to_string(i) +
           "\r\nProduct name: \r\nSerial number: \r\nFirmware version: \r\n";
  }
  return out + "/*************************************/\r\n";
}

TEST_F(FieldTest, MisbehavingLibraryAndHostileInput) {
  const std::string longValue(200, 'v');
  const std::string huge(100000, 'A');
  const std::string released = "tq_ReleaseDevices(&list)\n";
  // A long command is framed whole.
  const RunResult r = Run({"--execute", huge});
  EXPECT_EQ(r.out.size(), 8 + (huge.size() + 9) * 3 + 1 + 13);
  RunCases({
      {.name = "info without NUL",
       .args = {"-i"},
       .options = {.scenario = "[device]\ninfo = Product Name: " + longValue +
                               "\\n\ninfo.unterminated = yes\n"},
       .out = "Device: 1\r\nProduct name: " + std::string(127, 'v') +
              "\r\nSerial number: \r\nFirmware version: "
              "\r\n/*************************************/\r\n",
       .tail = released},
      {.name = "info call fails",
       .args = {"-i"},
       .options = {.scenario = "[device]\n" + kInfo + "getinfo = fail\n"},
       .out = "Device: 1\r\nProduct name: \r\nSerial number: \r\nFirmware version: \r\n"
              "/*************************************/\r\n",
       .tail = released},
      {.name = "count without list",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "list = null\n[device]\n" + kInfo},
       .out = "No device found\n",
       .tail = "tq_ReleaseDevices(&null)\n",
       .absent = kNoWrite},
      {.name = "count beyond the list",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.input = "2\n", .scenario = "count = 2\n[device]\n" + kInfo, .code = 1},
       .out = "1. P SN:S Fireware Ver:F\r\n2.  SN: Fireware Ver:\r\nSelect=Failed to open the "
              "device\n",
       .tail = "tq_CloseDevice(&null) -> 0\n" + released,
       .absent = kNoWrite},
      {.name = "billions of devices",
       .args = {"-i"},
       .options =
           {.scenario = "count = 4294967295\n[device]\n" + kInfo,
            .err =
                "TolvarineCli: the device library reports 4294967295 devices; only the first 1024 "
                "are shown\n"},
       .out = Listing(1024),
       .tail = "tq_GetDeviceInfo(list, 1023, &info) -> false\n" + released},
      {.name = "null last error",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "lasterror = null\n[device]\nimport = fail x\n"},
       .tail = "tq_GetLastError() -> null\n" + kReleased},
      {.name = "directives in info",
       .args = {"-i"},
       .options = {.scenario = "[device]\ninfo = Product Name: %s%n%x\\n\n"},
       .out = "Device: 1\r\nProduct name: %s%n%x\r\nSerial number: \r\nFirmware version: \r\n"
              "/*************************************/\r\n"},
      {.name = "directives in last error",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "[device]\nimport = fail %s%n%x%p\n"},
       .out = "%s%n%x%p",
       .tail = "tq_GetLastError() -> \"%s%n%x%p\"\n" + kReleased},
      {.name = "directives in selector",
       .args = {"--execute", "RRDDUR2000", "-vp", "%s%n%x%n%n"},
       .options = {.scenario = Devices(2)},
       .out = "pid:x%n%,vid:%s%n.\r\nno device [%s%n%x%n%n]\n",
       .tail = released,
       .absent = kNoWrite},
      {.name = "-vp as the command",
       .args = {"--execute", "-vp", "1a2b:3c4d", "RDVER"},
       .options = {.code = 2},
       .out = kMisplaced,
       .absent = {"tq_"}},
      {.name = "-vp as the file",
       .args = {"--export", "-vp", "1a2b:3c4d"},
       .out = kMisplaced,
       .absent = {"tq_"}},
      {.name = "-vp after the payload",
       .args = {"--execute", "--custom", "--prefix", "7b3e", "RDVER", "-vp", "1a2b:0003"},
       .out = kMisplaced,
       .absent = {"tq_"}},
      {.name = "-vp third, with --custom",
       .args = {"--execute", "--custom", "-vp", "1a2b:3c4d", "--prefix", "7b3e", "RDVER"},
       .options = {.scenario = "[device]\nslave = 7b3e - -\n"},
       .out = "pid:3c4d,vid:1a2b.\r\nprefix=7b3e, surfix=, lenType=\n"
              "Request:7B 3E 7E 01 30 30 30 30 40 52 44 56 45 52 3B 03 \nResponse:15 \n",
       .tail = kReleased},
      {.name = "-sn third, with --custom",
       .args = {"--execute", "--custom", "-sn", "S", "--prefix", "7b3e", "RDVER"},
       .options = {.scenario = "[device]\n" + kInfo + "slave = 7b3e - -\n"},
       .out = "prefix=7b3e, surfix=, lenType=\n"
              "Request:7B 3E 7E 01 30 30 30 30 40 52 44 56 45 52 3B 03 \nResponse:15 \n",
       .calls = {"tq_GetDeviceInfo(list, 0, &info) -> true"},
       .tail = kReleased},
      {.name = "huge prefix",
       .args = {"--execute", "--custom", "--prefix", huge, "RRDDUR2000"},
       .out = "The value of [--prefix] is too long\n",
       .tail = kReleased,
       .absent = kNoWrite},
      {.name = "huge suffix",
       .args = {"--execute", "--custom", "--surfix", "00" + huge, "RRDDUR2000"},
       .out = "The value of [--suffix] is too long\n",
       .tail = kReleased,
       .absent = kNoWrite},
      {.name = "huge length type",
       .args = {"--execute", "--custom", "--len", huge, "RRDDUR2000"},
       .out = "The value of [--len] is too long\n",
       .tail = kReleased,
       .absent = kNoWrite},
      {.name = "huge prefix for an import",
       .args = {"--import", "--custom", "--prefix", huge, "cfg.xml"},
       .out = "The value of [--prefix] is too long\n",
       .tail = kReleased,
       .absent = {"tq_WriteCfgToSlaveDev"}},
      {.name = "unsaved picture",
       .args = {"--Gpic"},
       .out = "Failed to save image file test.bmp\n",
       .tail = "tq_SavePicDataToFile(\"test.bmp\", buffer, 640, 480, 8) -> false\n" + kReleased,
       .setup = Folder("test.bmp")},
      // Last: they leave no readable settings file behind.
      {.name = "settings file is a folder",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.err = "Error opening file: Is a directory\n"},
       .out = std::string(kRequest) + "Response:06 0D \n",
       .calls = {"tq_Read(dev0, 10485760, 2000) -> 2"},
       .tail = kReleased,
       .setup = Folder("setting.ini")},
      {.name = "settings file is a FIFO",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.err = "Error opening file: Invalid argument\n"},
       .out = std::string(kRequest) + "Response:06 0D \n",
       .calls = {"tq_Read(dev0, 10485760, 2000) -> 2"},
       .tail = kReleased,
       .setup = Fifo("setting.ini")},
  });
}

const std::string kMenu =
    "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\nSelect=";
const std::string kFirmwareNotice =
    "TolvarineCli: the firmware update is in progress and will finish before the tool stops\n";
const std::string kConfigurationNotice =
    "TolvarineCli: the configuration write is in progress and will finish before the tool "
    "stops\n";
const std::string kHung =
    "TolvarineCli: the device library did not return; ending without closing the device\n";
const std::string kHungRead = "slow tq_Read = forever\n[device]\nsilent = yes\n";
const std::string kFrameHex = "7e013030303040525244445552323030303b03";

// Each group of field cases is a test of its own, so that ctest runs them
// side by side: most of their time is spent waiting.
TEST_F(FieldTest, HeldFirmwareUpdate) {
  RunCases({
      // Past the two seconds an interrupt gives a hung library call.
      {.name = "interrupts during a firmware update",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "slow tq_UpdateKernelDevice = 3000\n[device]\n",
                   .status = 128 + SIGTERM,
                   .err = kFirmwareNotice,
                   .interrupt = {SIGTERM, "tq_UpdateKernelDevice waits", 2}},
       .out = "updateError=0,succeed in updating the firmware \n",
       .tail = kUpdated},
  });
}

TEST_F(FieldTest, HeldConfigurationWrites) {
  RunCases({
      {.name = "interrupt during a configuration write",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "slow tq_WriteCfgToDev = 1000\n[device]\n",
                   .status = 128 + SIGHUP,
                   .err = kConfigurationNotice,
                   .interrupt = {SIGHUP, "tq_WriteCfgToDev waits"}},
       .out = "Write configure to device successful.\n",
       .tail = "tq_WriteCfgToDev(dev0, \"cfg.xml\", 2000) -> true\n" + kReleased},
      {.name = "interrupt during a slave configuration write",
       .args = {"--import", "--custom", "--len", "1", "cfg.xml"},
       .options = {.scenario = "slow tq_WriteCfgToSlaveDev = 1000\n[device]\nslave = - 1 -\n",
                   .status = 128 + SIGQUIT,
                   .err = kConfigurationNotice,
                   .interrupt = {SIGQUIT, "tq_WriteCfgToSlaveDev waits"}},
       .out = "Write configure to device successful.\n",
       .tail = "tq_WriteCfgToSlaveDev(dev0, \"\", \"\", \"1\", \"cfg.xml\", 2000) -> true\n" +
               kReleased},
      // Standard error full: the notice is dropped, the write and the end
      // do not wait for it.
      {.name = "interrupt during a write, standard error full",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "slow tq_WriteCfgToDev = 1000\n[device]\n",
                   .status = 128 + SIGTERM,
                   .interrupt = {SIGTERM, "tq_WriteCfgToDev waits"},
                   .stalled = {2}},
       .out = "Write configure to device successful.\n",
       .tail = "tq_WriteCfgToDev(dev0, \"cfg.xml\", 2000) -> true\n" + kReleased},
  });
}

// A held write that finished keeps its outcome and names the signal; a
// write lasting over a second reports its progress.
TEST_F(FieldTest, HeldWriteAsJson) {
  RunCases({
      {.name = "interrupt during a firmware update",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "slow tq_UpdateKernelDevice = 1500\n[device]\n",
                   .status = 128 + SIGINT,
                   .err = kFirmwareNotice,
                   .interrupt = {SIGINT, "tq_UpdateKernelDevice waits"}},
       .out = "updateError=0,succeed in updating the firmware \n",
       .tail = kUpdated,
       .json = "{\"type\": \"progress\", \"command\": \"--firmware\", \"seconds\": 1}\n" +
               ResultLine("\"--firmware\"",
                          "\"device\": {\"device\": 1, \"product\": \"\", \"serial\": \"\", "
                          "\"firmware\": \"\"}, \"outcome\": \"done\", \"status\": 130, "
                          "\"message\": \"updateError=0,succeed in updating the firmware \", "
                          "\"error\": null, \"file\": \"fw.bin\", \"updateError\": 0, "
                          "\"signal\": \"SIGINT\"")},
  });
}

// A stop comes after the write's outcome is printed (the harness checks
// the output at the stop); a library thread does not take it.
TEST_F(FieldTest, StopsWaitForTheOutcome) {
  RunCases({
      {.name = "Ctrl-Z during a firmware update",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "thread = yes\nslow tq_UpdateKernelDevice = 1000\n[device]\n",
                   .err = kFirmwareNotice,
                   .interrupt = {SIGTSTP, "tq_UpdateKernelDevice waits"}},
       .out = "updateError=0,succeed in updating the firmware \n",
       .tail = "tq_UpdateKernelDevice(dev0, \"fw.bin\", 0, &status) -> 1, status=0\n(stopped)\n" +
               kReleased},
      {.name = "background configuration write",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "slow tq_WriteCfgToDev = 1000\n[device]\n",
                   .err = kConfigurationNotice,
                   .interrupt = {SIGTTOU, "tq_WriteCfgToDev waits"}},
       .out = "Write configure to device successful.\n",
       .tail = "tq_WriteCfgToDev(dev0, \"cfg.xml\", 2000) -> true\n(stopped)\n" + kReleased},
  });
}

TEST_F(FieldTest, ProgressOnATerminal) {
  RunCases({
      {.name = "firmware update on a terminal",
       .args = {"--firmware", "fw.bin"},
       .options = {.scenario = "slow tq_UpdateKernelDevice = 2500\n[device]\n",
                   .err = "\rUpdating firmware, do not unplug the device... 1 s"
                          "\rUpdating firmware, do not unplug the device... 2 s\r\n"
                          "updateError=0,succeed in updating the firmware \r\n",
                   .terminal = true},
       .tail = kUpdated},
  });
}

TEST_F(FieldTest, InterruptsOutsideWrites) {
  RunCases({
      // The read in progress returns; what came until then is printed.
      {.name = "interrupt in the read loop",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "slow tq_Read = 1500\n[device]\nanswer RRDDUR2000 = 06 0D\n",
                   .status = 128 + SIGINT,
                   .interrupt = {SIGINT, "tq_Read waits"}},
       .out = std::string(kRequest) + "Response:06 0D \n",
       .calls =  // The read gives up (under valgrind its wait may run out instead).
       {"tq_Read(dev0, 10485760, 2000) -> 2", "tq_Read waits 1500 ms"},
       .tail = kReleased},
      {.name = "interrupt at the prompt",
       .args = {"--export", "o.xml"},
       .options = {.scenario = Devices(2),
                   .status = 128 + SIGINT,
                   .interrupt = {SIGINT, "Select="}},
       .out = kMenu,
       .tail = "tq_GetDeviceInfo(list, 1, &info) -> true\ntq_ReleaseDevices(&list)\n",
       .absent = {"tq_OpenDevice"}},
      {.name = "second interrupt in a call that never returns",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = kHungRead,
                   .status = 128 + SIGINT,
                   .interrupt = {SIGINT, "tq_Read waits", 2, 300}},
       .out = kRequest,
       .tail = "tq_Read waits forever\n"},
      // The trace blocked by a reader that takes nothing: dropped after
      // the time limit, and the device is still closed.
      {.name = "interrupt while the output is blocked",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.status = 128 + SIGTERM,
                   .interrupt = {SIGTERM, "tq_OpenDevice"},
                   .stalled = {1}},
       .tail = kReleased},
  });
}

TEST_F(FieldTest, HungRead) {
  RunCases({
      // Ended from the time limit's handler, the run still gives its result.
      {.name = "hung read",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = kHungRead,
                   .status = 128 + SIGTERM,
                   .err = kHung,
                   .interrupt = {SIGTERM, "tq_Read waits"}},
       .out = kRequest,
       .tail = "tq_Read waits forever\n",
       .json = ResultLine("\"--execute\"",
                          "\"device\": {\"device\": 1, \"product\": \"\", \"serial\": \"\", "
                          "\"firmware\": \"\"}, \"outcome\": \"interrupted\", \"status\": 143, "
                          "\"message\": \"\", \"error\": null, \"request\": \"" +
                              kFrameHex + "\", \"response\": null")},
  });
}

TEST_F(FieldTest, HungLibrary) {
  RunCases({
      // timeout(1) signals the tool, then its process group: one interrupt.
      {.name = "hung read, signal repeated at once",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = kHungRead,
                   .status = 128 + SIGTERM,
                   .err = kHung,
                   .interrupt = {SIGTERM, "tq_Read waits", 2}},
       .out = kRequest,
       .tail = "tq_Read waits forever\n"},
  });
}

TEST_F(FieldTest, HungCloseOrClaimedSignals) {
  RunCases({
      {.name = "hung close after an interrupt",
       .args = {"--execute", "RRDDUR2000"},
       .options =
           {.scenario =
                "slow tq_Read = 1500\nslow tq_CloseDevice = forever\n[device]\nsilent = yes\n",
            .status = 128 + SIGHUP,
            .err = kHung,
            .interrupt = {SIGHUP, "tq_Read waits"}},
       .out = kRequest,
       .tail = "tq_CloseDevice waits forever\n"},
      // A library that takes the signals for itself when loaded.
      {.name = "hung read, signals claimed by the library",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "signals = claim\n" + kHungRead,
                   .status = 128 + SIGTERM,
                   .err = kHung,
                   .interrupt = {SIGTERM, "tq_Read waits"}},
       .out = kRequest,
       .tail = "tq_Read waits forever\n"},
  });
}

TEST_F(FieldTest, CrashesStreamsAndTerminals) {
  RunCases({
      {.name = "device texts on a terminal",
       .args = {"-i"},
       .options =
           {.scenario =
                "[device]\ninfo = Product Name: A\\x1b]0;T\\x07\\rB\\x7f\\xc2\\x9b\\x9b\\tµ扫\\n\n",
            .err =
                "Device: 1\r\r\nProduct name: A\\x1b]0;T\\x07\\x0dB\\x7f\\xc2\\x9b\\x9b\tµ扫\r\r\n"
                "Serial number: \r\r\nFirmware version: \r\r\n"
                "/*************************************/\r\r\n",
            .terminal = true}},
      {.name = "library text on a terminal",
       .args = {"--import", "cfg.xml"},
       .options = {.scenario = "[device]\nimport = fail \x1b[2Jgone\n",
                   .err = "\\x1b[2Jgone",
                   .terminal = true}},
      {.name = "crash in a call",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "crash = tq_Read\n[device]\n", .status = 128 + SIGABRT},
       .out = kRequest,
       .tail = "tq_Read crashes\n"},
      {.name = "crash at unload",
       .args = {"-i"},
       .options = {.scenario = "crash = unload\n[device]\n" + kInfo, .status = 128 + SIGABRT},
       .out = Listing(1),
       .tail = "tq_ReleaseDevices(&list)\nunload crashes\n"},
      // A journal kept open by the library takes descriptor 1 or 2 if the
      // tool leaves it closed: then the trace or the loader text would end up in it.
      {.name = "closed standard output",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.closed = {1}},
       .tail = "tq_Read(dev0, 10485758, 200) -> 0\n" + kReleased},
      {.name = "closed standard error",
       .args = {"--import", "missing.xml"},
       .options = {.library = Library::kLean, .closed = {2}},
       .tail = "tq_WriteCfgToDev(dev0, \"missing.xml\", 2000) -> false\n" + kReleased},
      // A device outcome stays; a listing not written is no listing.
      {.name = "output to a full disk",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.err = "TolvarineCli: cannot write output: No space left on device\n",
                   .outputFile = "/dev/full",
                   .code = 0},
       .tail = kReleased},
      {.name = "listing to a full disk",
       .args = {"-i"},
       .options = {.err = "TolvarineCli: cannot write output: No space left on device\n",
                   .outputFile = "/dev/full",
                   .code = 1}},
      {.name = "reader goes away",
       .args = {"--execute", "BIG"},
       .options = {.scenario = "[device]\nanswer BIG = fill 1000000 in 65536\n",
                   .readerTakes = 10,
                   .code = 0},
       .out = "Request:7E",
       .tail = kReleased},
  });
}

// The trace holds every call of the journal, in order, with its result;
// a call that hangs shows by its start line.
TEST_F(FieldTest, TraceShowsEveryLibraryCall) {
  const std::string trace = "TOLVARINE_TRACE=" + dir_ + "/.trace";
  const auto names = [](const std::string& text, const std::string& before) {
    std::vector<std::string> found;
    const std::regex call(before + "(tq_[A-Za-z]+)[( ]");
    for (std::sregex_iterator at(text.begin(), text.end(), call), end; at != end; ++at) {
      found.push_back((*at)[1]);
    }
    return found;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"--firmware", "fw.bin"}, "return tq_UpdateKernelDevice -> 1, 0 ("},
      {{"--execute", "RRDDUR2000"}, "return tq_Read -> 2, bytes[2] 060d ("},
  };
  for (const auto& [args, result] : runs) {
    fs::remove(dir_ + "/.trace");
    const RunResult r = Run(args, {.env = {trace}});
    const std::string traced = ReadFile(".trace");
    EXPECT_EQ(names(r.journal, "(?:^|\n)"), names(traced, " return ")) << traced;
    EXPECT_NE(traced.find(result), std::string::npos) << traced;
  }
  fs::remove(dir_ + "/.trace");
  Run({"--execute", "RRDDUR2000"}, {.scenario = kHungRead,
                                    .status = 128 + SIGTERM,
                                    .err = kHung,
                                    .interrupt = {SIGTERM, "tq_Read waits"},
                                    .env = {trace}});
  EXPECT_TRUE(std::regex_search(ReadFile(".trace"),
                                std::regex(" call tq_Read\\(D1, &, 10485760, 2000\\)\n$")))
      << ReadFile(".trace");
}

// Runs appending their results to one file in parallel: each a whole line.
TEST_F(FieldTest, ParallelResultsAreWholeLines) {
  std::string scenario;
  for (int i = 0; i < 8; ++i) {
    scenario += "[device]\ninfo = Serial Number: S" + std::to_string(i) +
                "\\n\nanswer BIG = fill 300000 in 65536\n";
  }
  WriteFile("big.sim", scenario);
  Run({"--version"});  // puts the library in place
  const std::string runs = "cd " + dir_ + " && seq 0 7 | TOLVARINE_JSON=1 TOLVARINE_SIM=big.sim " +
                           "TOLVARINE_SIM_STATE=. TOLVARINE_LOCK_DIR=. xargs -P 8 -I @ " +
                           TOOL_BINARY + " --execute BIG -sn S@ >>results.jsonl";
  ASSERT_EQ(std::system(runs.c_str()), 0);
  std::istringstream lines(ReadFile("results.jsonl"));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(line.starts_with("{\"type\": \"result\"") && line.ends_with("}") &&
                line.find("\"outcome\": \"done\"") != line.npos && line.size() > 600000)
        << line.substr(0, 200);
  }
  EXPECT_EQ(count, 8);
}

// A library that another user could have put in place is never run, even
// for --help: a root run in a shared folder would run their code.
TEST_F(FieldTest, LibraryOthersCouldReplaceIsNotLoaded) {
  using fs::perms;
  static constexpr perms normal = perms::owner_all | perms::group_read | perms::group_exec |
                                  perms::others_read | perms::others_exec;
  static constexpr perms open = normal | perms::others_write;
  // Places a copy of the library (behind a link when `link` is given), the
  // copy and the folder lib/ owned by `owner` and `libOwner`.
  const auto place = [this](std::string link, perms library, perms folder, uid_t owner = 0,
                            uid_t libOwner = 0) {
    return [=, this] {
      for (const char* sub : {"lib", "drop/sub"}) fs::create_directories(dir_ + "/" + sub);
      fs::permissions(dir_ + "/lib", normal);
      fs::permissions(dir_ + "/drop", open);
      fs::remove(dir_ + "/Tolvarine.so");
      const std::string copy = dir_ + "/" + (link.empty() ? "Tolvarine.so" : link);
      fs::copy_file(SIM_LIBRARY, copy, fs::copy_options::overwrite_existing);
      fs::permissions(copy, library);
      if (!link.empty()) fs::create_symlink(link, dir_ + "/Tolvarine.so");
      fs::permissions(dir_, folder);
      ASSERT_EQ(chown(copy.c_str(), owner, -1) + chown((dir_ + "/lib").c_str(), libOwner, -1), 0);
    };
  };
  const auto refused = [](const std::string& what,
                          const std::string& why = " is writable by other users") {
    return RunOptions{.library = Library::kPlaced,
                      .err = "Refusing to load ./Tolvarine.so: " + what + why + "\n",
                      .code = 4};
  };
  const RunOptions loads = {.library = Library::kPlaced};
  // Only root can give a file to another user.
  if (geteuid() == 0) {
    const std::string nobody = " is owned by user nobody (65534)";
    RunCases({
        {.name = "file of another user",
         .args = {"--help"},
         .options = refused(dir_ + "/lib/Tolvarine.so", nobody),
         .setup = place("lib/Tolvarine.so", normal, perms::owner_all, 65534)},
        {.name = "folder of another user",
         .args = {"--help"},
         .options = refused("folder " + dir_ + "/lib", nobody),
         .setup = place("lib/Tolvarine.so", normal, perms::owner_all, 0, 65534)},
        {.name = "folder of the user sudo runs for",
         .args = {"--help"},
         .options = {.library = Library::kPlaced, .env = {"SUDO_UID=65534"}},
         .out = kUsage,
         .setup = place("lib/Tolvarine.so", normal, perms::owner_all, 0, 65534)},
    });
  }
  RunCases({
      {.name = "normal folder",
       .args = {"--help"},
       .options = loads,
       .out = kUsage,
       .setup = place("", normal, perms::owner_all)},
      {.name = "group-writable file",
       .args = {"--help"},
       .options = loads,
       .out = kUsage,
       .setup = place("", normal | perms::group_write, perms::owner_all)},
      {.name = "world-writable file",
       .args = {"--help"},
       .options = refused(dir_ + "/Tolvarine.so"),
       .setup = place("", open, perms::owner_all)},
      {.name = "world-writable folder",
       .args = {"--help"},
       .options = refused("folder " + dir_),
       .setup = place("", normal, open)},
      {.name = "sticky world-writable folder, own file",
       .args = {"--help"},
       .options = loads,
       .out = kUsage,
       .setup = place("", normal, open | perms::sticky_bit)},
      {.name = "link to a world-writable file",
       .args = {"--help"},
       .options = refused(dir_ + "/lib/Tolvarine.so"),
       .setup = place("lib/Tolvarine.so", open, perms::owner_all)},
      {.name = "link into a world-writable folder",
       .args = {"--help"},
       .options = refused("folder " + dir_ + "/drop"),
       .setup = place("drop/Tolvarine.so", normal, perms::owner_all)},
      {.name = "link into a folder of a world-writable folder",
       .args = {"--help"},
       .options = refused("folder " + dir_ + "/drop"),
       .setup = place("drop/sub/Tolvarine.so", normal, perms::owner_all)},
  });
}

}  // namespace
