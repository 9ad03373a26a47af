#include "crash/delivery/KXDeliverySettings.h"

#include "crash/base/settings/KXText.h"
#include "crash/output/KXReportFields.h"

namespace kx {

namespace {

uint16_t PortValue(uint32_t value, uint16_t fallback) {
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : fallback;
}

size_t FindText(std::string_view text, std::string_view name, size_t from) {
  for (size_t i = from; i + name.size() <= text.size(); ++i)
    if (SameText(text.substr(i, name.size()), name))
      return i;
  return std::string_view::npos;
}

// Every occurrence of the name; the inserted text is not searched again.
std::string ReplaceName(std::string_view text, std::string_view name, std::string_view value) {
  std::string result;
  size_t start = 0;
  for (size_t at; (at = FindText(text, name, start)) != std::string_view::npos; start = at + name.size()) {
    result.append(text.substr(start, at - start));
    result.append(value);
  }
  result.append(text.substr(start));
  return result;
}

} // namespace

KXDeliverySettings ReadDeliverySettings(IKXSettings &settings) {
  KXDeliverySettings s;
  s.mailAddr = settings.GetMailAddr();
  s.mailFrom = settings.GetMailFrom();
  s.mailSubject = settings.GetMailSubject();
  s.mailBody = settings.GetMailBody();
  s.sendInBackground = settings.GetSendInBackground();
  s.autoSendBox = settings.GetAutoSendPrgrBox();
  s.mailAsSmtpServer = settings.GetMailAsSmtpServer();
  s.mailAsSmtpClient = settings.GetMailAsSmtpClient();
  s.uploadViaHttp = settings.GetUploadViaHttp();
  s.mailViaMapi = settings.GetMailViaMapi();
  s.mailViaMailto = settings.GetMailViaMailto();
  s.smtpServer = settings.GetSmtpServer();
  s.smtpPort = PortValue(settings.GetSmtpPort(), 25);
  s.smtpAccount = settings.GetSmtpAccount();
  s.smtpPassword = settings.GetSmtpPassword();
  s.httpServer = settings.GetHttpServer();
  s.httpPort = PortValue(settings.GetHttpPort(), 80);
  s.httpAccount = settings.GetHttpAccount();
  s.httpPassword = settings.GetHttpPassword();
  if (auto fields = settings.GetAdditionalFields()) {
    KXListLock<IKXFields> lock(*fields);
    s.addFields = fields->Clone();
  }
  s.deleteBugReportFile = settings.GetDeleteBugReportFile();
  s.sendBoxTitle = settings.GetSendBoxTitle();
  s.texts.prepareAttach = settings.GetPrepareAttachMsg();
  s.texts.mxLookup = settings.GetMxLookupMsg();
  s.texts.connect = settings.GetConnectMsg();
  s.texts.auth = settings.GetAuthMsg();
  s.texts.sendMail = settings.GetSendMailMsg();
  s.texts.fields = settings.GetFieldsMsg();
  s.texts.sendAttach = settings.GetSendAttachMsg();
  s.texts.sendFinalize = settings.GetSendFinalizeMsg();
  s.sendFailure = settings.GetSendFailureMsg();
  return s;
}

std::string ExpandReportVariables(std::string_view text, std::string_view bugReport) {
  std::string result(text);
  if (FindText(result, "%exceptClass%", 0) != std::string::npos)
    result = ReplaceName(result, "%exceptClass%", ReportField(bugReport, "exception class"));
  if (FindText(result, "%exceptMsg%", 0) != std::string::npos) {
    std::string message = ReportField(bugReport, "exception message");
    result = ReplaceName(result, "%exceptMsg%", message.empty() ? "Unknown" : message);
  }
  if (FindText(result, "%bugReport%", 0) != std::string::npos)
    result = ReplaceName(result, "%bugReport%", bugReport);
  return result;
}

} // namespace kx
