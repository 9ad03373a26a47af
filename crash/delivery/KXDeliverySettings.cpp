#include "crash/delivery/KXDeliverySettings.h"

#include "crash/base/settings/KXExpand.h"
#include "crash/output/KXReportFields.h"

namespace kx {

namespace {

uint16_t PortValue(uint32_t value, uint16_t fallback) {
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : fallback;
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
  KXExpandArgs args;
  args.exceptClass = ReportField(bugReport, "exception class");
  args.exceptMsg = ReportField(bugReport, "exception message");
  args.bugReport = std::string(bugReport);
  return ExpandReportTexts(std::string(text), args);
}

} // namespace kx
