#include "crash/output/win32/KXClipboard.h"

#include <windows.h>

#include <cstring>

namespace kx {

bool CopyToClipboard(const std::string &text) {
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  if (!OpenClipboard(nullptr))
    return false;
  bool set = false;
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1)) {
    if (void *bytes = GlobalLock(memory)) {
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      GlobalUnlock(memory);
      set = SetClipboardData(CF_TEXT, memory) != nullptr;
    }
    if (!set)
      GlobalFree(memory); // the clipboard owns it only once it is set
  }
  CloseClipboard();
  return set;
}

} // namespace kx
