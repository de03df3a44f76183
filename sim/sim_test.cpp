// The simulated library's own logic: what it accepts decides what the
// end-to-end tests can catch.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "devlib/contract.h"
#include "sim/behaviour.h"
#include "sim/scenario.h"
#include "sim/state.h"

namespace {

TEST(SimScenario, RejectsLinesItDoesNotUnderstand) {
  // Each with the start of its error: "scenario line N: why".
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"kind = 4\n", "1: a device setting belongs after [device]"},
      {"[device]\nkind = four\n", "2: kind must be a whole number"},
      {"[device]\nanswer X = 0G\n", "2: expected HEX [| HEX ...] or fill N in M"},
      {"[device]\nanswer X = 01 |\n", "2: expected HEX [| HEX ...] or fill N in M"},
      {"[device]\npicture = 64\n", "2: expected WIDTHxHEIGHT or fail"},
      {"[device]\nfirmware = fail x reason\n", "2: expected fail STATUS REASON"},
      {"[device]\nResponse:01\n", "2: a Response: line must follow a Request: line"},
      {"[device]\nmystery = 1\n", "2: unknown setting mystery"},
      {"[device]\nno separator\n", "2: expected KEY = VALUE"},
      {"slow tq_Read = soon\n", "1: expected milliseconds or forever"},
      {"crash = everything\n", "1: expected tq_NAME or unload"},
      {"[device]\nslave = 7b3e 3 007d\n", "2: the length type must be 1, 2l, 2b or -"},
      {"[device]\nvid = 1a2\n", "2: vid must be four hex digits"},
      {"[device]\npid = 1g2b\n", "2: pid must be four hex digits"},
      {"[device]\nRequest:7E 01\n", "3: the last Request: has no Response: line"},
      {"[device]\nRequest:7E 01\nkind = 1\n", "3: the Request: before has no Response: line"},
      {"[device]\nRequest:7E 01\nRequest:7E 02\nResponse:01\n", "3: the Request: before"},
      {"[device]\nflaky tq_Beep = 1\n", "2: a flaky call is one of tq_OpenDevice, tq_Write"},
      {"[device]\nflaky tq_Write = often\n", "2: expected a whole number of failing calls"},
      {"signals = all\n", "1: expected claim or leave"},
  };
  for (const auto& [text, why] : bad) {
    std::string error;
    EXPECT_FALSE(sim::ParseScenario(text, &error)) << text;
    EXPECT_EQ(error.rfind("scenario line " + why, 0), 0u) << error;
  }
  // The tool's own output, pasted whole, adds nothing but the exchange.
  std::string pasted;
  const auto session = sim::ParseScenario(
      "[device]\npid:3c4d,vid:1a2b.\r\n1. Unit1 SN:SN1 Fireware Ver:1.1\r\n"
      "prefix=7b3e, surfix=, lenType=\nSelect=Request:7E 01 \nResponse:06 0D \n",
      &pasted);
  ASSERT_TRUE(session) << pasted;
  ASSERT_EQ(session->devices.at(0).replays.size(), 1u);
  EXPECT_EQ(session->devices.at(0).replays[0].response->at(0), (sim::Bytes{0x06, 0x0D}));
  std::string error;
  const auto scenario = sim::ParseScenario(
      "count = 3\n[device]\ninfo = A:\\x41\\r\\n\nanswer A B = 01 02 | 03\nslave = - 1 0d0a\n"
      "answer BIG = fill 10 in 4\nflaky tq_Write = 1\nflaky tq_Write = 2\nsignals = claim\n",
      &error);
  ASSERT_TRUE(scenario) << error;
  EXPECT_EQ(scenario->count, 3u);
  EXPECT_TRUE(scenario->claimSignals);
  const sim::Device& device = scenario->devices.at(0);
  EXPECT_EQ(device.info, "A:A\r\n");
  EXPECT_EQ(device.answers.at(0).command, "A B");
  EXPECT_EQ(device.answers.at(0).pieces.size(), 2u);
  EXPECT_EQ(device.answers.at(1).pieces.size(), 3u);
  EXPECT_EQ(device.answers.at(1).pieces.back().fillSize, 2u);
  EXPECT_EQ(device.answers.at(1).pieces.back().fillAt, 8u);
  // Made when read, from any offset: byte i of the pattern is i * 7 + 1.
  std::vector<std::uint8_t> run(1000);
  sim::FillPattern(300, run.data(), run.size());
  for (std::size_t i = 0; i < run.size(); ++i) {
    ASSERT_EQ(run[i], static_cast<std::uint8_t>((300 + i) * 7 + 1)) << i;
  }
  EXPECT_EQ(device.slavePrefix, "");
  EXPECT_EQ(device.slaveSuffix, "0d0a");
  ASSERT_EQ(device.flaky.size(), 1u);  // the last line of a call counts
  EXPECT_EQ(device.flaky[0].times, 2u);
  EXPECT_TRUE(sim::ParseScenario(sim::kDefaultScenario, &error)) << error;
}

TEST(SimScenario, ShippedExamplesParse) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SCENARIO_DIR)) {
    std::ifstream file(entry.path());
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text.str(), &error)) << entry.path() << ": " << error;
    ++count;
  }
  EXPECT_GE(count, 5);
}

TEST(SimFrames, DeviceRejectsMalformedFrames) {
  const std::vector<std::pair<sim::Bytes, std::string>> cases = {
      {{0x7E, 0x01, '0', '0', '0', '0', '@', 'A', 0x3B, 0x03}, ""},
      {{0x7E, 0x01, '0', '0', '0', '0', '@', 0x3B}, "too short"},
      {{0x7E, 0x01, '0', '0', '0', '0', '@', 'A', 0x3B}, "does not end"},
      {{0x7E, 0x02, '0', '0', '0', '0', '@', 'A', 0x3B, 0x03}, "does not start"},
      {{0x7E, 0x01, '0', '0', '0', '0', '!', 'A', 0x3B, 0x03}, "marker"},
      {{0x7E, 0x01, '0', '0', '0', '0', '@', 'A', 0x3B, 0x04}, "does not end"},
  };
  for (const auto& [bytes, reason] : cases) {
    sim::Device device;
    const std::string refusal = sim::Receive(device, bytes);
    EXPECT_TRUE(reason.empty() ? refusal.empty() : refusal.find(reason) != refusal.npos) << refusal;
    EXPECT_EQ(device.pending.size(), reason.empty() ? 1u : 0u);
  }
  sim::Device slave;
  slave.slave = true;
  slave.slavePrefix = "aa";
  slave.slaveLength = "1";
  const sim::Bytes frame = {0xAA, 0x0A, 0x7E, 0x01, '0', '0', '0', '0', '#', 'A', 0x3B, 0x03};
  EXPECT_EQ(sim::Receive(slave, frame), "");
  sim::Bytes wrongLength = frame;
  wrongLength[1] = 0x0B;
  EXPECT_NE(sim::Receive(slave, wrongLength).find("length field"), std::string::npos);
}

TEST(SimConfiguration, ChecksWellFormedXml) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"<a/>", true},
      {"<?xml version=\"1.0\"?>\n<!-- c --><a x='1' y=\"2\">t &amp; <b/><![CDATA[<]]></a>\n", true},
      {"", false},
      {"text", false},
      {"<a>", false},
      {"<a></b>", false},
      {"<a x=1/>", false},
      {"<a>&bogus;</a>", false},
      {"<a/><b/>", false},
      {"<a><b></a></b>", false},
  };
  for (const auto& [text, good] : cases) {
    EXPECT_EQ(sim::CheckXml(text).empty(), good) << text;
  }
  sim::Device device;
  device.info = "Product Name: <&>\nSerial Number: 1\n";
  EXPECT_EQ(sim::CheckXml(sim::ConfigurationXml(device)), "");
}

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// A folder of its own for one test: two builds may test at once.
std::filesystem::path FreshFolder() {
  std::string pattern = std::filesystem::temp_directory_path() / "tolvarine-sim-XXXXXX";
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  return pattern;
}

TEST(SimPicture, SavesAnEightBitGrayscaleBitmap) {
  const std::filesystem::path dir = FreshFolder();
  std::vector<std::uint8_t> pixels(33 * 7, 200);
  ASSERT_EQ(sim::WriteBmp((dir / "test.bmp").c_str(), pixels.data(), 33, 7), "");
  const std::string bmp = ReadWhole(dir / "test.bmp");
  std::filesystem::remove_all(dir);
  const std::uint32_t stride = 36;  // rows padded to 4 bytes
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

// The files a firmware update, an import and an export name are checked as a
// device would; the reasons come back through tq_GetLastError.
TEST(SimEntryPoints, FilesAreCheckedAsADeviceWould) {
  const std::filesystem::path dir = FreshFolder();
  setenv("TOLVARINE_SIM_STATE", dir.c_str(), 1);  // busy for none but this test
  std::ofstream(dir / "fw.bin") << "image";
  std::ofstream(dir / "empty.bin");
  std::ofstream(dir / "empty.xml");
  std::ofstream(dir / "bad.xml") << "<configuration><setting></configuration>";
  unsigned count = 0;
  void* list = tq_EnumDevices(&count, 7);
  void* device = tq_OpenDevice(list, 0, PROTOCOL_DEFAULT);
  ASSERT_NE(device, nullptr);
  const std::vector<std::pair<std::string, unsigned>> firmware = {
      {"fw.bin", 0}, {"missing.bin", 2}, {"empty.bin", 3}};
  for (const auto& [name, code] : firmware) {
    unsigned status = 99;
    EXPECT_EQ(tq_UpdateKernelDevice(device, (dir / name).c_str(), 0, &status) != 0, code == 0)
        << name;
    EXPECT_EQ(status, code) << name;
  }
  const std::string at = dir.string() + "/";
  const std::vector<std::pair<std::string, std::string>> imports = {
      {"missing.xml",
       "cannot open configuration file " + at + "missing.xml: No such file or directory"},
      {"empty.xml", "configuration file " + at + "empty.xml is empty"},
      {"bad.xml", "configuration file " + at +
                      "bad.xml is not well-formed XML: closing tag does not match <setting>"},
  };
  for (const auto& [name, reason] : imports) {
    EXPECT_FALSE(tq_WriteCfgToDev(device, (dir / name).c_str(), 2000)) << name;
    EXPECT_EQ(std::string(tq_GetLastError()), reason);
  }
  EXPECT_FALSE(tq_ReadDevCfgToXml(device, (dir / "no/such/dir/cfg.xml").c_str()));
  EXPECT_TRUE(tq_CloseDevice(&device));
  tq_ReleaseDevices(&list);
  unsetenv("TOLVARINE_SIM_STATE");
  std::filesystem::remove_all(dir);
}

TEST(SimState, DeviceNamesAreFileNames) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"Product Name: A\r\nSerial Number: TV2024A0301\r\nFirmware Version: 1\r\n", "TV2024A0301"},
      {"Product Name=A;Serial Number=TR310B0042;Firmware Version=1;", "TR310B0042"},
      {"Product Name: A\r\n", "1a2b:3c4d@2"},
      {"Serial Number: ../x/ y%\r\n", "%2E.%2Fx%2F%20y%25"},
      {"Serial Number: " + std::string(300, 'A'), std::string(83, 'A') + "~"},
  };
  for (const auto& [info, name] : names) {
    sim::Device device;
    device.info = info;
    EXPECT_EQ(sim::StateName(device, 2).substr(0, name.size()), name) << info;
    EXPECT_LE(sim::StateName(device, 2).size(), sim::kMaxStateName) << info;
  }
  sim::Device one, other;  // long names that differ only past the cut stay apart
  one.info = names.back().first;
  other.info = one.info + "B";
  EXPECT_NE(sim::StateName(one, 0), sim::StateName(other, 0));
}

void Tell(int fd, char step) { ASSERT_EQ(write(fd, &step, 1), 1); }
char Heard(int fd) {
  char step = 0;
  return read(fd, &step, 1) == 1 ? step : '?';
}

// Another process holds the default device until it closes it; the lock
// is in the default folder, here under a runtime folder of the test's own.
TEST(SimState, ADeviceOpenInAnotherProcessIsBusy) {
  const std::filesystem::path dir = FreshFolder();
  unsetenv("TOLVARINE_SIM_STATE");
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  unsigned count = 0;
  void* list = tq_EnumDevices(&count, 7);
  int toParent[2], toChild[2];
  ASSERT_TRUE(pipe(toParent) == 0 && pipe(toChild) == 0);
  const pid_t child = fork();
  if (child == 0) {
    void* held = tq_OpenDevice(list, 0, PROTOCOL_DEFAULT);
    Tell(toParent[1], held != nullptr ? 'o' : 'x');
    Heard(toChild[0]);
    Tell(toParent[1], tq_CloseDevice(&held) != 0 ? 'c' : 'x');
    Heard(toChild[0]);
    _exit(0);
  }
  EXPECT_EQ(Heard(toParent[0]), 'o');
  EXPECT_EQ(tq_OpenDevice(list, 0, PROTOCOL_DEFAULT), nullptr);
  EXPECT_STREQ(tq_GetLastError(), "device is in use by another process");
  Tell(toChild[1], 'g');
  EXPECT_EQ(Heard(toParent[0]), 'c');
  void* device = tq_OpenDevice(list, 0, PROTOCOL_DEFAULT);  // the child still runs
  EXPECT_NE(device, nullptr);
  Tell(toChild[1], 'g');
  waitpid(child, nullptr, 0);
  tq_CloseDevice(&device);
  tq_ReleaseDevices(&list);
  EXPECT_EQ(
      std::filesystem::status(dir / ("tolvarine-sim-" + std::to_string(geteuid()))).permissions(),
      std::filesystem::perms::owner_all);
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(dir);
}

// A folder the simulator cannot use is said once, and fails no open.
TEST(SimState, AnUnusableFolderLeavesDevicesUnshared) {
  const std::filesystem::path dir = FreshFolder();
  // A default folder that is a link, as another user could plant in /tmp.
  std::filesystem::create_directory_symlink(dir,
                                            dir / ("tolvarine-sim-" + std::to_string(geteuid())));
  const std::vector<std::pair<std::string, std::string>> folders = {{"/dev/null/state", ""},
                                                                    {"", dir}};
  testing::internal::CaptureStderr();
  for (const auto& [state, runtime] : folders) {
    setenv("TOLVARINE_SIM_STATE", state.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsigned count = 0;
    void* list = tq_EnumDevices(&count, 7);
    void* device = tq_OpenDevice(list, 0, PROTOCOL_DEFAULT);
    EXPECT_NE(device, nullptr) << state << runtime;
    tq_CloseDevice(&device);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  const auto said = err.find("state folder unusable");
  EXPECT_TRUE(said != err.npos && err.find("state folder unusable", said + 1) == err.npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "TV2024A0117.lock"));
  unsetenv("TOLVARINE_SIM_STATE");
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(dir);
}

// The built library, loaded afresh with a scenario of the test's own and
// its journal in `dir`.
void* LoadLibrary(const std::filesystem::path& dir, const std::string& scenario) {
  std::ofstream(dir / "test.sim") << scenario;
  setenv("TOLVARINE_SIM", (dir / "test.sim").c_str(), 1);
  setenv("TOLVARINE_SIM_JOURNAL", (dir / "journal").c_str(), 1);
  void* library = dlopen(SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  unsetenv("TOLVARINE_SIM");
  EXPECT_NE(library, nullptr) << dlerror();
  return library;
}
#define ENTRY(library, name) reinterpret_cast<decltype(&name)>(dlsym(library, #name))

TEST(SimLibrary, FlakyCallsFailTheirFirstCallsAcrossProcesses) {
  const std::filesystem::path dir = FreshFolder();
  std::ofstream(dir / "fw.bin") << "image";
  std::ofstream(dir / "in.xml") << "<configuration/>";
  setenv("TOLVARINE_SIM_STATE", (dir / "state").c_str(), 1);
  void* library = nullptr;
  void* list = nullptr;
  void* device = nullptr;
  unsigned count = 0, status = 0;
  const std::vector<std::tuple<std::string, unsigned, std::function<bool()>>> calls = {
      {"tq_OpenDevice", 1,
       [&] {
         void* opened = ENTRY(library, tq_OpenDevice)(list, 0, PROTOCOL_DEFAULT);
         device = opened != nullptr ? opened : device;
         return opened != nullptr;
       }},
      {"tq_UpdateKernelDevice", 2,
       [&] {
         return ENTRY(library, tq_UpdateKernelDevice)(device, (dir / "fw.bin").c_str(), 0,
                                                      &status) != 0;
       }},
      {"tq_WriteCfgToDev", 1,
       [&] { return ENTRY(library, tq_WriteCfgToDev)(device, (dir / "in.xml").c_str(), 0); }},
  };
  std::string scenario = "[device]\ninfo = Serial Number: F1\\r\\n\n";
  for (const auto& [call, times, succeeds] : calls) {
    scenario += "flaky " + call + " = " + std::to_string(times) + "\n";
  }
  library = LoadLibrary(dir, scenario);
  list = ENTRY(library, tq_EnumDevices)(&count, 7);
  for (const auto& [call, times, succeeds] : calls) {
    const pid_t child = fork();  // the first attempt: the count is the folder's
    if (child == 0) _exit(succeeds() ? 1 : 0);
    int ended = -1;
    waitpid(child, &ended, 0);
    EXPECT_EQ(ended, 0) << call << " went through at its first call";
    for (unsigned attempt = 2; attempt <= times; ++attempt) EXPECT_FALSE(succeeds()) << call;
    EXPECT_TRUE(succeeds()) << call << " still fails after " << times;
  }
  setenv("TOLVARINE_SIM_STATE", (dir / "fresh").c_str(), 1);  // counts again
  for (const auto& [call, times, succeeds] : calls) {
    EXPECT_FALSE(succeeds()) << call;
    EXPECT_EQ(std::string(ENTRY(library, tq_GetLastError)()),
              "device did not answer (flaky, attempt 1 of " + std::to_string(times) + ")");
  }
  const std::string journal = ReadWhole(dir / "journal");
  EXPECT_NE(journal.find("tq_OpenDevice(list, 0, 0) -> null, flaky 1 of 1\n"), journal.npos);
  EXPECT_NE(journal.find("-> 0, status=7, flaky 2 of 2\n"), journal.npos);
  ENTRY(library, tq_CloseDevice)(&device);
  dlclose(library);
  unsetenv("TOLVARINE_SIM_STATE");
  std::filesystem::remove_all(dir);
}

}  // namespace
