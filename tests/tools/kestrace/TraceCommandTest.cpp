// kestrace's command line: the process by id or name, the options and their limits.
#include "TraceCommand.h"

#include <gtest/gtest.h>

namespace kestrace {
namespace {

std::optional<TraceRequest> Parse(std::vector<std::wstring> args, std::string *error = nullptr) {
  std::string message;
  std::optional<TraceRequest> request = ParseTraceCommand(args, message);
  if (error)
    *error = message;
  EXPECT_EQ(request.has_value(), message.empty()) << message;
  return request;
}

TEST(TraceCommand, ProcessByIdOrByName) {
  std::optional<TraceRequest> r = Parse({L"6700"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->processId, 6700u);
  EXPECT_EQ(r->processName, L"");
  EXPECT_EQ(r->bufSize, kDefaultBufferSize);
  EXPECT_EQ(r->timeoutSeconds, kDefaultTimeoutSeconds);
  EXPECT_FALSE(r->clipboard);

  EXPECT_EQ(Parse({L"0x1a2c"})->processId, 0x1a2cu);
  EXPECT_EQ(Parse({L"$1A2C"})->processId, 0x1a2cu);
  r = Parse({L"Tidewell.exe"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->processId, 0u);
  EXPECT_EQ(r->processName, L"Tidewell.exe");
  // A name may start with a digit.
  EXPECT_EQ(Parse({L"7zFM.exe"})->processName, L"7zFM.exe");
}

TEST(TraceCommand, Options) {
  std::optional<TraceRequest> r = Parse({L"--size", L"1048576", L"--timeout", L"30", L"--clipboard", L"Tidewell"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->bufSize, 1048576);
  EXPECT_EQ(r->timeoutSeconds, 30u);
  EXPECT_TRUE(r->clipboard);
  EXPECT_EQ(r->processName, L"Tidewell");
  EXPECT_EQ(Parse({L"--size", L"2147483647", L"1"})->bufSize, INT32_MAX);
  EXPECT_TRUE(Parse({L"--help"})->help);
  EXPECT_TRUE(Parse({L"1", L"-h"})->help);
}

TEST(TraceCommand, WrongCommandLines) {
  std::string error;
  EXPECT_FALSE(Parse({}, &error));
  EXPECT_NE(error.find("which process"), std::string::npos);
  EXPECT_FALSE(Parse({L"1", L"2"}, &error));
  EXPECT_FALSE(Parse({L"0"}, &error));
  EXPECT_NE(error.find("not a process id"), std::string::npos);
  EXPECT_FALSE(Parse({L"4294967296"}));
  EXPECT_FALSE(Parse({L"0x"}, &error));
  EXPECT_FALSE(Parse({L"0x123456789"}));
  EXPECT_FALSE(Parse({L"--size", L"1", L"1"}));
  EXPECT_FALSE(Parse({L"--size", L"2147483648", L"1"}));
  EXPECT_FALSE(Parse({L"--size", L"-5", L"1"}));
  EXPECT_FALSE(Parse({L"--timeout", L"0", L"1"}));
  EXPECT_FALSE(Parse({L"--timeout"}, &error));
  EXPECT_NE(error.find("needs a value"), std::string::npos);
  EXPECT_FALSE(Parse({L"--verbose", L"1"}, &error));
  EXPECT_NE(error.find("unknown option --verbose"), std::string::npos);
  EXPECT_FALSE(Parse({L""}));
}

TEST(TraceCommand, ProcessIds) {
  EXPECT_EQ(ParseProcessId(L"4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseProcessId(L"0xffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseProcessId(L"$0"), std::nullopt);
  EXPECT_EQ(ParseProcessId(L"12a"), std::nullopt);
  EXPECT_EQ(ParseProcessId(L"$g"), std::nullopt);
  EXPECT_EQ(ParseProcessId(L""), std::nullopt);
}

TEST(TraceCommand, ExeNamesMatchWithOrWithoutTheExtension) {
  EXPECT_TRUE(ExeNameMatches(L"Tidewell.exe", L"Tidewell.exe"));
  EXPECT_TRUE(ExeNameMatches(L"Tidewell.exe", L"tidewell.EXE"));
  EXPECT_TRUE(ExeNameMatches(L"Tidewell.exe", L"TIDEWELL"));
  EXPECT_FALSE(ExeNameMatches(L"TidewellSim.exe", L"Tidewell"));
  EXPECT_FALSE(ExeNameMatches(L"Tidewell.exe", L"Tidewell.ex"));
  EXPECT_FALSE(ExeNameMatches(L"Tidewell.com", L"Tidewell"));
  EXPECT_FALSE(ExeNameMatches(L"Tidewell.exe", L""));
}

TEST(TraceCommand, AReportThatFillsTheBufferMayBeCut) {
  EXPECT_FALSE(ReportMayBeCut(8, 10));
  EXPECT_TRUE(ReportMayBeCut(9, 10));
  EXPECT_FALSE(ReportMayBeCut(9, 0));
}

} // namespace
} // namespace kestrace
