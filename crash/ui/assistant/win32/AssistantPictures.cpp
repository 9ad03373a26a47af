#include "crash/ui/assistant/win32/AssistantPictures.h"

#include <windows.h>

#include "crash/capture/exception/KXException.h"
#include "crash/output/image/win32/NVLoadBitmapFile.h"
#include "crash/output/image/win32/NVScreenshotEditor.h"
#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/ScreenshotForm.h"

namespace kx {

namespace {
class LivePictures : public IKXAssistantBitmaps {
public:
  int32_t Width(INVBitmap &bitmap) override { return bitmap.GetWidth(); }
  int32_t Height(INVBitmap &bitmap) override { return bitmap.GetHeight(); }
  std::shared_ptr<INVBitmap> Zoom(INVBitmap &bitmap, int32_t maxWidth, int32_t maxHeight) override {
    return bitmap.Zoom(maxWidth, maxHeight);
  }
  std::shared_ptr<INVBitmap> LoadFile(const std::string &file) override {
    int length = MultiByteToWideChar(CP_ACP, 0, file.data(), int(file.size()), nullptr, 0);
    std::u16string wide(size_t(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, file.data(), int(file.size()), reinterpret_cast<wchar_t *>(wide.data()), length);
    return LoadBitmapFile(wide);
  }
  void Draw(INVBitmap &bitmap, std::uintptr_t dc, int32_t x, int32_t y) override { bitmap.Draw(dc, x, y); }
};

std::wstring (*gTempFolder)() = nullptr;

// The form's Data holds the editor of its screenshot once the user asked to edit it.
NVScreenshotEditor *EditorOf(void *data) { return static_cast<NVScreenshotEditor *>(data); }
} // namespace

void InstallAssistantPictures(std::wstring (*tempFolder)()) {
  gTempFolder = tempFolder;
  SetAssistantBitmaps(std::make_shared<LivePictures>());
  KXScreenshotEditing editing;
  editing.startEdit = [](void *&data, IKXException &exception) {
    std::shared_ptr<INVBitmap> screenshot = exception.GetScreenShot();
    if (!screenshot)
      return;
    if (!data) {
      std::wstring folder = gTempFolder ? gTempFolder() : std::wstring();
      if (folder.empty()) {
        Beep(60, 60);
        return;
      }
      data = new NVScreenshotEditor(folder);
    }
    EditorOf(data)->StartEdit(*screenshot);
  };
  editing.editedScreenshot = [](void *&data) -> std::shared_ptr<INVBitmap> {
    return data ? EditorOf(data)->Edited() : nullptr;
  };
  editing.endEdit = [](void *&data) {
    delete EditorOf(data);
    data = nullptr;
  };
  SetScreenshotEditing(std::move(editing));
}

} // namespace kx
