#include "crash/output/win32/KXSaveDialog.h"

#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

namespace kx {

std::u16string DesktopFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_DESKTOPDIRECTORY, TRUE) || !folder[0])
    return {};
  std::u16string out(reinterpret_cast<const char16_t *>(folder));
  if (out.back() != u'\\')
    out += u'\\';
  return out;
}

std::optional<std::u16string> AskSaveFileName(KXWindow owner, const KXSaveProposal &proposal,
                                              const std::u16string &title) {
  constexpr size_t kBufferLength = MAX_PATH; // 260 characters
  wchar_t file[kBufferLength] = {};
  std::wstring name(reinterpret_cast<const wchar_t *>(proposal.name.c_str()));
  if (name.size() < kBufferLength)
    name.copy(file, name.size());
  std::wstring folder(reinterpret_cast<const wchar_t *>(proposal.folder.c_str()));
  std::wstring caption(reinterpret_cast<const wchar_t *>(title.c_str()));
  static const wchar_t kFilter[] = L"*.txt\0*.txt\0";

  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = reinterpret_cast<HWND>(owner);
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = DWORD(kBufferLength);
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
  ofn.lpstrDefExt = L"txt"; // the dialog adds the dot itself
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
  if (!GetSaveFileNameW(&ofn))
    return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t *>(file));
}

} // namespace kx
