#include "app/win32/MainUnit.h"

#include "runtime/StrToInt.h"

TJvHidDeviceController *HidCtl = nullptr;
TJvHidDevice *StationDevice = nullptr;
TForm1 *Form1 = nullptr;

namespace {

// The session writes through the checked-out device.
class TCheckedOutStation : public IStationDevice {
public:
  bool WriteFile(const uint8_t *report, uint32_t toWrite, uint32_t &bytesWritten) override {
    return StationDevice && StationDevice->WriteFile(report, toWrite, bytesWritten);
  }
};
TCheckedOutStation CheckedOutStation;

// The controller's handlers reach the window through the single main-window reference.
void StationArrival(void *, TJvHidDevice *) {}
void StationUnplug(void *, TJvHidDevice *) {}
void StationRemoval(void *, TJvHidDevice *) {}
void StationData(void *, TJvHidDevice *, uint8_t ReportID, const void *Data, uint16_t Size) {
  if (Form1)
    Form1->Session.StationData(ReportID, static_cast<const uint8_t *>(Data), Size);
}

} // namespace

void MainUnitInitialization() {
  if (!HidCtl)
    HidCtl = new TJvHidDeviceController(); // lives until the process ends
}

TForm1::TForm1() : TForm("TForm1", "Tidewell Interval", 570, 385) {
  lbl1 = AddLabel(nullptr, idLbl1, {56, 24, 470, 13},
                  "This utility allows the setting of the logger interval in a Fine Offset station. Use it "
                  "at your own risk.");
  lbl2 = AddLabel(nullptr, idLbl2, {128, 43, 315, 13},
                  "Do not use it while any other software is connected to the station");
  lbl6 = AddLabel(nullptr, idLbl6, {112, 72, 342, 13},
                  "Intervals above 60 minutes are not recommended for use with Brightwater");
  // Creation order within each parent is the tab order.
  Panel1 = AddPanel(nullptr, idPanel1, {24, 104, 520, 240});
  btnExit = AddButton(nullptr, idBtnExit, {472, 352, 75, 25}, "Exit");
  lblStatus = AddLabel(Panel1, idLblStatus, {136, 61, 116, 13}, "Status: DISCONNECTED");
  btnConnect = AddButton(Panel1, idBtnConnect, {272, 56, 75, 25}, "Connect");
  Label1 = AddLabel(Panel1, idLabel1, {88, 113, 109, 13}, "Current logger interval");
  edtCurrent = AddEdit(Panel1, idEdtCurrent, {224, 110, 49, 21}, "0", true);
  lbl3 = AddLabel(Panel1, idLbl3, {288, 113, 21, 13}, "mins");
  btnRefresh = AddButton(Panel1, idBtnRefresh, {360, 108, 75, 25}, "Read");
  lbl4 = AddLabel(Panel1, idLbl4, {88, 161, 93, 13}, "New logger interval");
  edtNew = AddEdit(Panel1, idEdtNew, {224, 160, 49, 21}, "10", true);
  lbl5 = AddLabel(Panel1, idLbl5, {288, 161, 21, 13}, "mins");
  btnSet = AddButton(Panel1, idBtnSet, {360, 156, 75, 25}, "Set");
  lblErrorMessage = AddLabel(Panel1, idLblErrorMessage, {48, 208, 76, 13}, "lblErrorMessage");
  lblErrorMessage->FontColor = RGB(255, 0, 0);
  edtCurrent->SetEnabled(false);

  SetHint(edtNew, "Enter required logger interval from 1 to 240");
  SetHint(btnSet, "Click to set the required interval");

  btnConnect->OnClick = [this] { btnConnectClick(); };
  btnRefresh->OnClick = [this] { btnRefreshClick(); };
  btnSet->OnClick = [this] { btnSetClick(); };
  btnExit->OnClick = [this] { btnExitClick(); };
  Session.SetDevice(nullptr);
}

void TForm1::FormShow() {
  btnRefresh->SetEnabled(false);
  btnSet->SetEnabled(false);
  edtNew->SetEnabled(false);
  lblErrorMessage->SetText("");
  Session.SessionState = ssIdle;
  HidCtl->SetOnArrival({StationArrival, nullptr});
  HidCtl->SetOnDeviceData({StationData, nullptr});
  HidCtl->SetOnDeviceUnplug({StationUnplug, nullptr});
  HidCtl->SetOnRemoval({StationRemoval, nullptr});
}

void TForm1::CheckoutDevice() {
  // Check-out clears the reference it is given; the station already checked out must not be
  // lost by a second attempt that finds nothing.
  TJvHidDevice *device = nullptr;
  if (!HidCtl->CheckOutByID(device, kStationVendorID, kStationProductID))
    return;
  StationDevice = device;
  StationDevice->SetNumInputBuffers(128);
  StationDevice->SetNumOverlappedBuffers(128);
  Session.SetDevice(&CheckedOutStation);
  btnRefresh->SetEnabled(true);
  btnSet->SetEnabled(true);
  edtNew->SetEnabled(true);
  btnConnect->SetEnabled(false);
  lblStatus->SetText("Status: CONNECTED");
  RequestData(kIntervalAddress >> 8, kIntervalAddress & 0xFF);
}

void TForm1::btnConnectClick() { CheckoutDevice(); }

void TForm1::btnRefreshClick() {
  btnSet->SetEnabled(false);
  btnRefresh->SetEnabled(false);
  btnExit->SetEnabled(false);
  RequestData(kIntervalAddress >> 8, kIntervalAddress & 0xFF);
}

void TForm1::btnSetClick() {
  lblErrorMessage->SetText("");
  int interval = StrToInt(edtNew->Text());
  if (interval < 1 || interval > 240) {
    lblErrorMessage->SetText("Interval must be between 1 and 240");
    return;
  }
  btnSet->SetEnabled(false);
  btnRefresh->SetEnabled(false);
  btnExit->SetEnabled(false);
  WriteByte(kIntervalAddress >> 8, kIntervalAddress & 0xFF, interval);
}

void TForm1::btnExitClick() { Close(); }

void TForm1::EnableCommandButtons() {
  btnSet->SetEnabled(true);
  btnRefresh->SetEnabled(true);
  btnExit->SetEnabled(true);
}
