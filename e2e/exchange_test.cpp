// "--execute" end to end against the simulated device.
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

class ExchangeTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("setting.ini", "readtimeout=2000\n");
  }
};

const std::string kFrameHex = "7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03";
const std::string kWrite = "tq_Write(dev0, [" + kFrameHex + "], 19, false) -> true";
const std::string kReleased = "tq_CloseDevice(&dev0) -> 1\ntq_ReleaseDevices(&list)\n";

TEST_F(ExchangeTest, CommandsAndTheirAnswers) {
  const std::string kAnswer = std::string(kRequest) + "Response:06 0D \n";
  const std::string pieces = "[device]\nanswer RRDDUR2000 = 06 | 0D 0A | 33\n";
  const std::string recorded =
      "[device]\n" + std::string(kRequest) +
      "Response:AA BB \nRequest:7E 01 30 30 30 30 40 51 3B 03 \nResponse: time out\n";
  RunCases({
      {.name = "plain command",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.code = 0},
       .out = kAnswer,
       .calls = {kWrite},
       .tail = kReleased},
      {.name = "one trailing ';' dropped",
       .args = {"--execute", "RRDDUR2000;"},
       .out = kAnswer,
       .calls = {kWrite},
       .tail = kReleased},
      {.name = "'@' as its own marker",
       .args = {"--execute", "@RRDDUR2000"},
       .out = kAnswer,
       .calls = {kWrite},
       .tail = kReleased},
      // The first read takes the setting, the others the follow-up time-out.
      {.name = "answer in pieces",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = pieces},
       .out = std::string(kRequest) + "Response:06 0D 0A 33 \n",
       .calls = {"tq_Read(dev0, 10485760, 2000) -> 1", "tq_Read(dev0, 10485759, 200) -> 2",
                 "tq_Read(dev0, 10485757, 200) -> 1", "tq_Read(dev0, 10485756, 200) -> 0"},
       .tail = kReleased},
      {.name = "slave frame with all options",
       .args = {"--execute", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d",
                "RRDDUR2000"},
       .options = {.scenario =
                       "[device]\nslave = 7b3e 2l 007d\nanswer RRDDUR2000 = 7B 3E 06 0D 00 7D\n"},
       .out =
           "prefix=7b3e, surfix=007d, lenType=2l\n"
           "Request:7B 3E 00 13 7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 00 7D \n"
           "Response:7B 3E 06 0D 00 7D \n",
       .calls =  // No note of the device after the result: it took the frame.
       {"tq_Write(dev0, [7B 3E 00 13 " + kFrameHex + " 00 7D], 25, false) -> true"},
       .tail = kReleased},
      {.name = "silent device",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "[device]\nsilent = yes\n", .code = 1},
       .out = std::string(kRequest) + "Response: time out\n",
       .tail = kReleased},
      {.name = "failed write",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "[device]\nwrite = fail\n"},
       .out = std::string(kRequest) + "Response: time out\n",
       .tail = kReleased},
      {.name = "read fails at once",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "[device]\nread = error\n"},
       .out = std::string(kRequest) + "Response: time out\n",
       .tail = kReleased},
      {.name = "unknown command",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = "[device]\nunknown = 15 21\n"},
       .out = std::string(kRequest) + "Response:15 21 \n",
       .tail = kReleased},
      {.name = "recorded session",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.scenario = recorded},
       .out = std::string(kRequest) + "Response:AA BB \n",
       .tail = kReleased},
      {.name = "recorded session, no answer",
       .args = {"--execute", "Q"},
       .options = {.scenario = recorded},
       .out = "Request:7E 01 30 30 30 30 40 51 3B 03 \nResponse: time out\n",
       .tail = kReleased},
      {.name = "slave command: the setting for the first read, 100 for the others",
       .args = {"--execute", "--custom", "--len", "1", "#X"},
       .options = {.scenario = "[device]\nslave = - 1 -\nanswer #X = 01\n"},
       .out =
           "prefix=, surfix=, lenType=1\nRequest:0A 7E 01 30 30 30 30 23 58 3B 03 \nResponse:01 \n",
       .calls = {"tq_Write(dev0, [0A 7E 01 30 30 30 30 23 58 3B 03], 11, false) -> true",
                 "tq_Read(dev0, 10485760, 500) -> 1", "tq_Read(dev0, 10485759, 100) -> 0"},
       .tail = kReleased,
       .setup = [this] { WriteFile("setting.ini", "; first read\nreadtimeout=500\r\n"); }},
      {.name = "missing settings file",
       .args = {"--execute", "RRDDUR2000"},
       .options = {.err = "Error opening file: No such file or directory\n"},
       .out = kAnswer,
       .calls = {kWrite, "tq_Read(dev0, 10485760, 2000) -> 2"},
       .tail = kReleased,
       .setup = [this] { std::remove((dir_ + "/setting.ini").c_str()); }},
  });
}

TEST_F(ExchangeTest, NothingIsSentForRefusedInput) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--execute"}, "No execute command\n"},
      {{"--execute", "IMGGET"}, "Get picture use [--Gpic]\n"},
      {{"--execute", "--custom", "--prefix", "11", "IMGGET"}, "Get picture use [--Gpic]\n"},
      {{"--execute", "--custom", "RRDDUR2000"},
       "There must be one of the [--prefix],[--len],[--suffix] options\n"},
      {{"--execute", "--custom", "--prefix", "RRDDUR2000"},
       "Check [--prefix],[--len],[--suffix] options\n"},
      {{"--execute", "--custom", "--prefix", std::string(128, 'a'), "X"},
       "The value of [--prefix] is too long\n"},
      {{"--execute", "--custom", "--surfix", std::string(128, 'a'), "X"},
       "The value of [--suffix] is too long\n"},
      {{"--execute", "--custom", "--len", "2bb", "X"}, "The value of [--len] is too long\n"},
  };
  std::vector<Case> cases;
  for (const auto& [args, out] : refused) {
    cases.push_back({.name = args.back(),
                     .args = args,
                     .options = {.code = 2},
                     .out = out,
                     .tail = kReleased,
                     .absent = {"tq_Write(", "tq_Read"}});
  }
  RunCases(cases);
}

TEST_F(ExchangeTest, AnswerClaimingMoreThanOfferedEndsTheRead) {
  const RunResult r =
      Run({"--execute", "RRDDUR2000"}, {.scenario = "[device]\nread = overclaim\n"});
  // The read claims 1000 bytes more than offered: it counts as the space
  // offered, so the buffer is full and no further read is made.
  EXPECT_EQ(Calls(r.journal, "tq_Read"),
            std::vector<std::string>{"tq_Read(dev0, 10485760, 2000) -> 10486760"});
  EXPECT_EQ(r.out.size(), std::string(kRequest).size() + 9 + 10485760u * 3 + 1);
  EXPECT_EQ(r.out.substr(std::string(kRequest).size(), 18), "Response:15 00 00 ");
}

TEST_F(ExchangeTest, FullBufferEndsTheReadLoop) {
  const RunResult r =
      Run({"--execute", "BIG"}, {.scenario = "[device]\nanswer BIG = fill 10485770 in 4194304\n"});
  const auto reads = Calls(r.journal, "tq_Read");
  EXPECT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads.back(), "tq_Read(dev0, 2097152, 200) -> 2097152");
  const std::string request = "Request:7E 01 30 30 30 30 40 42 49 47 3B 03 \n";
  EXPECT_EQ(r.out.substr(0, request.size() + 9), request + "Response:");
  EXPECT_EQ(r.out.size(), request.size() + 9 + 10485760u * 3 + 1);
}

}  // namespace
