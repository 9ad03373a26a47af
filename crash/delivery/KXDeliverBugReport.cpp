#include "crash/delivery/KXDeliverBugReport.h"

#include "crash/delivery/KXHttpAnswer.h"
#include "crash/delivery/KXMailAddresses.h"
#include "crash/delivery/KXMailto.h"
#include "crash/delivery/KXSendByNetwork.h"

namespace kx {

namespace {

constexpr uint32_t kProcessLockWaitMs = 250;

// The envelope computed once per send.
struct KXEnvelope {
  std::string recipients;
  std::string sender;
  std::string subject;
  std::string body;
};

KXEnvelope MakeEnvelope(const KXDeliveryRequest &request) {
  const KXDeliverySettings &s = request.settings;
  KXEnvelope envelope;
  envelope.recipients = NormalizeRecipients(s.mailAddr);
  envelope.sender = MailSender(s.mailFrom, envelope.recipients);
  envelope.subject = ExpandReportVariables(s.mailSubject, request.bugReport);
  envelope.body = ExpandReportVariables(s.mailBody, request.bugReport);
  return envelope;
}

bool AnyNetworkTransport(const KXDeliverySettings &s) {
  return s.mailAsSmtpServer || s.mailAsSmtpClient || s.uploadViaHttp;
}

// The network transport the settings choose, if any: exactly one, in this precedence.
std::optional<KXNetworkSend> ChooseNetworkSend(const KXDeliverySettings &s, const KXEnvelope &envelope,
                                               const KXPreparedAttachments &attachments,
                                               const KXDeliveryOptions &options) {
  KXNetworkSend send;
  send.mailFrom = envelope.sender;
  send.attachments = attachments;
  if (s.uploadViaHttp) {
    if (s.httpServer.empty())
      return std::nullopt;
    send.httpUrl = s.httpServer;
    send.port = s.httpPort;
    send.password = s.httpPassword;
    send.account = s.httpAccount;
    send.fields = UploadFormFields(s.addFields, envelope.sender, envelope.subject, envelope.body, envelope.recipients);
    return send;
  }
  send.rcptTo = envelope.recipients;
  send.body = envelope.body;
  send.subject = envelope.subject;
  if (s.mailAsSmtpServer) {
    if (envelope.recipients.empty())
      return std::nullopt;
    send.port = options.directSmtpPort;
    return send;
  }
  if (s.mailAsSmtpClient) {
    if (envelope.recipients.empty() || s.smtpServer.empty())
      return std::nullopt;
    send.port = s.smtpPort;
    send.password = s.smtpPassword;
    send.account = s.smtpAccount;
    send.server = s.smtpServer;
    return send;
  }
  return std::nullopt;
}

KXMapiOutcome SendWithMapi(const KXDeliveryRequest &request, const KXEnvelope &envelope,
                           const KXPreparedAttachments &attachments, IKXDeliveryHost &host) {
  if (host.ProcessLockHeld(kProcessLockWaitMs))
    return KXMapiOutcome::failed;
  KXMapiMail mail;
  mail.subject = envelope.subject;
  mail.body = envelope.body;
  mail.recipients = MapiRecipients(envelope.recipients);
  mail.attachments = attachments;
  mail.flags = MapiSendFlags(request.hidden, !mail.recipients.empty());
  mail.parentWindow = request.parentWindow;
  return host.SendViaMapi(mail);
}

bool OpenMailProgram(const KXDeliveryRequest &request, const KXEnvelope &envelope, IKXDeliveryHost &host) {
  std::optional<std::string> command = host.MailtoCommand();
  if (!command || command->empty())
    return false;
  const std::string url = MailtoUrl(*command, envelope.recipients, envelope.subject, request.bugReport);
  return host.StartProcess(MailtoCommandLine(*command, url, host.IsNtFamily()));
}

} // namespace

KXFormFields UploadFormFields(const std::shared_ptr<IKXFields> &addFields, const std::string &sender,
                              const std::string &subject, const std::string &body, const std::string &recipients) {
  std::shared_ptr<IKXFields> fields;
  if (addFields) {
    KXListLock<IKXFields> lock(*addFields);
    fields = addFields->Clone();
  } else {
    fields = NewFieldList();
    FieldsEx(*fields).AcceptData();
  }
  const std::pair<const char *, const std::string *> values[] = {
      {"MailFrom", &sender}, {"MailSubject", &subject}, {"MailBody", &body}, {"MailAddr", &recipients}};
  for (const auto &[name, value] : values)
    if (!value->empty())
      fields->SetContent(name, *value);
  KXFormFields result;
  for (int i = 0; i < fields->GetItemCount(); ++i) {
    std::string name = fields->GetItem(i);
    result.emplace_back(name, fields->GetContent(name));
  }
  return result;
}

std::vector<KXProgressArea> SendProgressAreas(const KXDeliverySettings &s, bool hasAttachments) {
  const KXSendTexts &t = s.texts;
  std::vector<KXProgressArea> areas{{100, t.prepareAttach}};
  if (!AnyNetworkTransport(s))
    return areas;
  if (s.mailAsSmtpServer)
    areas.push_back({100, t.mxLookup});
  areas.push_back({100, t.connect});
  if (s.mailAsSmtpServer || s.mailAsSmtpClient) {
    areas.push_back({200, t.auth});
    areas.push_back({100, t.sendMail});
  }
  if (s.uploadViaHttp)
    areas.push_back({100, t.fields});
  if (hasAttachments)
    areas.push_back({100, t.sendAttach});
  areas.push_back({100, t.sendFinalize});
  return areas;
}

bool DeliverBugReport(const KXDeliveryRequest &request, IKXDeliveryHost &host, const KXDeliveryOptions &options) {
  const KXDeliverySettings &s = request.settings;

  if (request.inBackground && !request.inThread && !host.ProcessLockHeld(kProcessLockWaitMs)) {
    host.LeaveTopmost(request.parentWindow);
    KXDeliveryRequest threadRequest = request;
    threadRequest.parentWindow = nullptr;
    threadRequest.inBackground = true;
    threadRequest.inThread = true;
    if (host.StartSendThread(threadRequest))
      return true;
  }

  const KXEnvelope envelope = MakeEnvelope(request);

  KXPreparedAttachments attachments;
  std::shared_ptr<IProgressAlert> progress;
  if (AnyNetworkTransport(s) || s.mailViaMapi) {
    progress = host.CreateProgress(s.sendBoxTitle);
    if (progress && (!request.hidden || s.autoSendBox))
      progress->Show(request.inThread ? nullptr : request.parentWindow, !request.inThread);
    attachments = host.PrepareAttachments(request);
    if (progress)
      for (const KXProgressArea &area : SendProgressAreas(s, !attachments.Empty()))
        progress->AddArea(area.weight, area.text);
  }

  bool sent = false;
  if (std::optional<KXNetworkSend> send = ChooseNetworkSend(s, envelope, attachments, options)) {
    KXNetworkEnvironment environment;
    environment.network = &host.Network();
    environment.openFile = [&host](const std::u16string &path) { return host.OpenFile(path); };
    environment.progress = progress.get();
    environment.texts = s.texts;
    environment.computerName = host.ComputerName();
    environment.now = host.UtcNow();
    if (!send->httpUrl.empty())
      environment.proxyList = host.HttpProxyList();
    else if (send->server.empty())
      environment.systemDnsServers = host.SystemDnsServers();
    environment.rootServers = options.rootServers;
    environment.dns = options.dns;
    KXNetworkResult result = SendByNetwork(*send, environment);
    sent = result.sent;
    if (sent && !result.location.empty() && IsOpenableLocation(result.location))
      host.OpenLocation(result.location);
  }

  if (progress)
    progress->Close();
  if (sent || !s.mailViaMapi)
    host.DeleteScreenShotFile();

  bool handedOver = sent;
  if (!handedOver && s.mailViaMapi) {
    KXMapiOutcome outcome = SendWithMapi(request, envelope, attachments, host);
    sent = outcome == KXMapiOutcome::sent;
    handedOver = outcome != KXMapiOutcome::failed;
  }

  if (!handedOver && s.mailViaMailto && !request.hidden) {
    host.KeepBugReportFile();
    host.LeaveTopmost(request.parentWindow);
    handedOver = OpenMailProgram(request, envelope, host);
  }

  if (!handedOver && !request.hidden)
    host.ShowFailure(request.parentWindow, s.sendFailure);

  if (sent) {
    host.MarkSent();
    if (s.deleteBugReportFile)
      host.DeleteMarkedBugReportFile();
  }
  return handedOver;
}

} // namespace kx
