// kestrace's command line: the process by id or name, the options and their limits.
#include "tools/kestrace/TraceCommand.h"

#include <gtest/gtest.h>

namespace kestrace {
namespace {

std::optional<TraceRequest> Parse(std::vector<std::wstring> args) {
  std::string error;
  std::optional<TraceRequest> request = ParseTraceCommand(args, error);
  EXPECT_EQ(request.has_value(), error.empty()) << error;
  return request;
}

TEST(TraceCommand, ProcessByIdOrNameAndOptions) {
  EXPECT_EQ(Parse({L"6700"})->processId, 6700u);
  EXPECT_EQ(Parse({L"0x1a2c"})->processId, 0x1a2cu);
  EXPECT_EQ(Parse({L"$1A2C"})->processId, 0x1a2cu);
  EXPECT_EQ(Parse({L"7zFM.exe"})->processName, L"7zFM.exe");
  std::optional<TraceRequest> r = Parse({L"--size", L"1048576", L"--timeout", L"30", L"--clipboard", L"Tidewell"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->processId, 0u);
  EXPECT_EQ(r->processName, L"Tidewell");
  EXPECT_EQ(r->bufSize, 1048576);
  EXPECT_EQ(r->timeoutSeconds, 30u);
  EXPECT_TRUE(r->clipboard);
  EXPECT_EQ(Parse({L"1"})->bufSize, kDefaultBufferSize);
  EXPECT_TRUE(Parse({L"1", L"-h"})->help);
}

TEST(TraceCommand, WrongCommandLines) {
  for (std::vector<std::wstring> args : std::vector<std::vector<std::wstring>>{
           {}, {L"1", L"2"}, {L"0"}, {L"4294967296"}, {L"0x"}, {L"$g"}, {L"0x123456789"}, {L""},
           {L"--size", L"1", L"1"}, {L"--size", L"2147483648", L"1"}, {L"--timeout", L"0", L"1"}, {L"--timeout"},
           {L"--verbose", L"1"}}) {
    std::string error;
    EXPECT_FALSE(ParseTraceCommand(args, error)) << args.size();
    EXPECT_FALSE(error.empty());
  }
}

TEST(TraceCommand, NamesIdsAndCutReports) {
  EXPECT_EQ(ParseProcessId(L"0xffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseProcessId(L"12a"), std::nullopt);
  EXPECT_TRUE(ExeNameMatches(L"Tidewell.exe", L"tidewell.EXE"));
  EXPECT_TRUE(ExeNameMatches(L"Tidewell.exe", L"TIDEWELL"));
  EXPECT_FALSE(ExeNameMatches(L"TidewellSim.exe", L"Tidewell"));
  EXPECT_FALSE(ExeNameMatches(L"Tidewell.com", L"Tidewell"));
  EXPECT_FALSE(ExeNameMatches(L"Tidewell.exe", L""));
  EXPECT_FALSE(ReportMayBeCut(8, 10));
  EXPECT_TRUE(ReportMayBeCut(9, 10));
}

} // namespace
} // namespace kestrace
