#pragma once
// The station's memory command protocol and the reply-counting session that drives the
// main window. Portable: the window and the checked-out device are reached through the two
// narrow interfaces below, so the session runs the same against the real window and a test.
#include <array>
#include <cstdint>
#include <string>

// What the session changes in the window.
class IStationWindow {
public:
  virtual ~IStationWindow() = default;
  virtual void SetErrorText(const std::string &text) = 0;   // lblErrorMessage
  virtual void SetCurrentText(const std::string &text) = 0; // edtCurrent
  // A read or set sequence completed: enable btnSet, btnRefresh and btnExit, in this order.
  virtual void EnableCommandButtons() = 0;
};

// The checked-out station: one output report written synchronously.
class IStationDevice {
public:
  virtual ~IStationDevice() = default;
  // Writes toWrite bytes (report ID first); on success bytesWritten receives the count
  // written. A device that cannot be opened returns false and leaves bytesWritten alone.
  virtual bool WriteFile(const uint8_t *report, uint32_t toWrite, uint32_t &bytesWritten) = 0;
};

enum : uint8_t {
  ssIdle = 0,
  ssReading = 1,
  ssIntervalWritten = 2,
  ssFlagWritten = 3,
};

inline constexpr uint8_t kStationReadCommand = 0xA1;
inline constexpr uint8_t kStationWriteCommand = 0xA2;
inline constexpr uint16_t kIntervalAddress = 0x0010;
inline constexpr uint16_t kFlagAddress = 0x001A;
inline constexpr uint8_t kFlagValue = 0xAA;
inline constexpr int kRepliesPerRead = 4;

class TStationSession {
public:
  explicit TStationSession(IStationWindow &window) : FWindow(window) {}

  // The device checked out from the controller; null until a check-out succeeded.
  void SetDevice(IStationDevice *device) { FDevice = device; }
  IStationDevice *Device() const { return FDevice; }

  void RequestData(uint8_t highbyte, uint8_t lowbyte);
  void WriteByte(uint8_t highbyte, uint8_t lowbyte, int value);
  // One input report of the station: the bytes after the report ID.
  void StationData(uint8_t reportId, const uint8_t *data, uint16_t size);

  uint8_t SessionState = ssIdle;
  int32_t ReplyCount = 0;
  std::array<uint8_t, 9> CommandReport{};

private:
  void Send(uint8_t newState);

  IStationWindow &FWindow;
  IStationDevice *FDevice = nullptr;
};
