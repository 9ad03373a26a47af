#include "crash/report/composition/SystemTexts.h"

#include <cctype>
#include <cstdio>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {
// value / 100 with the separator before the last two digits: 150 -> "1,50".
std::string Hundredths(uint64_t value, char separator) {
  std::string digits = std::to_string(value);
  if (digits.size() < 3)
    digits.insert(0, 3 - digits.size(), '0');
  digits.insert(digits.size() - 2, 1, separator ? separator : ',');
  return digits;
}

std::string Part(int64_t number, const char *unit) {
  if (number == 0)
    return {};
  if (number == 1)
    return std::string("1 ") + unit + " ";
  return std::to_string(number) + " " + unit + "s ";
}

std::string TwoDigits(int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", value);
  return buf;
}
} // namespace

std::string SizeText(uint64_t bytes, char decimalSeparator) {
  if (bytes < 1024)
    return std::to_string(bytes) + " Bytes";
  if (bytes < 1048576)
    return Hundredths(bytes * 100 / 1024, decimalSeparator) + " KB";
  if (bytes < 1073741824)
    return Hundredths((bytes / 1024) * 100 / 1024, decimalSeparator) + " MB";
  return Hundredths(((bytes / 1024) / 1024) * 100 / 1024, decimalSeparator) + " GB";
}

std::string DurationText(int64_t s) {
  if (s < 0)
    s = 0;
  int64_t d = s / 86400, h = (s / 3600) % 24;
  std::string text;
  if (d > 0)
    text = Part(d, "day") + Part(h, "hour");
  else if (h > 0)
    text = Part(h, "hour") + Part((s / 60) % 60, "minute");
  else
    text = Part((s / 60) % 60, "minute") + Part(s % 60, "second");
  if (!text.empty())
    text.pop_back();
  return text;
}

std::string ProgramUpTimeText(int64_t milliseconds) {
  if (milliseconds < 0)
    milliseconds = 0;
  std::string text = DurationText(milliseconds / 1000);
  return text.empty() ? std::to_string(milliseconds) + " milliseconds" : text;
}

std::string OsName(const KXOsVersion &os) {
  if (!os.ntFamily) {
    if (os.major != 4)
      return os.major > 4 ? "Windows 9x New" : "None";
    if (os.minor < 10)
      return os.build <= 1000 ? "Windows 95" : "Windows 95 OSR-2";
    if (os.minor == 10)
      return os.build <= 2000 ? "Windows 98" : os.build <= 2700 ? "Windows 98 SE" : "Windows ME";
    if (os.minor <= 90)
      return "Windows ME";
    return "Windows 9x New";
  }
  if (os.major < 4)
    return "Windows NT 3";
  if (os.major == 4)
    return "Windows NT 4";
  if (os.major == 5) {
    if (os.minor == 0)
      return "Windows 2000";
    if (os.minor == 1 || os.workstation)
      return "Windows XP";
    return "Windows 2003";
  }
  if (os.major == 6 && os.minor == 0)
    return os.workstation ? "Windows Vista" : "Windows 2008";
  if (os.major == 6 && os.minor == 1)
    return os.workstation ? "Windows 7" : "Windows 2008 R2";
  if (os.major == 6 && os.minor == 2)
    return os.workstation ? "Windows 8" : "Windows 2012";
  if (os.major == 6 && os.minor == 3)
    return os.workstation ? "Windows 8.1" : "Windows 2012 R2";
  if (os.major == 10 && os.minor == 0) {
    // Windows 10 and 11, and the servers since 2016, all say 10.0: the build tells them apart.
    if (os.workstation)
      return os.build < 22000 ? "Windows 10" : "Windows 11";
    if (os.build < 17763)
      return "Windows 2016";
    if (os.build < 20348)
      return "Windows 2019";
    if (os.build < 26100)
      return "Windows 2022";
    return "Windows 2025";
  }
  return "Windows NT New";
}

std::string OsDescription(const KXOsVersion &os) {
  std::string name = OsName(os);
  if (os.ntFamily) {
    if (os.r2 && name.find("R2") == std::string::npos)
      name += " R2";
    // From Windows 8 on the tablet mark only says that the pen and touch service runs.
    if (os.tabletPc && (os.major < 6 || (os.major == 6 && os.minor < 2)))
      name += " Tablet PC";
    if (os.starter)
      name += " Starter";
    // Media Center editions exist only before Vista.
    if (os.mediaCenter && (os.major < 6))
      name += " Media Center";
    if (os.x64)
      name += " x64";
  }
  std::string sp = Trim(os.servicePack);
  if (!sp.empty())
    name += " " + sp;
  return name;
}

std::string OperatingSystemText(const KXOsVersion &os) {
  return OsDescription(os) + " build " + std::to_string(os.build);
}

std::string ReportDateTime(const KXLocalTime &t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d, %02d:%02d:%02d, %dms", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}

std::string FileDateTime(const KXLocalTime &t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

std::string PhysicalMemoryText(uint64_t availableBytes, uint64_t totalBytes) {
  return std::to_string((availableBytes + 524288) / 1048576) + "/" + std::to_string((totalBytes + 524288) / 1048576) +
         " MB (free/total)";
}

std::string SystemResourcesText(int gdiPercent, int userPercent) {
  return TwoDigits(gdiPercent) + "/" + TwoDigits(userPercent) + " (gdi/user)";
}

std::string DisplayModeText(int width, int height, int bitsPerPixel, int planes) {
  return std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(bitsPerPixel * planes) + " bit";
}

std::string ProcessorText(int count, const std::string &name) {
  std::string clean;
  for (char c : name)
    if (!(c == ' ' && !clean.empty() && clean.back() == ' '))
      clean += c;
  clean = Trim(clean);
  if (clean.empty())
    return {};
  return count > 1 ? std::to_string(count) + "x " + clean : clean;
}

std::string FileVersionText(const KXFileVersion &version) {
  const uint16_t *parts = version.parts;
  if (parts[0] == 0 && parts[1] == 0 && parts[2] == 0 && parts[3] == 0)
    return Trim(version.fileVersionText);
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

bool CommandLineHasParameters(const std::string &commandLine) {
  size_t i = 0, n = commandLine.size();
  while (i < n && static_cast<unsigned char>(commandLine[i]) <= 32)
    ++i;
  if (i < n && commandLine[i] == '"') {
    size_t close = commandLine.find('"', i + 1);
    i = close == std::string::npos ? n : close + 1;
  }
  while (i < n && static_cast<unsigned char>(commandLine[i]) > 32)
    ++i;
  while (i < n && static_cast<unsigned char>(commandLine[i]) <= 32)
    ++i;
  return i < n;
}

std::string DriveSpaceText(char driveLetter, uint64_t freeBytes, char decimalSeparator) {
  return std::string("(") + char(std::toupper(static_cast<unsigned char>(driveLetter))) + ":) " +
         SizeText(freeBytes, decimalSeparator);
}

} // namespace kx
