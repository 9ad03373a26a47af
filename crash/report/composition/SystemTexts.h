#pragma once
// The texts of the report header's system and process facts: sizes, durations, the operating
// system's description, dates, memory, display mode, processor and file versions.
#include <array>
#include <cstdint>
#include <string>

#include "crash/base/settings/KXPlatform.h"

namespace kx {

// "1023 Bytes", "1,50 KB", "1,00 MB", "2,00 GB" (two decimals cut, not rounded).
std::string SizeText(uint64_t bytes, char decimalSeparator = ',');

// "2 days 3 hours", "1 hour 1 minute", "5 minutes 12 seconds"; "" for 0 (negative counts as 0).
// Parts that are 0 are left out; the text has no trailing space.
std::string DurationText(int64_t seconds);
// The program's up time from milliseconds: the duration text, or "<ms> milliseconds" when the
// duration text is empty (below one second).
std::string ProgramUpTimeText(int64_t milliseconds);

// What the system reports about its version.
struct KXOsVersion {
  bool ntFamily = true;        // VER_PLATFORM_WIN32_NT; else the 9x family
  uint32_t major = 0, minor = 0, build = 0;
  bool workstation = true;     // product type is a workstation
  bool r2 = false, tabletPc = false, starter = false, mediaCenter = false, x64 = false;
  std::string servicePack;
};
// The name from the table of versions ("Windows XP", ..., "Windows 11", "Windows 2025",
// "Windows NT New", "None").
std::string OsName(const KXOsVersion &os);
// The name with the NT family's marks (" Media Center" before Vista, " Tablet PC" before
// Windows 8) and the service pack.
std::string OsDescription(const KXOsVersion &os);
// The "operating system" value: description, " build ", build number.
std::string OperatingSystemText(const KXOsVersion &os);

// "2013-06-04, 09:05:07, 85ms".
std::string ReportDateTime(const KXLocalTime &time);
// "2013-06-04 09:05".
std::string FileDateTime(const KXLocalTime &time);

// "<avail>/<total> MB (free/total)", each rounded to the nearest MB.
std::string PhysicalMemoryText(uint64_t availableBytes, uint64_t totalBytes);
// "05/80 (gdi/user)".
std::string SystemResourcesText(int gdiPercent, int userPercent);
// "1920x1080, 32 bit".
std::string DisplayModeText(int width, int height, int bitsPerPixel, int planes);
// The processor name with double spaces collapsed and trimmed; with count > 1 "<count>x <name>".
// "" when the name is empty.
std::string ProcessorText(int count, const std::string &name);
// "1.0.0.12"; when all parts are 0 the trimmed version string instead.
std::string FileVersionText(const KXFileVersion &version);
// True when a command line holds more than the program's name (quoted or up to the first blank).
bool CommandLineHasParameters(const std::string &commandLine);
// "(C:) <size text>".
std::string DriveSpaceText(char driveLetter, uint64_t freeBytes, char decimalSeparator);

} // namespace kx
