#pragma once
// IKXDeliveryHost in the live process: the send thread, the progress window, the attachments
// and the bug report file, Winsock, the system's DNS servers and proxy, MAPI, the mailto command
// and the message box. One host serves one send; the send thread makes its own from a copy of
// everything the send needs, so it never depends on the caller's objects.
#include <windows.h>

#include <memory>
#include <string>

#include "crash/base/settings/KXSettings.h"
#include "crash/delivery/KXDeliverBugReport.h"
#include "crash/delivery/win32/KXWin32DeliveryConfig.h"
#include "crash/output/image/NVBitmap.h"

namespace kx {

class KXWin32DeliveryHost : public IKXDeliveryHost {
public:
  // settings: the exception object (or a module's settings) the send is for; it prepares the
  // attachments and, as an exception object, is marked sent. The host and a send thread it starts
  // hold a reference to it. screenShot: may be null. tempDirectory: the reporter's temporary
  // folder with a trailing backslash (empty: no copies, screenshot or archives).
  KXWin32DeliveryHost(std::shared_ptr<IKXSettings> settings, std::shared_ptr<INVBitmap> screenShot,
                      std::wstring tempDirectory, KXWin32DeliveryConfig config = DeliveryConfig());
  // Closes the handle of a send thread nobody took.
  ~KXWin32DeliveryHost() override;
  KXWin32DeliveryHost(const KXWin32DeliveryHost &) = delete;
  KXWin32DeliveryHost &operator=(const KXWin32DeliveryHost &) = delete;

  // DeliverBugReport with this host and the configuration's options.
  bool Deliver(const KXDeliveryRequest &request);
  // The handle of the send thread this host started (null when none); the caller closes it.
  HANDLE TakeSendThread();

  bool ProcessLockHeld(uint32_t waitMs) override;
  void LeaveTopmost(KXWindowHandle window) override;
  bool StartSendThread(const KXDeliveryRequest &request) override;
  std::shared_ptr<IProgressAlert> CreateProgress(const std::string &title) override;
  void ShowFailure(KXWindowHandle parent, const std::string &text) override;

  KXPreparedAttachments PrepareAttachments(const KXDeliveryRequest &request) override;
  std::unique_ptr<IKXFileSource> OpenFile(const std::u16string &path) override;
  void DeleteScreenShotFile() override;
  void KeepBugReportFile() override;
  void DeleteMarkedBugReportFile() override;
  void MarkSent() override;

  IKXNetwork &Network() override;
  std::string ComputerName() override;
  KXFileTime UtcNow() override;
  std::string HttpProxyList() override;
  std::vector<std::string> SystemDnsServers() override;
  void OpenLocation(const std::string &url) override;

  KXMapiOutcome SendViaMapi(const KXMapiMail &mail) override;
  std::optional<std::string> MailtoCommand() override;
  bool IsNtFamily() override;
  bool StartProcess(const std::string &commandLine) override;

private:
  std::shared_ptr<IKXSettings> FSettings;
  std::shared_ptr<INVBitmap> FScreenShot;
  std::wstring FTempDirectory;
  KXWin32DeliveryConfig FConfig;
  std::unique_ptr<IKXNetwork> FNetwork;
  std::u16string FScreenShotFile;  // the PNG this send wrote
  std::u16string FBugReportFile;   // marked for deletion after a successful send
  HANDLE FSendThread = nullptr;
};

} // namespace kx
