#include "app/StationSession.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Report = std::vector<uint8_t>;

struct FakeWindow : IStationWindow {
  std::string error = "untouched", current = "0";
  int enables = 0;
  void SetErrorText(const std::string &text) override { error = text; }
  void SetCurrentText(const std::string &text) override { current = text; }
  void EnableCommandButtons() override { ++enables; }
};

// A scripted station link: records every report and writes all or nothing.
struct FakeDevice : IStationDevice {
  std::vector<Report> sent;
  bool accepts = true;
  bool WriteFile(const uint8_t *report, uint32_t toWrite, uint32_t &bytesWritten) override {
    if (!accepts)
      return false;
    sent.emplace_back(report, report + toWrite);
    bytesWritten = toWrite;
    return true;
  }
};

struct SessionTest : ::testing::Test {
  FakeWindow window;
  FakeDevice device;
  TStationSession session{window};
  void SetUp() override { session.SetDevice(&device); }
  void Reply(uint8_t first = 0x00) {
    uint8_t data[8] = {first, 1, 2, 3, 4, 5, 6, 7};
    session.StationData(0, data, 8);
  }
};

const Report kReadInterval{0x00, 0xA1, 0x00, 0x10, 0x20, 0xA1, 0x00, 0x10, 0x20};

} // namespace

TEST_F(SessionTest, ReadCommandLayout) {
  session.RequestData(0x00, 0x10);
  ASSERT_EQ(device.sent.size(), 1u);
  EXPECT_EQ(device.sent[0], kReadInterval);
  EXPECT_EQ(session.SessionState, ssReading);
  EXPECT_EQ(session.ReplyCount, 0);
  session.RequestData(0x12, 0x34);
  EXPECT_EQ(device.sent[1], (Report{0x00, 0xA1, 0x12, 0x34, 0x20, 0xA1, 0x12, 0x34, 0x20}));
}

TEST_F(SessionTest, ReadShowsFirstByteOfFirstReplyAndCompletesAtTheFourth) {
  session.RequestData(0x00, 0x10);
  Reply(0x3C);
  EXPECT_EQ(window.current, "60");
  Reply(0x99);
  Reply(0x98);
  EXPECT_EQ(window.current, "60") << "only the first reply is shown";
  EXPECT_EQ(window.enables, 0);
  Reply();
  EXPECT_EQ(window.enables, 1);
  EXPECT_EQ(session.SessionState, ssIdle);
  Reply(0x01);
  EXPECT_EQ(window.enables, 1) << "a fifth reply changes nothing";
  EXPECT_EQ(window.current, "60");
  EXPECT_EQ(session.ReplyCount, 5) << "but is still counted";
  EXPECT_EQ(device.sent.size(), 1u);
}

TEST_F(SessionTest, ShowsFullByteRangeWithoutLeadingZeros) {
  for (uint8_t value : {uint8_t(0), uint8_t(7), uint8_t(255)}) {
    session.RequestData(0x00, 0x10);
    Reply(value);
    EXPECT_EQ(window.current, std::to_string(value));
  }
}

TEST_F(SessionTest, ReadDuringReadRestartsTheCount) {
  session.RequestData(0x00, 0x10);
  Reply(0x1E);
  Reply();
  session.RequestData(0x00, 0x10);
  Reply(0x2D);
  EXPECT_EQ(window.current, "45") << "the next reply is treated as the first";
  Reply();
  Reply();
  EXPECT_EQ(window.enables, 0);
  Reply();
  EXPECT_EQ(window.enables, 1);
}

TEST_F(SessionTest, SetSequenceWritesIntervalThenFlag) {
  session.WriteByte(0x00, 0x10, 240);
  ASSERT_EQ(device.sent.size(), 1u);
  EXPECT_EQ(device.sent[0], (Report{0x00, 0xA2, 0x00, 0x10, 0x20, 0xA2, 0xF0, 0x00, 0x20}));
  EXPECT_EQ(session.SessionState, ssIntervalWritten);
  Reply(0xA5);
  ASSERT_EQ(device.sent.size(), 2u);
  EXPECT_EQ(device.sent[1], (Report{0x00, 0xA2, 0x00, 0x1A, 0x20, 0xA2, 0xAA, 0x00, 0x20}));
  EXPECT_EQ(session.SessionState, ssFlagWritten);
  EXPECT_EQ(session.ReplyCount, 0);
  EXPECT_EQ(window.enables, 0);
  Reply(0xA5);
  EXPECT_EQ(session.SessionState, ssIdle);
  EXPECT_EQ(window.enables, 1);
  EXPECT_EQ(window.current, "0") << "a set does not read the interval back";
}

TEST_F(SessionTest, WriteSendsOnlyTheLowByteOfTheValue) {
  session.WriteByte(0x00, 0x10, 0x1F0);
  EXPECT_EQ(device.sent[0][6], 0xF0);
}

TEST_F(SessionTest, NoDeviceLeavesStateAndSendsNothing) {
  session.RequestData(0x00, 0x10);
  Reply();
  session.SetDevice(nullptr);
  session.RequestData(0x00, 0x10);
  EXPECT_EQ(window.error, "USB device not assigned");
  EXPECT_EQ(session.SessionState, ssReading);
  EXPECT_EQ(session.ReplyCount, 1);
  session.WriteByte(0x00, 0x10, 5);
  EXPECT_EQ(session.SessionState, ssReading);
  EXPECT_EQ(device.sent.size(), 1u);
}

TEST_F(SessionTest, FailedSendKeepsTheNewStateAndReportsIt) {
  device.accepts = false;
  session.WriteByte(0x00, 0x10, 30);
  EXPECT_EQ(window.error, "Failed to write to USB");
  EXPECT_EQ(session.SessionState, ssIntervalWritten);
  window.error.clear();
  session.RequestData(0x00, 0x10);
  EXPECT_EQ(window.error, "Failed to write to USB");
  EXPECT_EQ(session.SessionState, ssReading);
  EXPECT_EQ(window.enables, 0);
}

TEST_F(SessionTest, FlagWriteFailureStillMovesToFlagWritten) {
  session.WriteByte(0x00, 0x10, 30);
  device.accepts = false;
  Reply();
  EXPECT_EQ(window.error, "Failed to write to USB");
  EXPECT_EQ(session.SessionState, ssFlagWritten);
}

TEST_F(SessionTest, RepliesWhileIdleAreCountedAndIgnored) {
  Reply();
  Reply();
  EXPECT_EQ(session.ReplyCount, 2);
  EXPECT_EQ(window.enables, 0);
  EXPECT_EQ(window.current, "0");
  EXPECT_TRUE(device.sent.empty());
}

TEST_F(SessionTest, EmptyFirstReplyIsCountedButShowsNothing) {
  session.RequestData(0x00, 0x10);
  session.StationData(0, nullptr, 0);
  EXPECT_EQ(session.ReplyCount, 1);
  EXPECT_EQ(window.current, "0");
}
