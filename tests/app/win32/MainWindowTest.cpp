// The real TForm1 in a real window, read back through window messages.
#include "app/win32/MainUnit.h"
#include "hid/win32/SimHidPlatform.h"
#include "runtime/ClassInfo.h"
#include "runtime/win32/Application.h"
#include "runtime/win32/WideText.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace {

struct CaughtException {
  std::string className, message;
  int count = 0;
};

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application = &app;
    MainUnitInitialization();
    app.Initialize();
    app.OnException = [this](void *, std::exception_ptr e) {
      auto d = DescribeException(e);
      caught.className = d.className;
      caught.message = d.message;
      ++caught.count;
    };
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->Show();
    app.ProcessMessages();
  }
  void TearDown() override {
    Form1 = nullptr;
    form.reset();
    Application = nullptr;
  }

  HWND Control(int id) const {
    HWND h = GetDlgItem(form->Handle(), id);
    return h ? h : GetDlgItem(form->Panel1->Handle(), id);
  }
  std::string Text(int id) const { return WindowText(Control(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  void Click(int id) {
    SendMessageW(Control(id), BM_CLICK, 0, 0);
    app.ProcessMessages();
  }
  void Type(int id, const std::string &text) { SetWindowTextW(Control(id), Widen(text).c_str()); }
  RECT BoundsInParent(int id) const {
    HWND h = Control(id);
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT *>(&r), 2);
    return r;
  }
  // Enables what a successful Connect enables, without a station.
  void PretendConnected() {
    for (int id : {idBtnRefresh, idBtnSet, idEdtNew})
      EnableWindow(Control(id), TRUE);
  }

  TApplication app;
  std::unique_ptr<TForm1> form;
  CaughtException caught;
};

struct Layout {
  int id, parent; // parent: 0 the window, else the panel
  int left, top, width, height;
  const char *text;
  const char *windowClass;
};

const Layout kLayout[] = {
    {idLbl1, 0, 56, 24, 470, 13,
     "This utility allows the setting of the logger interval in a Fine Offset station. Use it at your own "
     "risk.",
     "Static"},
    {idLbl2, 0, 128, 43, 315, 13, "Do not use it while any other software is connected to the station", "Static"},
    {idLbl6, 0, 112, 72, 342, 13, "Intervals above 60 minutes are not recommended for use with Brightwater",
     "Static"},
    {idPanel1, 0, 24, 104, 520, 240, "", "TPanel"},
    {idBtnExit, 0, 472, 352, 75, 25, "Exit", "Button"},
    {idLblStatus, 1, 136, 61, 116, 13, "Status: DISCONNECTED", "Static"},
    {idBtnConnect, 1, 272, 56, 75, 25, "Connect", "Button"},
    {idLabel1, 1, 88, 113, 109, 13, "Current logger interval", "Static"},
    {idEdtCurrent, 1, 224, 110, 49, 21, "0", "Edit"},
    {idLbl3, 1, 288, 113, 21, 13, "mins", "Static"},
    {idBtnRefresh, 1, 360, 108, 75, 25, "Read", "Button"},
    {idLbl4, 1, 88, 161, 93, 13, "New logger interval", "Static"},
    {idEdtNew, 1, 224, 160, 49, 21, "10", "Edit"},
    {idLbl5, 1, 288, 161, 21, 13, "mins", "Static"},
    {idBtnSet, 1, 360, 156, 75, 25, "Set", "Button"},
    {idLblErrorMessage, 1, 48, 208, 76, 13, "", "Static"},
};

} // namespace

TEST_F(MainWindowTest, WindowFrame) {
  EXPECT_EQ(WindowText(form->Handle()), "Tidewell Interval");
  RECT client;
  GetClientRect(form->Handle(), &client);
  EXPECT_EQ(client.right, 570);
  EXPECT_EQ(client.bottom, 385);
  EXPECT_TRUE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW) << "shown on the task bar";
  EXPECT_EQ(GetMenu(form->Handle()), nullptr);

  // Centred in the work area (to within the rounding of odd differences).
  RECT window, work;
  GetWindowRect(form->Handle(), &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR(window.left - work.left, work.right - window.right, 1);
  EXPECT_NEAR(window.top - work.top, work.bottom - window.bottom, 1);
}

TEST_F(MainWindowTest, EveryControlWhereItBelongs) {
  for (const Layout &c : kLayout) {
    SCOPED_TRACE(c.id);
    HWND h = Control(c.id);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetParent(h), c.parent ? form->Panel1->Handle() : form->Handle());
    RECT r = BoundsInParent(c.id);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, c.height);
    EXPECT_EQ(Text(c.id), c.text);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    EXPECT_EQ(_wcsicmp(cls, Widen(c.windowClass).c_str()), 0) << Narrow(cls);
  }
}

TEST_F(MainWindowTest, FontIsTahomaEightPoint) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(Control(idBtnSet), WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTW lf{};
  GetObjectW(font, sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -11);
  EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
}

TEST_F(MainWindowTest, EditsAcceptDigitsOnly) {
  for (int id : {idEdtCurrent, idEdtNew})
    EXPECT_TRUE(GetWindowLongW(Control(id), GWL_STYLE) & ES_NUMBER);
  HWND edit = Control(idEdtNew);
  EnableWindow(edit, TRUE);
  Type(idEdtNew, "");
  SendMessageW(edit, WM_CHAR, 'x', 0);
  SendMessageW(edit, WM_CHAR, '4', 0);
  EXPECT_EQ(Text(idEdtNew), "4");
}

TEST_F(MainWindowTest, TooltipsOnNewFieldAndSet) {
  HWND tip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
  while (tip && GetWindow(tip, GW_OWNER) != form->Handle())
    tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr);
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 2);
  for (auto [id, hint] : {std::pair{idEdtNew, "Enter required logger interval from 1 to 240"},
                          std::pair{idBtnSet, "Click to set the required interval"}}) {
    wchar_t buffer[128] = {};
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = form->Handle();
    info.uId = reinterpret_cast<UINT_PTR>(Control(id));
    info.lpszText = buffer;
    SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(Narrow(buffer), hint);
  }
}

TEST_F(MainWindowTest, FormShowDisablesReadSetAndNew) {
  EXPECT_TRUE(Enabled(idBtnConnect));
  EXPECT_TRUE(Enabled(idBtnExit));
  EXPECT_FALSE(Enabled(idBtnRefresh));
  EXPECT_FALSE(Enabled(idBtnSet));
  EXPECT_FALSE(Enabled(idEdtNew));
  EXPECT_FALSE(Enabled(idEdtCurrent));
  EXPECT_EQ(Text(idLblErrorMessage), "");
  EXPECT_EQ(form->Session.SessionState, ssIdle);
  EXPECT_TRUE(HidCtl->OnDeviceData()) << "the data handler is installed";
  EXPECT_TRUE(HidCtl->OnArrival() && HidCtl->OnRemoval() && HidCtl->OnDeviceUnplug());
}

TEST_F(MainWindowTest, ConnectWithoutStationChangesNothing) {
  Click(idBtnConnect);
  EXPECT_TRUE(Enabled(idBtnConnect));
  EXPECT_FALSE(Enabled(idBtnRefresh));
  EXPECT_EQ(Text(idLblStatus), "Status: DISCONNECTED");
  EXPECT_EQ(Text(idLblErrorMessage), "");
  EXPECT_EQ(StationDevice, nullptr);
}

TEST_F(MainWindowTest, IntervalOutsideOneTo240IsRejected) {
  PretendConnected();
  for (const char *value : {"0", "241", "9999"}) {
    Type(idEdtNew, value);
    Click(idBtnSet);
    EXPECT_EQ(Text(idLblErrorMessage), "Interval must be between 1 and 240") << value;
    EXPECT_TRUE(Enabled(idBtnSet));
    EXPECT_TRUE(Enabled(idBtnRefresh));
    EXPECT_TRUE(Enabled(idBtnExit));
  }
  EXPECT_EQ(caught.count, 0);
}

TEST_F(MainWindowTest, IntervalInRangeDisablesButtonsAndSends) {
  PretendConnected();
  for (const char *value : {"1", "240"}) {
    EnableWindow(Control(idBtnSet), TRUE);
    Type(idEdtNew, value);
    Click(idBtnSet);
    EXPECT_FALSE(Enabled(idBtnSet)) << value;
    EXPECT_FALSE(Enabled(idBtnRefresh));
    EXPECT_FALSE(Enabled(idBtnExit));
    // No station is checked out, so the session says so.
    EXPECT_EQ(Text(idLblErrorMessage), "USB device not assigned");
  }
}

TEST_F(MainWindowTest, EmptyIntervalRaisesConversionErrorIntoTheApplicationHandler) {
  PretendConnected();
  SetWindowTextW(Control(idLblErrorMessage), L"old");
  Type(idEdtNew, "");
  Click(idBtnSet);
  EXPECT_EQ(caught.count, 1);
  EXPECT_EQ(caught.className, "EConvertError");
  EXPECT_EQ(caught.message, "'' is not a valid integer value");
  EXPECT_EQ(Text(idLblErrorMessage), "") << "emptied before the conversion";
  EXPECT_TRUE(Enabled(idBtnSet)) << "no button changes";
  EXPECT_TRUE(Enabled(idBtnRefresh));
  EXPECT_TRUE(Enabled(idBtnExit));
  EXPECT_EQ(form->Session.SessionState, ssIdle) << "no command was started";
}

TEST_F(MainWindowTest, ReadDisablesSetReadAndExit) {
  PretendConnected();
  Click(idBtnRefresh);
  EXPECT_FALSE(Enabled(idBtnSet));
  EXPECT_FALSE(Enabled(idBtnRefresh));
  EXPECT_FALSE(Enabled(idBtnExit));
  EXPECT_EQ(Text(idLblErrorMessage), "USB device not assigned");
}

TEST_F(MainWindowTest, ExitClosesTheWindowAndEndsTheLoop) {
  HWND window = form->Handle();
  Click(idBtnExit);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(app.Terminated());
}

// The same window with a simulated station attached.
class MainWindowWithStationTest : public MainWindowTest {
protected:
  void SetUp() override {
    station = sim.Plug(FineOffsetStation(1), false);
    sim.SetMemory(station, 0x10, 30);
    SetHidPlatform(&sim);
    ResetUnit();
    MainWindowTest::SetUp();
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    ResetUnit();
    SetHidPlatform(nullptr);
  }
  static void ResetUnit() {
    TJvHidDevice *borrowed = StationDevice;
    delete HidCtl; // a borrowed device stays valid for its borrower
    delete borrowed;
    HidCtl = nullptr;
    StationDevice = nullptr;
  }
  template <class Pred> bool PumpUntil(Pred pred) {
    for (int i = 0; i < 2000 && !pred(); ++i) {
      app.ProcessMessages();
      Sleep(5);
    }
    return pred();
  }
  void Connect() {
    // The first enumeration runs once messages are dispatched.
    ASSERT_TRUE(PumpUntil([&] { return !HidCtl->Devices().empty(); }));
    Click(idBtnConnect);
    ASSERT_NE(StationDevice, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Enabled(idBtnSet) && Text(idEdtCurrent) == "30"; }));
  }

  TSimHidPlatform sim;
  uint32_t station = 0;
};

TEST_F(MainWindowWithStationTest, ConnectChecksOutTheStationAndReadsTheInterval) {
  Connect();
  EXPECT_EQ(Text(idLblStatus), "Status: CONNECTED");
  EXPECT_FALSE(Enabled(idBtnConnect));
  EXPECT_TRUE(Enabled(idBtnRefresh));
  EXPECT_TRUE(Enabled(idEdtNew));
  EXPECT_EQ(StationDevice->NumInputBuffers(), 128);
  EXPECT_EQ(StationDevice->NumOverlappedBuffers(), 128);
  EXPECT_EQ(sim.OutputReportCount(station), 1) << "the first read needs no click";
}

TEST_F(MainWindowWithStationTest, EmptyIntervalSendsNothing) {
  Connect();
  int sent = sim.OutputReportCount(station);
  Type(idEdtNew, "");
  Click(idBtnSet);
  EXPECT_EQ(caught.className, "EConvertError");
  EXPECT_EQ(sim.OutputReportCount(station), sent);
  EXPECT_TRUE(Enabled(idBtnSet));
}

TEST_F(MainWindowWithStationTest, UnpluggedStationFailsToWriteAndKeepsButtonsDisabled) {
  Connect();
  sim.Unplug(station);
  PumpUntil([&] { return !StationDevice->IsPluggedIn(); });
  Click(idBtnRefresh);
  EXPECT_EQ(Text(idLblErrorMessage), "Failed to write to USB");
  EXPECT_FALSE(Enabled(idBtnSet));
  EXPECT_FALSE(Enabled(idBtnRefresh));
  EXPECT_FALSE(Enabled(idBtnExit));
  EXPECT_EQ(Text(idLblStatus), "Status: CONNECTED") << "never returns to disconnected";
  EXPECT_EQ(form->Session.SessionState, ssReading);
}

TEST_F(MainWindowWithStationTest, StationUnpluggedDuringAReadLeavesTheWindowAnsweringAndTheNextCommandFails) {
  Connect();
  // The station takes the read's request and goes quiet: the read is under way when it goes.
  sim.SetSilent(station, true);
  const int written = sim.OutputReportCount(station);
  Click(idBtnRefresh);
  ASSERT_TRUE(PumpUntil([&] { return sim.OutputReportCount(station) == written + 1; })) << "the read's request";
  EXPECT_EQ(form->Session.SessionState, ssReading);
  EXPECT_FALSE(Enabled(idBtnRefresh)) << "the read is still going on";
  sim.Unplug(station);
  ASSERT_TRUE(PumpUntil([&] { return !StationDevice->IsPluggedIn(); })) << "the unplug is noticed";

  // The read thread's failing reads do not take the window over: it keeps handling its messages.
  Type(idEdtNew, "");
  for (int i = 0; i < 3; ++i)
    PostMessageW(Control(idEdtNew), WM_CHAR, L'7', 0);
  EXPECT_TRUE(PumpUntil([&] { return Text(idEdtNew) == "777"; })) << Text(idEdtNew);
  // The unplug itself shows nothing; the read never completes and its buttons stay disabled.
  EXPECT_EQ(Text(idLblErrorMessage), "");
  EXPECT_EQ(form->Session.SessionState, ssReading);
  EXPECT_FALSE(Enabled(idBtnRefresh));
  EXPECT_EQ(Text(idLblStatus), "Status: CONNECTED");
  // The next command to the station says why nothing happens.
  form->Session.RequestData(0x00, 0x10);
  EXPECT_EQ(Text(idLblErrorMessage), "Failed to write to USB");
}

TEST_F(MainWindowWithStationTest, SilentStationLeavesButtonsDisabled) {
  Connect();
  sim.SetSilent(station, true);
  Click(idBtnRefresh);
  for (int i = 0; i < 40; ++i) {
    app.ProcessMessages();
    Sleep(5);
  }
  EXPECT_FALSE(Enabled(idBtnRefresh)) << "there is no time-out";
  EXPECT_EQ(form->Session.SessionState, ssReading);
}

TEST_F(MainWindowWithStationTest, SecondConnectKeepsTheStation) {
  Connect();
  TJvHidDevice *station = StationDevice;
  // Connect is disabled by now; a click that reaches it anyway must not lose the device.
  form->btnConnectClick();
  EXPECT_EQ(StationDevice, station);
  EXPECT_EQ(Text(idLblStatus), "Status: CONNECTED");
}
