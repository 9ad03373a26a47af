#include "crash/delivery/win32/KXWin32DeliveryHost.h"

#include <shellapi.h>

#include <random>

#include "crash/capture/exception/KXException.h"
#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/delivery/win32/KXWin32FileSource.h"
#include "crash/delivery/win32/KXWin32Mailto.h"
#include "crash/delivery/win32/KXWin32Mapi.h"
#include "crash/delivery/win32/KXWin32Network.h"
#include "crash/delivery/win32/KXWin32Proxy.h"
#include "crash/delivery/win32/KXWin32SystemDns.h"
#include "crash/output/win32/KXWin32Attachments.h"
#include "crash/ui/progress/win32/ProgressAlertWin32.h"

namespace kx {

namespace {

// Everything the send thread needs, owned by the thread and freed when the send returns.
struct KXSendThreadRecord {
  KXDeliveryRequest request;
  std::shared_ptr<IKXSettings> settings;
  std::shared_ptr<INVBitmap> screenShot;
  std::wstring tempDirectory;
  KXWin32DeliveryConfig config;
};

DWORD WINAPI SendThreadMain(LPVOID parameter) {
  std::unique_ptr<KXSendThreadRecord> record(static_cast<KXSendThreadRecord *>(parameter));
  try {
    KXWin32DeliveryHost host(record->settings, record->screenShot, record->tempDirectory, record->config);
    host.Deliver(record->request);
  } catch (...) {
    // A send never takes the process down; its failure has been shown or stays silent.
  }
  return 0;
}

// Query identifiers that an outside sender cannot guess.
std::function<uint16_t()> RandomIdentifiers() {
  uint32_t seed = GetTickCount() ^ (GetCurrentThreadId() << 16) ^ GetCurrentProcessId();
  try {
    std::random_device device;
    seed ^= device();
  } catch (...) {
  }
  auto engine = std::make_shared<std::mt19937>(seed);
  return [engine] { return uint16_t((*engine)() >> 8); };
}

} // namespace

KXWin32DeliveryHost::KXWin32DeliveryHost(std::shared_ptr<IKXSettings> settings, std::shared_ptr<INVBitmap> screenShot,
                                         std::wstring tempDirectory, KXWin32DeliveryConfig config)
    : FSettings(std::move(settings)), FScreenShot(std::move(screenShot)), FTempDirectory(std::move(tempDirectory)),
      FConfig(std::move(config)) {
  if (!FConfig.options.dns.nextIdentifier)
    FConfig.options.dns.nextIdentifier = RandomIdentifiers();
}

KXWin32DeliveryHost::~KXWin32DeliveryHost() {
  if (FSendThread)
    CloseHandle(FSendThread);
}

bool KXWin32DeliveryHost::Deliver(const KXDeliveryRequest &request) {
  return DeliverBugReport(request, *this, FConfig.options);
}

HANDLE KXWin32DeliveryHost::TakeSendThread() {
  HANDLE thread = FSendThread;
  FSendThread = nullptr;
  return thread;
}

// --- threads and windows -----------------------------------------------------------------------

bool KXWin32DeliveryHost::ProcessLockHeld(uint32_t waitMs) { return kx::ProcessLockHeld(waitMs); }

void KXWin32DeliveryHost::LeaveTopmost(KXWindowHandle window) {
  if (window)
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

bool KXWin32DeliveryHost::StartSendThread(const KXDeliveryRequest &request) {
  auto *record = new KXSendThreadRecord{request, FSettings, FScreenShot, FTempDirectory, FConfig};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &SendThreadMain, record, 0, &id);
  if (!thread) {
    delete record;
    return false;
  }
  if (FSendThread)
    CloseHandle(FSendThread);
  FSendThread = thread;
  return true;
}

std::shared_ptr<IProgressAlert> KXWin32DeliveryHost::CreateProgress(const std::string &title) {
  HMODULE module = FSettings ? reinterpret_cast<HMODULE>(FSettings->Module()) : nullptr;
  return CreateProgressAlert(title, module, kSendPicture);
}

void KXWin32DeliveryHost::ShowFailure(KXWindowHandle parent, const std::string &text) {
  if (FConfig.showFailure)
    FConfig.showFailure(parent, text);
  else
    MessageBoxA(parent, text.c_str(), nullptr, MB_ICONHAND);
}

// --- attachments and the bug report file ---------------------------------------------------------

KXPreparedAttachments KXWin32DeliveryHost::PrepareAttachments(const KXDeliveryRequest &request) {
  if (!FSettings)
    return {};
  KXSaveScreenShotFn saveScreenShot;
  if (FScreenShot)
    saveScreenShot = [this](const std::u16string &file, int format) {
      if (!FScreenShot->SavePng(file, format))
        return false;
      FScreenShotFile = file;
      return true;
    };
  KXSendAttachments attachments = PrepareAttachmentsFor(*FSettings, request.bugReport, FTempDirectory, saveScreenShot);
  FBugReportFile = attachments.deleteAfterSend;
  return std::move(attachments.prepared);
}

std::unique_ptr<IKXFileSource> KXWin32DeliveryHost::OpenFile(const std::u16string &path) {
  return OpenSharedFile(path);
}

void KXWin32DeliveryHost::DeleteScreenShotFile() {
  if (FScreenShotFile.empty())
    return;
  DeleteFileW(reinterpret_cast<const wchar_t *>(FScreenShotFile.c_str()));
  FScreenShotFile.clear();
}

void KXWin32DeliveryHost::KeepBugReportFile() { FBugReportFile.clear(); }

void KXWin32DeliveryHost::DeleteMarkedBugReportFile() {
  if (FBugReportFile.empty())
    return;
  const wchar_t *path = reinterpret_cast<const wchar_t *>(FBugReportFile.c_str());
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path);
  FBugReportFile.clear();
}

void KXWin32DeliveryHost::MarkSent() {
  if (auto *exception = dynamic_cast<IKXExceptionEx *>(FSettings.get()))
    exception->SetMailWasSent(true);
}

// --- network -----------------------------------------------------------------------------------

IKXNetwork &KXWin32DeliveryHost::Network() {
  if (!FNetwork)
    FNetwork = FConfig.makeNetwork ? FConfig.makeNetwork() : nullptr;
  if (!FNetwork)
    FNetwork = std::make_unique<KXWin32Network>();
  return *FNetwork;
}

std::string KXWin32DeliveryHost::ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

KXFileTime KXWin32DeliveryHost::UtcNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return KXFileTime(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

std::string KXWin32DeliveryHost::HttpProxyList() {
  return FConfig.proxyList ? *FConfig.proxyList : SystemHttpProxyList();
}

std::vector<std::string> KXWin32DeliveryHost::SystemDnsServers() {
  return FConfig.dnsServers ? *FConfig.dnsServers : kx::SystemDnsServers();
}

void KXWin32DeliveryHost::OpenLocation(const std::string &url) {
  if (FConfig.openLocation)
    FConfig.openLocation(url);
  else
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// --- the local mail program ----------------------------------------------------------------------

KXMapiOutcome KXWin32DeliveryHost::SendViaMapi(const KXMapiMail &mail) {
  return SendThroughMapi(mail, FConfig.mapiSendMail ? FConfig.mapiSendMail : SystemMapiSendMail());
}

std::optional<std::string> KXWin32DeliveryHost::MailtoCommand() { return ReadMailtoCommand(FConfig.classesRoot); }

bool KXWin32DeliveryHost::IsNtFamily() { return IsNtFamilySystem(); }

bool KXWin32DeliveryHost::StartProcess(const std::string &commandLine) {
  return FConfig.startProcess ? FConfig.startProcess(commandLine) : StartCommandLine(commandLine);
}

} // namespace kx
