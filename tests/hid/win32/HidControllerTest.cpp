// The HID controller, devices and read threads over the simulated platform, under Wine.
#include "hid/win32/HidController.h"
#include "hid/win32/SimHidPlatform.h"
#include "runtime/Exception.h"
#include "runtime/win32/Application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dbt.h>
#include <string>
#include <vector>

namespace {

struct EventLog {
  std::vector<std::string> events;
  int deviceChanges = 0;
  std::vector<std::vector<uint8_t>> data;
  std::vector<uint8_t> reportIds;
  int dataErrors = 0;
};
EventLog *Log = nullptr;

std::string Name(TJvHidDevice *dev) { return std::to_string(dev->PnPInfo().DeviceID()); }
void Arrival(void *, TJvHidDevice *dev) { Log->events.push_back("arrival " + Name(dev)); }
void Removal(void *, TJvHidDevice *dev) { Log->events.push_back("removal " + Name(dev)); }
void Unplug(void *, TJvHidDevice *dev) { Log->events.push_back("unplug " + Name(dev)); }
void DeviceChange(void *, void *) { ++Log->deviceChanges; }
void Data(void *, TJvHidDevice *, uint8_t reportId, const void *bytes, uint16_t size) {
  auto p = static_cast<const uint8_t *>(bytes);
  Log->reportIds.push_back(reportId);
  Log->data.emplace_back(p, p + size);
}
void OtherData(void *, TJvHidDevice *, uint8_t, const void *, uint16_t) {}
void DataError(void *, TJvHidDevice *, uint32_t) { ++Log->dataErrors; }

class HidControllerTest : public ::testing::Test {
protected:
  void SetUp() override {
    Log = &log;
    Application = &app;
    SetHidPlatform(&sim);
  }
  void TearDown() override {
    controller.reset();
    SetHidPlatform(nullptr);
    Application = nullptr;
    Log = nullptr;
  }
  // Creates the controller with the handlers installed, then lets its first pass run.
  void Start() {
    controller = std::make_unique<TJvHidDeviceController>();
    controller->SetOnArrival({Arrival, nullptr});
    controller->SetOnRemoval({Removal, nullptr});
    controller->SetOnDeviceUnplug({Unplug, nullptr});
    if (sim.HidLibraryAvailable)
      PumpUntil([&] { return int(controller->Devices().size()) == plugged; });
    Pump();
  }
  void Pump(int ms = 50) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      app.ProcessMessages();
      Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
  }
  template <class Pred> bool PumpUntil(Pred pred, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && std::chrono::steady_clock::now() < end)
      Pump(10);
    return pred();
  }
  uint32_t PlugStation(int n) { return Plug(FineOffsetStation(n)); }
  uint32_t Plug(const TSimDeviceInfo &info) {
    ++plugged;
    return sim.Plug(info);
  }

  EventLog log;
  TApplication app;
  TSimHidPlatform sim;
  std::unique_ptr<TJvHidDeviceController> controller;
  int plugged = 0;
};

} // namespace

TEST_F(HidControllerTest, FirstPassWaitsForTheMessageLoop) {
  uint32_t a = PlugStation(1);
  controller = std::make_unique<TJvHidDeviceController>();
  controller->SetOnArrival({Arrival, nullptr});
  TJvHidDevice *dev = reinterpret_cast<TJvHidDevice *>(1);
  EXPECT_FALSE(controller->CheckOutByID(dev, 0x1941, 0x8021));
  EXPECT_EQ(dev, nullptr);
  EXPECT_TRUE(controller->Devices().empty());
  ASSERT_TRUE(PumpUntil([&] { return controller->Devices().size() == 1; }));
  EXPECT_EQ(log.events, std::vector<std::string>{"arrival " + std::to_string(a)});
  EXPECT_EQ(controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(controller->Version(), "1.0.35");
  controller->SetVersion("2.0");
  EXPECT_EQ(controller->Version(), "1.0.35");
}

TEST_F(HidControllerTest, DeviceChangeHandlerRunsAPassAtOnceAndAfterTheFirstPass) {
  controller = std::make_unique<TJvHidDeviceController>();
  controller->SetOnDeviceChange({DeviceChange, nullptr});
  EXPECT_EQ(log.deviceChanges, 0) << "setting it runs a pass, which found no change";
  EXPECT_TRUE(PumpUntil([&] { return log.deviceChanges == 1; }))
      << "the controller's own first message counts as a change, even with no device";
  Pump();
  EXPECT_EQ(log.deviceChanges, 1);
}

TEST_F(HidControllerTest, UnplugOfListedDeviceRemovesIt) {
  uint32_t a = PlugStation(1);
  Start();
  controller->SetOnDeviceChange({DeviceChange, nullptr});
  sim.Unplug(a);
  ASSERT_TRUE(PumpUntil([&] { return controller->Devices().empty(); }));
  EXPECT_EQ(log.events.back(), "removal " + std::to_string(a));
  EXPECT_TRUE(controller->Devices().empty());
  EXPECT_EQ(log.deviceChanges, 1);
  EXPECT_EQ(controller->NumCheckedInDevices(), 0);
}

TEST_F(HidControllerTest, UnplugOfCheckedOutDeviceKeepsItUntilCheckIn) {
  uint32_t a = PlugStation(1);
  Start();
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOutByID(dev, 0x1941, 0x8021));
  log.events.clear();
  sim.Unplug(a);
  PumpUntil([&] { return log.events.size() >= 2; });
  std::string id = std::to_string(a);
  EXPECT_EQ(log.events, (std::vector<std::string>{"unplug " + id, "removal " + id}));
  EXPECT_EQ(controller->Devices().size(), 1u);
  EXPECT_EQ(controller->NumUnpluggedDevices(), 1);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
  EXPECT_FALSE(dev->IsPluggedIn());

  uint32_t written = 77;
  uint8_t report[9] = {};
  EXPECT_FALSE(dev->WriteFile(report, 9, written));
  EXPECT_EQ(written, 77u) << "the count stays as the caller set it";

  // Every further pass reports it again; the unplug event fires only once.
  sim.NotifyDeviceChange();
  PumpUntil([&] { return log.events.size() >= 3; });
  EXPECT_EQ(log.events, (std::vector<std::string>{"unplug " + id, "removal " + id, "removal " + id}));

  // Plugged in again while the old object is still borrowed: a second entry.
  sim.Plug(FineOffsetStation(1));
  EXPECT_TRUE(PumpUntil([&] { return controller->Devices().size() == 2; }));

  controller->CheckIn(dev);
  EXPECT_EQ(dev, nullptr);
  EXPECT_EQ(controller->Devices().size(), 1u);
  EXPECT_EQ(controller->NumUnpluggedDevices(), 0);
  EXPECT_TRUE(controller->Devices()[0]->IsPluggedIn());
}

TEST_F(HidControllerTest, CheckOutByIdTakesMatchingDevicesInListOrder) {
  PlugStation(1);
  TSimDeviceInfo other;
  other.Path = L"\\\\?\\hid#vid_046d&pid_c52b#other";
  other.VendorID = 0x046D;
  other.ProductID = 0xC52B;
  Plug(other);
  PlugStation(2);
  Start();
  TJvHidDevice *first = nullptr, *second = nullptr, *third = nullptr;
  ASSERT_TRUE(controller->CheckOutByID(first, 0x1941, 0x8021));
  ASSERT_TRUE(controller->CheckOutByID(second, 0x1941, -1));
  EXPECT_EQ(first, controller->Devices()[0]);
  EXPECT_EQ(second, controller->Devices()[2]);
  EXPECT_FALSE(controller->CheckOutByID(third, 0x1941, 0x8021));
  EXPECT_EQ(third, nullptr);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 2);
  EXPECT_EQ(controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(controller->CountByID(0x1941, 0x8021), 2) << "counting includes checked-out devices";

  controller->CheckIn(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 1);
  ASSERT_TRUE(controller->CheckOutByID(third, 0x1941, 0x8021));
  EXPECT_EQ(third, controller->Devices()[0]);
}

TEST_F(HidControllerTest, CheckOutByIndexAndClassAndNames) {
  PlugStation(1);
  PlugStation(2);
  Start();
  TJvHidDevice *dev = reinterpret_cast<TJvHidDevice *>(1);
  EXPECT_FALSE(controller->CheckOutByIndex(dev, -1));
  EXPECT_EQ(dev, nullptr);
  EXPECT_FALSE(controller->CheckOutByIndex(dev, 2));
  ASSERT_TRUE(controller->CheckOutByIndex(dev, 1));
  EXPECT_EQ(dev, controller->Devices()[1]);
  EXPECT_FALSE(controller->CheckOutByIndex(dev, 1)) << "already lent out";

  EXPECT_FALSE(controller->CheckOutByClass(dev, L""));
  EXPECT_FALSE(controller->CheckOutByClass(dev, L"Keyboard"));
  EXPECT_TRUE(controller->CheckOutByClass(dev, L"HIDClass"));
  EXPECT_EQ(dev, controller->Devices()[0]);
}

TEST_F(HidControllerTest, NamesAreCachedOnlyWhileAccessible) {
  TSimDeviceInfo info = FineOffsetStation(1);
  info.Product = L"WH1080";
  info.Manufacturer = L"Fine Offset";
  uint32_t id = Plug(info);
  Start();
  TJvHidDevice *dev = nullptr;
  // Outside a callback a listed device cannot be opened, so its name was never read.
  EXPECT_FALSE(controller->CheckOutByProductName(dev, L"WH1080"));
  EXPECT_EQ(controller->CountByProductName(L"WH1080"), 0);

  ASSERT_TRUE(controller->CheckOut(dev));
  int before = sim.StringRequests(id);
  EXPECT_EQ(dev->VendorName(), L"Fine Offset");
  EXPECT_EQ(dev->VendorName(), L"Fine Offset");
  EXPECT_EQ(sim.StringRequests(id), before + 1) << "a non-empty name is read once";
  EXPECT_EQ(dev->ProductName(), L"WH1080");
  controller->CheckIn(dev);
  EXPECT_TRUE(controller->CheckOutByProductName(dev, L"WH1080")) << "the cached name matches now";
}

TEST_F(HidControllerTest, EnumerateWithoutHandlerStopsAfterTheFirstDevice) {
  PlugStation(1);
  PlugStation(2);
  PlugStation(3);
  Start();
  EXPECT_EQ(controller->Enumerate(), 1);
  static int seen;
  seen = 0;
  controller->SetOnEnumerate({[](void *, TJvHidDevice *dev, int idx) {
                                ++seen;
                                EXPECT_TRUE(dev->IsAccessible()) << "marked as being enumerated";
                                return idx < 1;
                              },
                              nullptr});
  EXPECT_EQ(controller->Enumerate(), 2);
  EXPECT_EQ(seen, 2);
  EXPECT_FALSE(controller->Devices()[0]->IsAccessible());
  EXPECT_EQ(sim.OpenHandleCount(), 0) << "handles closed after the walk";
}

TEST_F(HidControllerTest, CheckOutByCallbackSeesAccessibleDevices) {
  TSimDeviceInfo info = FineOffsetStation(1);
  info.Product = L"Station";
  Plug(info);
  Start();
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOutByCallback(dev, [](TJvHidDevice *d) { return d->ProductName() == L"Station"; }));
  EXPECT_TRUE(dev->IsCheckedOut());
  EXPECT_EQ(controller->CountByCallback([](TJvHidDevice *) { return true; }), 1);
}

TEST_F(HidControllerTest, ThreadSleepTimeBounds) {
  PlugStation(1);
  Start();
  TJvHidDevice *dev = controller->Devices()[0];
  for (int bad : {9, 10001, -1})
    dev->SetThreadSleepTime(bad);
  EXPECT_EQ(dev->ThreadSleepTime(), 100);
  dev->SetThreadSleepTime(10);
  EXPECT_EQ(dev->ThreadSleepTime(), 10);
  dev->SetThreadSleepTime(10000);
  EXPECT_EQ(dev->ThreadSleepTime(), 10000);

  controller->SetDevThreadSleepTime(50);
  EXPECT_EQ(dev->ThreadSleepTime(), 10000) << "only devices at the controller's value follow it";
}

TEST_F(HidControllerTest, SerialNumberAndLanguageRules) {
  TSimDeviceInfo plain = FineOffsetStation(1);
  plain.Serial = L"SN-42";
  plain.LanguageIds = {0x0409, 0x1234};
  TSimDeviceInfo echo = FineOffsetStation(2);
  echo.Serial = std::wstring(1, wchar_t(0x0409)); // answers with its language list
  echo.LanguageIds = {0x0409};
  TSimDeviceInfo noLanguages = FineOffsetStation(3);
  noLanguages.Serial = L"SN-43";
  Plug(plain);
  Plug(echo);
  Plug(noLanguages);
  Start();
  TJvHidDevice *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_TRUE(controller->CheckOut(a));
  ASSERT_TRUE(controller->CheckOut(b));
  ASSERT_TRUE(controller->CheckOut(c));
  EXPECT_EQ(a->SerialNumber(), L"SN-42");
  EXPECT_EQ(b->SerialNumber(), L"");
  EXPECT_EQ(c->SerialNumber(), L"");
  const auto &languages = a->LanguageStrings();
  ASSERT_EQ(languages.size(), 2u);
  EXPECT_FALSE(languages[0].empty());
  EXPECT_EQ(languages[1], "Unknown Locale ID $1234");
  EXPECT_TRUE(c->LanguageStrings().empty());
}

TEST_F(HidControllerTest, ReportParsingNeedsAnAccessibleDevice) {
  PlugStation(1);
  Start();
  TJvHidDevice *dev = controller->Devices()[0];
  uint16_t count = 1;
  HIDP_BUTTON_CAPS caps[1];
  EXPECT_EQ(dev->GetButtonCaps(caps, count), kHidpStatusNull);
  ASSERT_TRUE(controller->CheckOut(dev));
  EXPECT_EQ(dev->GetButtonCaps(caps, count), TSimHidPlatform::kUsageNotFound);
  EXPECT_EQ(dev->Caps().InputReportByteLength, 9);
  EXPECT_EQ(dev->LinkCollectionNodes(0).LinkUsagePage, 0xFF00);
  EXPECT_EQ(dev->LinkCollectionNodes(5).LinkUsagePage, 0) << "out of range gives a zeroed node";
}

TEST_F(HidControllerTest, ReadThreadDeliversReportsOnTheGuiThread) {
  uint32_t id = PlugStation(1);
  Start();
  controller->SetOnDeviceData({Data, nullptr});
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOutByID(dev, 0x1941, 0x8021));
  EXPECT_TRUE(dev->HasReadThread());
  sim.InjectInputReport(id, {0x00, 1, 2, 3, 4, 5, 6, 7, 8});
  sim.InjectInputReport(id, {0x07});
  ASSERT_TRUE(PumpUntil([&] { return log.data.size() == 2; }));
  EXPECT_EQ(log.data[0], (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(log.reportIds[0], 0);
  EXPECT_TRUE(log.data[1].empty()) << "a one-byte report has size 0";
  EXPECT_EQ(log.reportIds[1], 7);

  // A station command answered through the same path.
  sim.SetMemory(id, 0x10, 0x3C);
  uint8_t read[9] = {0x00, 0xA1, 0x00, 0x10, 0x20, 0xA1, 0x00, 0x10, 0x20};
  uint32_t written = 0;
  ASSERT_TRUE(dev->WriteFile(read, 9, written));
  EXPECT_EQ(written, 9u);
  ASSERT_TRUE(PumpUntil([&] { return log.data.size() == 6; }));
  EXPECT_EQ(log.data[2][0], 0x3C);

  // Check-in with no report arriving ends the thread and cancels its read.
  controller->CheckIn(dev);
  EXPECT_EQ(sim.PendingReadCount(), 0);
  EXPECT_EQ(sim.OpenHandleCount(), 0);
}

TEST_F(HidControllerTest, DataHandlerPropagatesToDevicesStillOnTheOldOne) {
  PlugStation(1);
  PlugStation(2);
  Start();
  controller->SetOnDeviceData({Data, nullptr});
  TJvHidDevice *a = controller->Devices()[0], *b = controller->Devices()[1];
  b->SetOnData({OtherData, nullptr});
  controller->SetOnDeviceData({Data, reinterpret_cast<void *>(5)});
  EXPECT_EQ(a->OnData().Data, nullptr) << "same callable: nothing happens";
  controller->SetOnDeviceData({OtherData, nullptr});
  EXPECT_EQ(a->OnData().Code, &OtherData);
  EXPECT_EQ(b->OnData().Code, &OtherData);
  PlugStation(3);
  ASSERT_TRUE(PumpUntil([&] { return controller->Devices().size() == 3; }));
  EXPECT_EQ(controller->Devices()[2]->OnData().Code, &OtherData) << "new devices take the controller's handler";
}

TEST_F(HidControllerTest, DataErrorRepeatsAfterUnplugUntilCheckIn) {
  uint32_t id = PlugStation(1);
  Start();
  controller->SetOnDeviceData({Data, nullptr});
  controller->SetOnDeviceDataError({DataError, nullptr});
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOut(dev));
  sim.Unplug(id);
  ASSERT_TRUE(PumpUntil([&] { return log.dataErrors >= 3; }));
  controller->CheckIn(dev);
  int errors = log.dataErrors;
  Pump(100);
  EXPECT_EQ(log.dataErrors, errors) << "the read thread ended";
  EXPECT_TRUE(controller->Devices().empty());
}

TEST_F(HidControllerTest, DestroyingABorrowedDeviceChecksItIn) {
  PlugStation(1);
  PlugStation(2);
  Start();
  controller->SetOnDeviceData({Data, nullptr});
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOutByIndex(dev, 1));
  dev->SetThreadSleepTime(40);
  delete dev;
  ASSERT_EQ(controller->Devices().size(), 2u);
  TJvHidDevice *fresh = controller->Devices()[1];
  EXPECT_FALSE(fresh->IsCheckedOut());
  EXPECT_EQ(fresh->ThreadSleepTime(), 40);
  EXPECT_EQ(fresh->OnData().Code, &Data);
  EXPECT_EQ(fresh->OnUnplug.Code, &Unplug);
  EXPECT_EQ(controller->NumCheckedInDevices(), 2);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
}

TEST_F(HidControllerTest, DeviceWithoutReadWriteAccessIsListedButNeverRead) {
  TSimDeviceInfo info = FineOffsetStation(1);
  info.RefusesReadWrite = true;
  Plug(info);
  Start();
  controller->SetOnDeviceData({Data, nullptr});
  TJvHidDevice *dev = nullptr;
  ASSERT_TRUE(controller->CheckOut(dev));
  EXPECT_FALSE(dev->HasReadWriteAccess());
  EXPECT_FALSE(dev->HasReadThread());
  EXPECT_EQ(dev->Attributes().VendorID, 0x1941) << "identified without access rights";
  uint32_t written = 5;
  uint8_t report[9] = {};
  EXPECT_FALSE(dev->WriteFile(report, 9, written));
}

TEST_F(HidControllerTest, DirectCreationIsRefused) {
  try {
    TJvHidDevice::Create();
    FAIL();
  } catch (const EControllerError &e) {
    EXPECT_EQ(e.Message(), "Direct creation of a TJvHidDevice object is not allowed");
  }
}

TEST_F(HidControllerTest, WithoutTheHidLibraryTheListStaysEmpty) {
  PlugStation(1);
  sim.HidLibraryAvailable = false;
  Start();
  EXPECT_TRUE(controller->Devices().empty());
  const GUID fixed = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_TRUE(IsEqualGUID(controller->HidGuid(), fixed));
  TJvHidDevice *dev = nullptr;
  EXPECT_FALSE(controller->CheckOut(dev));
}

TEST(Win32HidPlatformTest, EnumeratesWhatTheSystemOffersWithoutError) {
  TApplication app;
  Application = &app;
  SetHidPlatform(nullptr);
  {
    TJvHidDeviceController controller;
    auto end = GetTickCount() + 300;
    while (GetTickCount() < end) {
      app.ProcessMessages();
      Sleep(10);
    }
    EXPECT_EQ(controller.NumCheckedInDevices(), int(controller.Devices().size()));
    for (TJvHidDevice *dev : controller.Devices())
      EXPECT_TRUE(dev->IsPluggedIn());
  }
  Application = nullptr;
}
