#pragma once
// The settings a send reads, taken from the settings object once at its start, and the mail
// texts derived from them and from the report.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crash/base/settings/KXFields.h"
#include "crash/base/settings/KXSettings.h"
#include "crash/delivery/KXSendProgress.h"

namespace kx {

struct KXDeliverySettings {
  std::string mailAddr;
  std::string mailFrom;
  std::string mailSubject; // expanded by the settings object; %bugReport% still in place
  std::string mailBody;
  bool sendInBackground = true;
  bool autoSendBox = false;
  bool mailAsSmtpServer = false;
  bool mailAsSmtpClient = false;
  bool uploadViaHttp = false;
  bool mailViaMapi = true;
  bool mailViaMailto = true;
  std::string smtpServer;
  uint16_t smtpPort = 25;
  std::string smtpAccount;
  std::string smtpPassword;
  std::string httpServer;
  uint16_t httpPort = 80;
  std::string httpAccount;
  std::string httpPassword;
  std::shared_ptr<IKXFields> addFields; // a copy of AddFields, or null for none
  bool deleteBugReportFile = true;
  std::string sendBoxTitle = "Sending bug report...";
  KXSendTexts texts;
  std::string sendFailure = "Sorry, sending the bug report didn't work.";
};

KXDeliverySettings ReadDeliverySettings(IKXSettings &settings);

// Replaces what the settings object leaves in a text for the report to fill: %exceptClass% and
// %exceptMsg% with the report's "exception class" and "exception message" fields ("Unknown" for an
// empty message) and %bugReport% with the report (names in any letter case).
std::string ExpandReportVariables(std::string_view text, std::string_view bugReport);

} // namespace kx
