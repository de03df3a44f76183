// A misbehaving device library and hostile input: the tool stays within its
// buffers, prints the agreed message, exits 0 and never acts on a device the
// user did not choose. Run under the sanitizer build by `make sanitize`.
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/e2e_test_harness.h"

namespace {

namespace fs = std::filesystem;
using HardeningTest = ToolTest;

const std::string kRequest = "Request:7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 \n";
const std::string kInfo = "info = Product Name: P\\nSerial Number: S\\nFirmware Version: F\\n\n";
const std::string kReleased = "tq_CloseDevice(&dev0) -> 1\ntq_ReleaseDevices(&list)\n";
const std::string kUpdated = "tq_UpdateKernelDevice(dev0, \"fw.bin\", 0, &status) -> 1, status=0\n" + kReleased;
const std::string kFirmwareNotice =
    "TolvarineCli: the firmware update is in progress and will finish before the tool stops\n";
const std::string kConfigurationNotice =
    "TolvarineCli: the configuration write is in progress and will finish before the tool stops\n";

struct FieldCase {
  std::string name;
  std::vector<std::string> args;
  RunOptions options;
  std::string out;  // exact standard output
  std::string err;  // exact standard error
  std::string tail = "tq_ReleaseDevices(&list)\n";  // how the journal ends
  bool writes = false;    // whether anything may reach tq_Write
  std::string directory;  // a folder made in place of this file
  std::string fifo;       // a FIFO made in place of this file
};

std::string Listing(int count) {
  std::string out = "Device: 1\r\nProduct name: P\r\nSerial number: S\r\nFirmware version: F\r\n";
  for (int i = 2; i <= count; ++i) {
    out += "/*************************************/\r\nDevice: " + std::to_string(i) +
           "\r\nProduct name: \r\nSerial number: \r\nFirmware version: \r\n";
  }
  return out + "/*************************************/\r\n";
}

// A misbehaving library, hostile input and the field: signals, crashes,
// closed or failing streams, odd files. The tool stays within its buffers,
// prints the agreed message, never acts on a device the user did not
// choose, and ends with status 0 unless a signal ended it.
TEST_F(HardeningTest, MisbehavingLibraryAndField) {
  WriteFile("fw.bin", "firmware image");
  WriteFile("cfg.xml", "<configuration/>");
  const std::string longValue(200, 'v');
  const std::string menu = "1. Unit1 SN:SN1 Fireware Ver:1.1\r\n2. Unit2 SN:SN2 Fireware Ver:1.2\r\nSelect=";
  const std::vector<FieldCase> cases = {
      {"info without NUL", {"-i"},
       {.scenario = "[device]\ninfo = Product Name: " + longValue + "\\n\ninfo.unterminated = yes\n"},
       "Device: 1\r\nProduct name: " + std::string(127, 'v') +
           "\r\nSerial number: \r\nFirmware version: \r\n/*************************************/\r\n"},
      {"info call fails", {"-i"}, {.scenario = "[device]\n" + kInfo + "getinfo = fail\n"},
       "Device: 1\r\nProduct name: \r\nSerial number: \r\nFirmware version: \r\n"
       "/*************************************/\r\n"},
      {"count without list", {"--execute", "RRDDUR2000"}, {.scenario = "list = null\n[device]\n" + kInfo},
       "No device found\n", "", "tq_ReleaseDevices(&null)\n"},
      {"count beyond the list", {"--execute", "RRDDUR2000"},
       {.input = "2\n", .scenario = "count = 2\n[device]\n" + kInfo},
       "1. P SN:S Fireware Ver:F\r\n2.  SN: Fireware Ver:\r\nSelect=Failed to open the device\n", "",
       "tq_CloseDevice(&null) -> 0\ntq_ReleaseDevices(&list)\n"},
      {"open fails", {"--execute", "RRDDUR2000"}, {.scenario = "[device]\nopen = fail\n"},
       "Failed to open the device\n", "", "tq_CloseDevice(&null) -> 0\ntq_ReleaseDevices(&list)\n"},
      {"write fails", {"--execute", "RRDDUR2000"}, {.scenario = "[device]\nwrite = fail\n"},
       kRequest + "Response: time out\n", "", kReleased, true},
      {"read fails at once", {"--execute", "RRDDUR2000"}, {.scenario = "[device]\nread = error\n"},
       kRequest + "Response: time out\n", "", kReleased, true},
      {"huge picture", {"--Gpic"}, {.scenario = "[device]\npicture = 65536x65536\n"},
       "Failed to get image resolution\n", "", kReleased},
      {"null last error", {"--import", "cfg.xml"},
       {.scenario = "lasterror = null\n[device]\nimport = fail x\n"}, "", "",
       "tq_GetLastError() -> null\n" + kReleased},
      {"directives in info", {"-i"}, {.scenario = "[device]\ninfo = Product Name: %s%n%x\\n\n"},
       "Device: 1\r\nProduct name: %s%n%x\r\nSerial number: \r\nFirmware version: \r\n"
       "/*************************************/\r\n"},
      {"directives in last error", {"--import", "cfg.xml"},
       {.scenario = "[device]\nimport = fail %s%n%x%p\n"}, "%s%n%x%p", "",
       "tq_GetLastError() -> \"%s%n%x%p\"\n" + kReleased},
      {"directives in selector", {"--execute", "RRDDUR2000", "-vp", "%s%n%x%n%n"}, {.scenario = Devices(2)},
       "pid:x%n%,vid:%s%n.\r\nno device [%s%n%x%n%n]\n"},
      {"unsaved picture", {"--Gpic"}, {}, "Failed to save image file test.bmp\n", "",
       "tq_SavePicDataToFile(\"test.bmp\", buffer, 640, 480, 8) -> false\n" + kReleased, false, "test.bmp"},
      {"-vp as the command", {"--execute", "-vp", "1a2b:3c4d", "RDVER"}, {},
       "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid\n", "", ""},
      {"-vp as the file", {"--export", "-vp", "1a2b:3c4d"}, {},
       "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid\n", "", ""},
      {"-vp after the payload", {"--execute", "--custom", "--prefix", "7b3e", "RDVER", "-vp", "1a2b:0003"}, {},
       "Option -vp must be the third argument: TolvarineCli {option} -vp vid:pid\n", "", ""},
      {"-vp third, with --custom", {"--execute", "--custom", "-vp", "1a2b:3c4d", "--prefix", "7b3e", "RDVER"},
       {.scenario = "[device]\nslave = 7b3e - -\n"},
       "pid:3c4d,vid:1a2b.\r\nprefix=7b3e, surfix=, lenType=\n"
       "Request:7B 3E 7E 01 30 30 30 30 40 52 44 56 45 52 3B 03 \nResponse:15 \n",
       "", kReleased, true},
      {"billions of devices", {"-i"}, {.scenario = "count = 4294967295\n[device]\n" + kInfo}, Listing(1024),
       "TolvarineCli: the device library reports 4294967295 devices; only the first 1024 are shown\n",
       "tq_GetDeviceInfo(list, 1023, &info) -> false\ntq_ReleaseDevices(&list)\n"},
      {"settings file is a folder", {"--execute", "RRDDUR2000"}, {}, kRequest + "Response:06 0D \n",
       "Error opening file: Is a directory\n", "tq_Read(dev0, 10485758, 200) -> 0\n" + kReleased, true,
       "setting.ini"},
      {"settings file is a FIFO", {"--execute", "RRDDUR2000"}, {}, kRequest + "Response:06 0D \n",
       "Error opening file: Invalid argument\n", "tq_Read(dev0, 10485758, 200) -> 0\n" + kReleased, true, "",
       "setting.ini"},
      {"interrupts during a firmware update", {"--firmware", "fw.bin"},
       {.scenario = "slow tq_UpdateKernelDevice = 1500\n[device]\n", .status = 128 + SIGTERM,
        .interrupt = {SIGTERM, "tq_UpdateKernelDevice waits", 2}},
       "updateError=0,succeed in updating the firmware \n", kFirmwareNotice, kUpdated},
      {"interrupt during a configuration write", {"--import", "cfg.xml"},
       {.scenario = "slow tq_WriteCfgToDev = 1000\n[device]\n", .status = 128 + SIGHUP,
        .interrupt = {SIGHUP, "tq_WriteCfgToDev waits"}},
       "Write configure to device successful.\n", kConfigurationNotice,
       "tq_WriteCfgToDev(dev0, \"cfg.xml\", 2000) -> true\n" + kReleased},
      {"interrupt during a slave configuration write", {"--import", "--custom", "--len", "1", "cfg.xml"},
       {.scenario = "slow tq_WriteCfgToSlaveDev = 1000\n[device]\n", .status = 128 + SIGQUIT,
        .interrupt = {SIGQUIT, "tq_WriteCfgToSlaveDev waits"}},
       "Write configure to device successful.\n", kConfigurationNotice,
       "tq_WriteCfgToSlaveDev(dev0, \"\", \"\", \"1\", \"cfg.xml\", 2000) -> true\n" + kReleased},
      {"firmware update on a terminal", {"--firmware", "fw.bin"},
       {.scenario = "slow tq_UpdateKernelDevice = 2500\n[device]\n", .terminal = true},
       "updateError=0,succeed in updating the firmware \n",
       "\rUpdating firmware, do not unplug the device... 1 s"
       "\rUpdating firmware, do not unplug the device... 2 s\r\n",
       kUpdated},
      {"interrupt in the read loop", {"--execute", "RRDDUR2000"},
       {.scenario = "slow tq_Read = 5000\n[device]\nanswer RRDDUR2000 = 06 0D\n", .status = 128 + SIGINT, .interrupt = {SIGINT, "tq_Read waits"}},
       kRequest + "Response:06 0D \n", "",
       "tq_Read gives up: interrupted\ntq_Read(dev0, 10485758, 200) -> -1\n" + kReleased, true},
      {"interrupt at the prompt", {"--export", "o.xml"},
       {.scenario = Devices(2), .status = 128 + SIGINT, .interrupt = {SIGINT, "Select="}}, menu, "",
       "tq_GetDeviceInfo(list, 1, &info) -> true\ntq_ReleaseDevices(&list)\n"},
      {"second interrupt in a call that never returns", {"--execute", "RRDDUR2000"},
       {.scenario = "slow tq_Read = forever\n[device]\nsilent = yes\n", .status = 128 + SIGINT,
        .interrupt = {SIGINT, "tq_Read waits", 2}},
       kRequest, "", "tq_Read waits forever\n", true},
      {"crash in a call", {"--execute", "RRDDUR2000"}, {.scenario = "crash = tq_Read\n[device]\n", .status = 128 + SIGABRT},
       kRequest, "", "tq_Read crashes\n", true},
      {"crash at unload", {"-i"}, {.scenario = "crash = unload\n[device]\n" + kInfo, .status = 128 + SIGABRT},
       Listing(1), "", "tq_ReleaseDevices(&list)\nunload crashes\n"},
      {"closed standard output", {"--execute", "RRDDUR2000"}, {.closed = {1}}, "", "",
       "tq_Read(dev0, 10485758, 200) -> 0\n" + kReleased, true},
      {"closed standard error", {"--import", "missing.xml"}, {.library = Library::kLean, .closed = {2}}, "", "",
       "tq_WriteCfgToDev(dev0, \"missing.xml\", 2000) -> false\n" + kReleased},
      {"output to a full disk", {"--execute", "RRDDUR2000"}, {.outputFile = "/dev/full"}, "",
       "TolvarineCli: cannot write output: No space left on device\n", kReleased, true},
      {"reader goes away", {"--execute", "BIG"},
       {.scenario = "[device]\nanswer BIG = fill 1000000 in 65536\n", .readerTakes = 10}, "Request:7E", "",
       kReleased, true},
  };
  for (const FieldCase& c : cases) {
    for (const char* name : {"setting.ini", "test.bmp"}) std::filesystem::remove_all(dir_ + "/" + name);
    WriteFile("setting.ini", "readtimeout=2000\n");
    if (!c.directory.empty()) {
      std::filesystem::remove(dir_ + "/" + c.directory);
      std::filesystem::create_directory(dir_ + "/" + c.directory);
    }
    if (!c.fifo.empty()) {
      std::filesystem::remove(dir_ + "/" + c.fifo);
      ASSERT_EQ(mkfifo((dir_ + "/" + c.fifo).c_str(), 0644), 0);
    }
    const RunResult r = Run(c.args, c.options);
    EXPECT_EQ(r.status, c.options.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_TRUE(r.journal.ends_with(c.tail)) << c.name << "\n" << r.journal.substr(r.journal.size() - std::min<std::size_t>(r.journal.size(), 400));
    EXPECT_EQ(Calls(r.journal, "tq_Write(").empty(), !c.writes) << c.name;
  }
}

struct PlacementCase {
  std::string name;
  std::string link;       // ./Tolvarine.so links to this copy; empty: the copy is ./Tolvarine.so
  fs::perms library;      // of the copy
  fs::perms folder;       // of the test folder
  std::string refused;    // what the refusal names (after the test folder); empty: loads
};

// A library that another user could have put in place is never run, even
// for --help: a root run in a shared folder would run their code.
TEST_F(HardeningTest, LibraryOthersCouldReplaceIsNotLoaded) {
  using fs::perms;
  const perms normal = perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                       perms::others_exec;
  const perms open = normal | perms::others_write;
  const std::vector<PlacementCase> cases = {
      {"normal folder", "", normal, perms::owner_all, ""},
      {"group-writable file", "", normal | perms::group_write, perms::owner_all, ""},
      {"world-writable file", "", open, perms::owner_all, "/Tolvarine.so"},
      {"world-writable folder", "", normal, open, "folder "},
      {"sticky world-writable folder, own file", "", normal, open | perms::sticky_bit, ""},
      {"link to a world-writable file", "lib/Tolvarine.so", open, perms::owner_all, "/lib/Tolvarine.so"},
      {"link into a world-writable folder", "drop/Tolvarine.so", normal, perms::owner_all, "folder /drop"},
  };
  for (const PlacementCase& c : cases) {
    for (const char* sub : {"lib", "drop"}) fs::create_directories(dir_ + "/" + sub);
    fs::permissions(dir_ + "/lib", normal);
    fs::permissions(dir_ + "/drop", open);
    const std::string copy = dir_ + "/" + (c.link.empty() ? "Tolvarine.so" : c.link);
    fs::remove(dir_ + "/Tolvarine.so");
    fs::copy_file(SIM_LIBRARY, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, c.library);
    if (!c.link.empty()) fs::create_symlink(c.link, dir_ + "/Tolvarine.so");
    fs::permissions(dir_, c.folder);
    const RunResult r = Run({"--help"}, {.library = Library::kPlaced});
    fs::permissions(dir_, perms::owner_all);
    if (c.refused.empty()) {
      EXPECT_EQ(r.out.substr(0, 8), "USAGE:\r\n") << c.name;
      EXPECT_EQ(r.err, "") << c.name;
    } else {
      const std::string named = c.refused.starts_with("folder ")
                                    ? "folder " + dir_ + c.refused.substr(7)
                                    : dir_ + c.refused;
      EXPECT_EQ(r.out, "") << c.name;
      EXPECT_EQ(r.err, "Refusing to load ./Tolvarine.so: " + named + " is writable by other users\n")
          << c.name;
    }
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
