#pragma once
// The forms' pictures in the live program: INVBitmap's own operations for images, and the
// screenshot page's editing steps over the system's image editor.
#include <string>

namespace kx {

// tempFolder gives the reporter's temporary folder (with a trailing backslash; empty when there
// is none), where the screenshot is kept while it is edited.
void InstallAssistantPictures(std::wstring (*tempFolder)());

} // namespace kx
