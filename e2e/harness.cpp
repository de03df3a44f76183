#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

void ToolTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "tolvarine-e2e-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void ToolTest::TearDown() { fs::remove_all(dir_); }

void ToolTest::WriteFile(const std::string& name, const std::string& content) const {
  std::ofstream(fs::path(dir_) / name, std::ios::binary) << content;
}

std::string ToolTest::ReadFile(const std::string& name) const {
  std::ifstream file(fs::path(dir_) / name, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

bool ToolTest::Exists(const std::string& name) const { return fs::exists(fs::path(dir_) / name); }

RunResult ToolTest::Run(const std::vector<std::string>& args, const RunOptions& options) {
  const fs::path dir(dir_);
  if (options.library != Library::kPlaced) fs::remove(dir / "Tolvarine.so");
  if (options.library == Library::kFull || options.library == Library::kLean) {
    fs::create_symlink(options.library == Library::kLean ? SIM_LEAN_LIBRARY : SIM_LIBRARY,
                       dir / "Tolvarine.so");
  }
  for (const char* name : {".journal", ".stdout", ".stderr"}) fs::remove(dir / name);
  WriteFile(".stdout", "");
  WriteFile(".stdin", options.input);
  if (!options.scenario.empty()) WriteFile(".scenario", options.scenario);

  // An optional wrapper (such as valgrind) runs the tool.
  std::vector<std::string> command;
  if (const char* wrapper = std::getenv("TOLVARINE_TEST_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) command.push_back(word);
  }
  command.push_back(TOOL_BINARY);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  int pty = -1;
  if (options.terminal) {
    pty = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_TRUE(pty >= 0 && grantpt(pty) == 0 && unlockpt(pty) == 0);
  }
  int inputPipe[2] = {-1, -1};
  const bool holdInput =
      !options.answerAfter.empty() || (options.interrupt.signal != 0 && options.input.empty());
  if (holdInput) {
    EXPECT_EQ(pipe(inputPipe), 0);
  }
  int outputPipe[2] = {-1, -1};
  if (options.readerTakes >= 0) {
    EXPECT_EQ(pipe(outputPipe), 0);
  }
  std::vector<std::array<int, 2>> stalled(options.stalled.size(), {-1, -1});
  for (auto& ends : stalled) {
    EXPECT_EQ(pipe2(ends.data(), O_NONBLOCK), 0);
    const std::string fill(4096, 'x');
    while (write(ends[1], fill.data(), fill.size()) > 0) {
    }
    fcntl(ends[1], F_SETFL, 0);  // the tool finds it blocking, as a shell leaves it
  }

  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    const int in = holdInput ? inputPipe[0] : open(".stdin", O_RDONLY);
    const int out = options.readerTakes >= 0 ? outputPipe[1]
                    : options.terminal       ? open(ptsname(pty), O_RDWR | O_NOCTTY)
                    : options.outputFile.empty()
                        ? open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644)
                        : open(options.outputFile.c_str(), O_WRONLY);
    const int err = options.mergeStreams || options.terminal
                        ? out
                        : open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (std::size_t i = 0; i < stalled.size(); ++i) dup2(stalled[i][1], options.stalled[i]);
    for (int fd = 3; fd < 64; ++fd) close(fd);
    for (int fd : options.closed) close(fd);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    setenv("TOLVARINE_SIM_JOURNAL", (dir / ".journal").c_str(), 1);
    // Devices held open by a run are busy for others: a test's own.
    setenv("TOLVARINE_SIM_STATE", (dir / ".simstate").c_str(), 1);
    setenv("TOLVARINE_LOCK_DIR", dir.c_str(), 1);  // the test's own device locks
    unsetenv("TOLVARINE_JSON");
    unsetenv("TOLVARINE_TRACE");
    unsetenv("TOLVARINE_EXIT_STATUS");
    unsetenv("SUDO_UID");
    for (const std::string& setting : options.env) putenv(const_cast<char*>(setting.c_str()));
    if (options.scenario.empty()) {
      unsetenv("TOLVARINE_SIM");
    } else {
      setenv("TOLVARINE_SIM", (dir / ".scenario").c_str(), 1);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (holdInput) close(inputPipe[0]);
  if (options.readerTakes >= 0) close(outputPipe[1]);
  RunResult result;
  int status = 0;
  std::string taken;
  int sent = 0;
  int sinceSent = 0;  // milliseconds since the last interrupt
  // Polls until the tool ends: sends the interrupts when their moment has
  // come, and reads what the pipe's reader takes. Ten seconds at most.
  for (int waited = 0; child > 0; waited += 2) {
    const pid_t ended = waitpid(child, &status, WNOHANG | WUNTRACED);
    if (ended == child && WIFSTOPPED(status)) {
      result.outAtStop = ReadFile(".stdout");
      std::ofstream(dir / ".journal", std::ios::app) << "(stopped)\n";
      kill(child, SIGCONT);
    } else if (ended == child) {
      break;
    }
    if (waited > 10000) {
      ADD_FAILURE() << "TolvarineCli still runs after ten seconds";
      kill(child, SIGKILL);
    }
    if (inputPipe[1] >= 0 && !options.answerAfter.empty() &&
        ReadFile(".stdout").find(options.answerAfter) != std::string::npos) {
      EXPECT_EQ(write(inputPipe[1], options.input.data(), options.input.size()),
                static_cast<ssize_t>(options.input.size()));
      close(inputPipe[1]);
      inputPipe[1] = -1;
    }
    if (sent < options.interrupt.times && options.interrupt.signal != 0 &&
        (sent == 0 ? (ReadFile(".journal") + ReadFile(".stdout")).find(options.interrupt.after) !=
                         std::string::npos
                   : sinceSent >= options.interrupt.gap)) {
      kill(child, options.interrupt.signal);
      ++sent;
      sinceSent = 0;
    }
    sinceSent += 2;
    if (outputPipe[0] >= 0 && static_cast<int>(taken.size()) < options.readerTakes) {
      pollfd ready{outputPipe[0], POLLIN, 0};
      char chunk[256];
      if (poll(&ready, 1, 0) > 0) {
        const ssize_t n =
            read(outputPipe[0], chunk,
                 std::min<std::size_t>(sizeof chunk, options.readerTakes - taken.size()));
        if (n > 0) taken.append(chunk, static_cast<std::size_t>(n));
      }
    } else if (outputPipe[0] >= 0) {
      close(outputPipe[0]);
      outputPipe[0] = -1;
    }
    usleep(2000);
  }
  if (inputPipe[1] >= 0) close(inputPipe[1]);
  if (outputPipe[0] >= 0) close(outputPipe[0]);
  for (auto& ends : stalled) {
    for (int fd : ends) close(fd);
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // Whatever happened, the tool ends with the expected status (0 unless a
  // signal ended it; under a checking wrapper such as valgrind, without errors).
  EXPECT_EQ(result.status, options.status) << "TolvarineCli exited with " << result.status;
  result.out = options.readerTakes >= 0 ? taken : ReadFile(".stdout");
  result.err = ReadFile(".stderr");
  if (pty >= 0) {
    char chunk[256];
    for (ssize_t n; (n = read(pty, chunk, sizeof chunk)) > 0;)
      result.err.append(chunk, static_cast<std::size_t>(n));
    close(pty);
  }
  result.journal = ReadFile(".journal");
  EXPECT_EQ(result.err, options.err) << "standard error";
  // A scenario the simulator could not take would leave the tool without
  // devices, and a test of something else could pass on "No device found".
  EXPECT_EQ(result.journal.find("scenario rejected"), std::string::npos) << result.journal;
  return result;
}

void ToolTest::RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // valgrind takes a stop signal for nothing: the process never stops.
    if (std::getenv("TOLVARINE_TEST_WRAPPER") != nullptr &&
        c.tail.find("(stopped)") != c.tail.npos) {
      continue;
    }
    if (c.setup) c.setup();
    const RunResult r = Run(c.args, c.options);
    if (c.options.code >= 0) {  // again, with the outcome as the exit status
      RunOptions opted = c.options;
      opted.env.push_back("TOLVARINE_EXIT_STATUS=1");
      opted.status = c.options.code;
      if (c.setup) c.setup();
      EXPECT_EQ(Run(c.args, opted).out, c.out) << "with TOLVARINE_EXIT_STATUS=1";
    }
    if (!c.json.empty()) {  // again, reporting as JSON
      RunOptions json = c.options;
      json.env.push_back("TOLVARINE_JSON=1");
      if (c.setup) c.setup();
      const std::string out = Run(c.args, json).out;
      static const std::regex kSeconds("\"seconds\": [0-9]+\\.[0-9]{3}\\}");
      EXPECT_EQ(std::regex_replace(out, kSeconds, "\"seconds\": 0.000}"), c.json) << "as JSON";
    }
    EXPECT_EQ(r.out, c.out);
    // A stop held during a device write comes after the outcome is printed.
    if (c.tail.find("(stopped)") != c.tail.npos) {
      EXPECT_EQ(r.outAtStop, c.out) << "at the stop";
    }
    std::istringstream lines(r.journal);
    auto expected = c.calls.begin();
    for (std::string line; expected != c.calls.end() && std::getline(lines, line);) {
      if (line == *expected) ++expected;
    }
    EXPECT_TRUE(expected == c.calls.end()) << "not in the journal, in order: " << *expected << "\n"
                                           << r.journal;
    EXPECT_TRUE(r.journal.ends_with(c.tail))
        << "journal does not end with:\n"
        << c.tail << "\nbut:\n"
        << r.journal.substr(r.journal.size() > 600 ? r.journal.size() - 600 : 0);
    for (const std::string& call : c.absent) EXPECT_TRUE(Calls(r.journal, call).empty()) << call;
  }
}

std::vector<std::string> Calls(const std::string& journal, const std::string& call) {
  std::vector<std::string> lines;
  std::istringstream in(journal);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(call, 0) == 0) lines.push_back(line);
  }
  return lines;
}

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
    "    TolvarineCli {option} -vp vid:pid             Operation on device with specific VID & "
    "PID, "
    "Commands {'--custom', '--Gpic'} Not Supported.\r\n";

const char kDefaultDevice[] =
    "{\"device\": 1, \"product\": \"TV-200 Scanner\", \"serial\": \"TV2024A0117\", "
    "\"firmware\": \"3.4.1\"}";

const char kRequest[] = "Request:7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 \n";

std::string Devices(int count) {
  std::string scenario;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    char ids[32];  // four hex digits each: 0001:1001, 0002:1002, ...
    std::snprintf(ids, sizeof ids, "vid = %04x\npid = %04x\n", i & 0xFFFF, (0x1000 + i) & 0xFFFF);
    scenario += "[device]\ninfo = Product Name: Unit" + n + "\\r\\nSerial Number: SN" + n +
                "\\r\\nFirmware Version: 1." + n + "\\r\\n\n" + ids;
  }
  return scenario;
}

std::string ResultLine(const std::string& command, const std::string& fields) {
  return "{\"type\": \"result\", \"command\": " + command + ", " + fields +
         ", \"seconds\": 0.000}\n";
}
