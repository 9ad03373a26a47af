#pragma once
// The progress of a send as the engines report it: the texts of the progress areas, the areas a
// transport adds, and a small guard that lets the engines run without a progress window.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/capture/exception/ProgressAlert.h"

namespace kx {

// The progress texts of the settings (PrepAttMsg, MxLookMsg, ConnMsg, AuthMsg, SendMailMsg,
// FieldMsg, SendAttMsg, SendFinalMsg).
struct KXSendTexts {
  std::string prepareAttach = "Prepare attachments...";
  std::string mxLookup = "Searching for mail server...";
  std::string connect = "Connecting to server...";
  std::string auth = "Authentication...";
  std::string sendMail = "Sending mail...";
  std::string fields = "Setting fields...";
  std::string sendAttach = "Sending attachments...";
  std::string sendFinalize = "Finalizing...";
};

// One progress area; an empty text repeats the previous area's text.
struct KXProgressArea {
  int64_t weight = 0;
  std::string text;
  bool operator==(const KXProgressArea &other) const = default;
};

// The progress window of a send, or nothing: every call is skipped when there is no window.
class KXSendProgress {
public:
  explicit KXSendProgress(IProgressAlert *alert = nullptr) : FAlert(alert) {}
  IProgressAlert *Alert() const { return FAlert; }

  void ClearAreas() {
    if (FAlert)
      FAlert->ClearAreas();
  }
  void AddArea(int64_t weight, const std::string &text) {
    if (FAlert)
      FAlert->AddArea(weight, text);
  }
  void AddAreas(const std::vector<KXProgressArea> &areas) {
    for (const KXProgressArea &area : areas)
      AddArea(area.weight, area.text);
  }
  void AreaDone() {
    if (FAlert)
      FAlert->AreaDone();
  }
  // Position within the current area: done x 1000 div total.
  void SetPosition(uint64_t done, uint64_t total) {
    if (FAlert && total > 0)
      FAlert->SetPosition(static_cast<int32_t>(done >= total ? 1000 : done * 1000 / total));
  }
  void SetCurrentArea(int32_t area) {
    if (FAlert)
      FAlert->SetCurrentArea(area);
  }
  void Close() {
    if (FAlert)
      FAlert->Close();
  }

private:
  IProgressAlert *FAlert;
};

} // namespace kx
