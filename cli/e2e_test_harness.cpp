#include "cli/e2e_test_harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
  fs::remove(dir / "Tolvarine.so");
  if (options.library != Library::kNone) {
    fs::create_symlink(options.library == Library::kLean ? SIM_LEAN_LIBRARY : SIM_LIBRARY,
                       dir / "Tolvarine.so");
  }
  for (const char* name : {".journal", ".stdout", ".stderr"}) fs::remove(dir / name);
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

  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    const int in = open(".stdin", O_RDONLY);
    const int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = options.mergeStreams ? out : open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("TOLVARINE_SIM_JOURNAL", (dir / ".journal").c_str(), 1);
    if (options.scenario.empty()) {
      unsetenv("TOLVARINE_SIM");
    } else {
      setenv("TOLVARINE_SIM", (dir / ".scenario").c_str(), 1);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Whatever happened, the tool ends with status 0 (and, under a checking
  // wrapper such as valgrind, without errors).
  EXPECT_EQ(result.status, 0) << "TolvarineCli exited with " << result.status;
  result.out = ReadFile(".stdout");
  result.err = ReadFile(".stderr");
  result.journal = ReadFile(".journal");
  return result;
}

std::vector<std::string> Calls(const std::string& journal, const std::string& call) {
  std::vector<std::string> lines;
  std::istringstream in(journal);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(call, 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::string Devices(int count) {
  std::string scenario;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    scenario += "[device]\ninfo = Product Name: Unit" + n + "\\r\\nSerial Number: SN" + n +
                "\\r\\nFirmware Version: 1." + n + "\\r\\n\nvid = 000" + n + "\npid = 100" + n + "\n";
  }
  return scenario;
}
