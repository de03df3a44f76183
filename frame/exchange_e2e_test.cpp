// "--execute" end to end against the simulated device.
#include <string>
#include <vector>

#include "cli/e2e_test_harness.h"

namespace {

using ExchangeTest = ToolTest;

const std::string kRequest = "Request:7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 \n";
const std::string kFrameHex = "7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03";

TEST_F(ExchangeTest, PlainCommandAndItsAnswer) {
  for (const char* command : {"RRDDUR2000", "RRDDUR2000;", "@RRDDUR2000"}) {
    const RunResult r = Run({"--execute", command});
    EXPECT_EQ(r.out, kRequest + "Response:06 0D \n") << command;
    EXPECT_EQ(Calls(r.journal, "tq_Write(")[0], "tq_Write(dev0, [" + kFrameHex + "], 19, false) -> true");
  }
}

TEST_F(ExchangeTest, ReadsUseTheSettingFirstThenTheFollowUpTimeout) {
  const std::string scenario = "[device]\nanswer RRDDUR2000 = 06 | 0D 0A | 33\n";
  RunResult r = Run({"--execute", "RRDDUR2000"}, {.scenario = scenario});
  EXPECT_EQ(r.out, kRequest + "Response:06 0D 0A 33 \n");
  EXPECT_EQ(Calls(r.journal, "tq_Read"),
            (std::vector<std::string>{"tq_Read(dev0, 10485760, 2000) -> 1", "tq_Read(dev0, 10485759, 200) -> 2",
                                      "tq_Read(dev0, 10485757, 200) -> 1", "tq_Read(dev0, 10485756, 200) -> 0"}));
  WriteFile("setting.ini", "; first read\nreadtimeout=500\r\n");
  r = Run({"--execute", "--custom", "--len", "1", "#X"}, {.scenario = "[device]\nslave = - 1 -\nanswer #X = 01\n"});
  EXPECT_EQ(r.out, "prefix=, surfix=, lenType=1\nRequest:0A 7E 01 30 30 30 30 23 58 3B 03 \nResponse:01 \n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Calls(r.journal, "tq_Read"),
            (std::vector<std::string>{"tq_Read(dev0, 10485760, 500) -> 1", "tq_Read(dev0, 10485759, 100) -> 0"}));
}

TEST_F(ExchangeTest, SlaveFrameWithAllOptions) {
  const RunResult r = Run({"--execute", "--custom", "--prefix", "7b3e", "--len", "2l", "--surfix", "007d", "RRDDUR2000"},
                          {.scenario = "[device]\nslave = 7b3e 2l 007d\nanswer RRDDUR2000 = 7B 3E 06 0D 00 7D\n"});
  EXPECT_EQ(r.out,
            "prefix=7b3e, surfix=007d, lenType=2l\n"
            "Request:7B 3E 00 13 7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03 00 7D \n"
            "Response:7B 3E 06 0D 00 7D \n");
  EXPECT_EQ(Calls(r.journal, "tq_Write(")[0].find("device:"), std::string::npos);
}

TEST_F(ExchangeTest, NothingIsSentForRefusedInput) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--execute"}, "No execute command\n"},
      {{"--execute", "IMGGET"}, "Get picture use [--Gpic]\n"},
      {{"--execute", "--custom", "--prefix", "11", "IMGGET"}, "Get picture use [--Gpic]\n"},
      {{"--execute", "--custom", "RRDDUR2000"}, "There must be one of the [--prefix],[--len],[--suffix] options\n"},
      {{"--execute", "--custom", "--prefix", "RRDDUR2000"}, "Check [--prefix],[--len],[--suffix] options\n"},
      {{"--execute", "--custom", "--prefix", std::string(128, 'a'), "X"}, "The value of [--prefix] is too long\n"},
      {{"--execute", "--custom", "--surfix", std::string(128, 'a'), "X"}, "The value of [--suffix] is too long\n"},
      {{"--execute", "--custom", "--len", "2bb", "X"}, "The value of [--len] is too long\n"},
  };
  for (const auto& [args, out] : cases) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.out, out) << args.back();
    EXPECT_TRUE(Calls(r.journal, "tq_Write(").empty()) << args.back();
    EXPECT_TRUE(Calls(r.journal, "tq_Read").empty()) << args.back();
  }
}

TEST_F(ExchangeTest, TimeOutsAndFailures) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[device]\nsilent = yes\n", "Response: time out\n"},
      {"[device]\nwrite = fail\n", "Response: time out\n"},
      {"[device]\nread = error\n", "Response: time out\n"},
      {"[device]\nunknown = 15 21\n", "Response:15 21 \n"},
  };
  for (const auto& [scenario, response] : cases) {
    const RunResult r = Run({"--execute", "RRDDUR2000"}, {.scenario = scenario});
    EXPECT_EQ(r.out, kRequest + response) << scenario;
  }
}

TEST_F(ExchangeTest, AnswerClaimingMoreThanOfferedEndsTheRead) {
  const RunResult r = Run({"--execute", "RRDDUR2000"}, {.scenario = "[device]\nread = overclaim\n"});
  // The read claims 1000 bytes more than offered: it counts as the space
  // offered, so the buffer is full and no further read is made.
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(Calls(r.journal, "tq_Read"), std::vector<std::string>{"tq_Read(dev0, 10485760, 2000) -> 10486760"});
  EXPECT_EQ(r.out.size(), kRequest.size() + 9 + 10485760u * 3 + 1);
  EXPECT_EQ(r.out.substr(kRequest.size(), 18), "Response:15 00 00 ");
}

TEST_F(ExchangeTest, FullBufferEndsTheReadLoop) {
  const RunResult r = Run({"--execute", "BIG"},
                          {.scenario = "[device]\nanswer BIG = fill 10485770 in 4194304\n"});
  const auto reads = Calls(r.journal, "tq_Read");
  EXPECT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads.back(), "tq_Read(dev0, 2097152, 200) -> 2097152");
  const std::string request = "Request:7E 01 30 30 30 30 40 42 49 47 3B 03 \n";
  EXPECT_EQ(r.out.substr(0, request.size() + 9), request + "Response:");
  EXPECT_EQ(r.out.size(), request.size() + 9 + 10485760u * 3 + 1);
}

TEST_F(ExchangeTest, ReplaysARecordedSession) {
  const std::string scenario =
      "[device]\n" + kRequest + "Response:AA BB \n"
      "Request:7E 01 30 30 30 30 40 51 3B 03 \nResponse: time out\n";
  RunResult r = Run({"--execute", "RRDDUR2000"}, {.scenario = scenario});
  EXPECT_EQ(r.out, kRequest + "Response:AA BB \n");
  r = Run({"--execute", "Q"}, {.scenario = scenario});
  EXPECT_EQ(r.out, "Request:7E 01 30 30 30 30 40 51 3B 03 \nResponse: time out\n");
}

TEST_F(ExchangeTest, MissingSettingsFileIsReportedAfterTheWrite) {
  const RunResult r = Run({"--execute", "RRDDUR2000"});
  EXPECT_EQ(r.err, "Error opening file: No such file or directory\n");
  EXPECT_EQ(Calls(r.journal, "tq_Read")[0], "tq_Read(dev0, 10485760, 2000) -> 2");
}

}  // namespace
