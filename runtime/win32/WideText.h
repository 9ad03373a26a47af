#pragma once
// Conversions between the program's 8-bit text (system code page) and UTF-16.
#include <string>
#include <windows.h>

inline std::wstring Widen(const std::string &text) {
  if (text.empty())
    return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

inline std::string Narrow(const std::wstring &text) {
  if (text.empty())
    return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(size_t(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

// The text of any window, through WM_GETTEXT.
inline std::string WindowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(size_t(n) + 1, L'\0');
  n = GetWindowTextW(window, text.data(), n + 1);
  text.resize(size_t(n > 0 ? n : 0));
  return Narrow(text);
}
