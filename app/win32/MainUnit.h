#pragma once
// The station tool's one window: connect to the station, read the logger interval, set a
// new one.
#include "app/StationSession.h"
#include "hid/win32/HidController.h"
#include "runtime/win32/Forms.h"

// Control identifiers, in declaration order; other processes find the controls by them.
enum TForm1Control {
  idLbl1 = 1,
  idLbl2,
  idPanel1,
  idBtnExit,
  idLblStatus,
  idBtnConnect,
  idLabel1,
  idEdtCurrent,
  idLbl3,
  idBtnRefresh,
  idLbl4,
  idEdtNew,
  idLbl5,
  idBtnSet,
  idLblErrorMessage,
  idLbl6,
};

inline constexpr uint16_t kStationVendorID = 0x1941;
inline constexpr uint16_t kStationProductID = 0x8021;

class TForm1 : public TForm, private IStationWindow {
public:
  TForm1();

  TLabel *lbl1, *lbl2, *lbl6;
  TPanel *Panel1;
  TButton *btnExit;
  TLabel *lblStatus;
  TButton *btnConnect;
  TLabel *Label1;
  TEdit *edtCurrent;
  TLabel *lbl3;
  TButton *btnRefresh;
  TLabel *lbl4;
  TEdit *edtNew;
  TLabel *lbl5;
  TButton *btnSet;
  TLabel *lblErrorMessage;

  void btnConnectClick();
  void btnRefreshClick();
  void btnSetClick();
  void btnExitClick();

  void RequestData(uint8_t highbyte, uint8_t lowbyte) { Session.RequestData(highbyte, lowbyte); }
  void WriteByte(uint8_t highbyte, uint8_t lowbyte, int value) { Session.WriteByte(highbyte, lowbyte, value); }

  TStationSession Session{*this};

protected:
  void FormShow() override;

private:
  void CheckoutDevice();
  void SetErrorText(const std::string &text) override { lblErrorMessage->SetText(text); }
  void SetCurrentText(const std::string &text) override { edtCurrent->SetText(text); }
  void EnableCommandButtons() override;
};

// Unit-level state of MainUnit.
extern TJvHidDeviceController *HidCtl;
extern TJvHidDevice *StationDevice;
extern TForm1 *Form1;

// Creates HidCtl; runs during start-up, after every other unit and before the window exists.
void MainUnitInitialization();
