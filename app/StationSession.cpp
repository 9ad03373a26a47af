#include "app/StationSession.h"

namespace {

void FillCommand(std::array<uint8_t, 9> &report, uint8_t command, uint8_t highbyte, uint8_t lowbyte,
                 uint8_t byte6, uint8_t byte7) {
  report = {0x00, command, highbyte, lowbyte, 0x20, command, byte6, byte7, 0x20};
}

} // namespace

void TStationSession::RequestData(uint8_t highbyte, uint8_t lowbyte) {
  FillCommand(CommandReport, kStationReadCommand, highbyte, lowbyte, highbyte, lowbyte);
  Send(ssReading);
}

void TStationSession::WriteByte(uint8_t highbyte, uint8_t lowbyte, int value) {
  FillCommand(CommandReport, kStationWriteCommand, highbyte, lowbyte, uint8_t(value & 0xFF), 0x00);
  Send(ssIntervalWritten);
}

void TStationSession::Send(uint8_t newState) {
  if (!FDevice) {
    FWindow.SetErrorText("USB device not assigned");
    return;
  }
  ReplyCount = 0;
  SessionState = newState;
  uint32_t written = 0;
  FDevice->WriteFile(CommandReport.data(), uint32_t(CommandReport.size()), written);
  if (written == 0)
    FWindow.SetErrorText("Failed to write to USB");
}

void TStationSession::StationData(uint8_t /*reportId*/, const uint8_t *data, uint16_t size) {
  ++ReplyCount;
  switch (SessionState) {
  case ssReading:
    if (ReplyCount == 1) {
      // A reply without data bytes has nothing to show; it still counts.
      if (size > 0)
        FWindow.SetCurrentText(std::to_string(unsigned(data[0])));
    } else if (ReplyCount == kRepliesPerRead) {
      SessionState = ssIdle;
      FWindow.EnableCommandButtons();
    }
    break;
  case ssIntervalWritten:
    WriteByte(kFlagAddress >> 8, kFlagAddress & 0xFF, kFlagValue);
    SessionState = ssFlagWritten;
    break;
  case ssFlagWritten:
    SessionState = ssIdle;
    FWindow.EnableCommandButtons();
    break;
  default:
    break;
  }
}
