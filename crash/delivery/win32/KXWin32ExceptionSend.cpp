#include "crash/delivery/win32/KXWin32ExceptionSend.h"

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/delivery/KXDeliverySettings.h"
#include "crash/delivery/win32/KXWin32DeliveryHost.h"

namespace kx {

namespace {

// The exception as a shared settings object; null when nothing owns it through a shared_ptr.
std::shared_ptr<IKXSettings> SharedSettings(IKXException &exception) {
  auto *object = dynamic_cast<TIKXSettings *>(&exception);
  if (!object)
    return nullptr;
  std::shared_ptr<TIKXSettings> owner = object->weak_from_this().lock();
  if (!owner)
    return nullptr;
  return std::shared_ptr<IKXSettings>(owner, static_cast<IKXSettings *>(&exception));
}

} // namespace

HANDLE SendExceptionReport(IKXException &exception, const std::string &report, std::shared_ptr<INVBitmap> screenShot,
                           HWND parent, bool hidden, bool background, bool progressBox,
                           const std::wstring &tempDirectory) {
  std::shared_ptr<IKXSettings> settings = SharedSettings(exception);
  if (!settings) {
    settings = std::shared_ptr<IKXSettings>(std::shared_ptr<IKXSettings>(), static_cast<IKXSettings *>(&exception));
    background = false;
  }
  KXDeliveryRequest request;
  request.bugReport = report;
  request.parentWindow = parent;
  request.hidden = hidden;
  request.inBackground = background;
  request.settings = ReadDeliverySettings(exception);
  if (hidden)
    request.settings.autoSendBox = progressBox;
  KXWin32DeliveryHost host(std::move(settings), std::move(screenShot), tempDirectory);
  host.Deliver(request);
  return host.TakeSendThread();
}

} // namespace kx
