#include "crash/delivery/KXSendByNetwork.h"

#include "crash/delivery/KXHttpUpload.h"
#include "crash/delivery/KXMailAddresses.h"
#include "crash/delivery/KXSmtpClient.h"

namespace kx {

namespace {

std::vector<uint64_t> AttachmentSizes(const KXPreparedAttachments &attachments, const KXOpenFileFn &openFile) {
  std::vector<uint64_t> sizes;
  for (const KXOpenedAttachment &a : OpenAttachments(attachments, openFile))
    sizes.push_back(a.size);
  return sizes;
}

KXNetworkResult Upload(const KXNetworkSend &send, KXNetworkEnvironment &environment) {
  KXUploadJob job;
  job.httpServer = send.httpUrl;
  job.httpPort = send.port;
  job.sender = send.mailFrom;
  job.account = send.account;
  job.password = send.password;
  job.fields = send.fields;
  job.attachments = send.attachments;
  job.proxyList = environment.proxyList;
  KXUploadContext context{environment.network, environment.openFile, KXSendProgress(environment.progress), {}};
  KXUploadResult upload = UploadBugReport(job, environment.texts, context);
  return {upload.sent, upload.location};
}

KXNetworkResult Mail(const KXNetworkSend &send, KXNetworkEnvironment &environment) {
  KXMailJob job;
  job.sender = send.mailFrom;
  job.recipients = send.rcptTo;
  job.server = send.server;
  job.port = send.port;
  job.account = send.account;
  job.password = send.password;
  job.subject = send.subject;
  job.body = send.body;
  job.attachments = send.attachments;

  KXMailContext context;
  context.network = environment.network;
  context.openFile = environment.openFile;
  context.computerName = environment.computerName;
  context.now = environment.now;
  context.progress = KXSendProgress(environment.progress);
  IKXNetwork &network = *environment.network;
  context.findMailExchanger = [&environment, &network](const std::string &address) {
    return FindMailExchanger(address, environment.systemDnsServers, environment.rootServers,
                             [&](const std::string &name, const std::vector<std::string> &servers, uint16_t type) {
                               return QueryDns(network, name, servers, type, environment.dns);
                             });
  };

  const bool direct = job.server.empty();
  const std::vector<KXProgressArea> areas =
      MailProgressAreas(environment.texts, direct, AttachmentSizes(job.attachments, environment.openFile));
  KXNetworkResult result;
  if (!direct) {
    context.progress.AddAreas(areas);
    context.progress.AreaDone();
    result.sent = SendMail(job.recipients, job, context);
    return result;
  }
  const std::vector<std::string> recipients = RecipientItems(job.recipients);
  for (size_t i = 0; i < recipients.size(); ++i)
    context.progress.AddAreas(areas);
  context.progress.AreaDone();
  for (size_t i = 0; i < recipients.size(); ++i) {
    // The first area of this recipient's mail (area 0 is the preparation).
    context.progress.SetCurrentArea(static_cast<int32_t>(1 + i * areas.size()));
    if (SendMail(recipients[i], job, context))
      result.sent = true;
  }
  return result;
}

} // namespace

KXNetworkResult SendByNetwork(const KXNetworkSend &send, KXNetworkEnvironment &environment) {
  KXSendProgress progress(environment.progress);
  KXNetworkResult result;
  if (!environment.network || !environment.network->Start()) {
    progress.Close();
    return result;
  }
  progress.ClearAreas();
  progress.AddArea(1000, environment.texts.prepareAttach);
  result = send.httpUrl.empty() ? Mail(send, environment) : Upload(send, environment);
  environment.network->Stop();
  progress.Close();
  return result;
}

} // namespace kx
