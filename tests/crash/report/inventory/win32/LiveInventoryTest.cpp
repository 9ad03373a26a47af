// The modules, processes and hardware sections of this process and this machine, and the three
// plug-ins in the report plug-in registry.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "crash/base/settings/KXText.h"
#include "crash/report/composition/ReportPlugins.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/inventory/HardwareList.h"
#include "crash/report/inventory/win32/InventoryPlugins.h"
#include "crash/report/inventory/win32/LiveHardware.h"
#include "crash/report/inventory/win32/LiveModules.h"
#include "crash/report/inventory/win32/LiveProcesses.h"

namespace kx {
namespace {

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t start = 0; !text.empty();) {
    size_t at = text.find("\r\n", start);
    lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos)
      break;
    start = at + 2;
  }
  return lines;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), FoldCase);
  return text;
}

// This exe's file name and folder.
std::pair<std::string, std::string> OwnFile() {
  wchar_t path[MAX_PATH] = {};
  std::string exe = NarrowUtf16(std::u16string(path, path + GetModuleFileNameW(nullptr, path, MAX_PATH)));
  return {exe.substr(exe.rfind('\\') + 1), exe.substr(0, exe.rfind('\\'))};
}

TEST(LiveModules, TheExeAndTheSystemLibrariesWithVersionsAndFoldersOncePerModule) {
  const std::string text = NarrowUtf16(LoadedModulesText());
  const std::vector<std::string> lines = Lines(text);
  // Addresses have 8 digits in a 32-bit process and 16 in a 64-bit one (its modules lie above 4 GiB).
  const size_t kAddressDigits = sizeof(void *) == 8 ? 16 : 8;
  auto lineOf = [&](HMODULE base) {
    std::string address = Hex8(reinterpret_cast<uintptr_t>(base)) + " ";
    address.insert(0, kAddressDigits + 1 - address.size(), '0');
    auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(address, 0) == 0; });
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(address, 0) == 0; }),
              1)
        << address << "\n" << text;
    return found == lines.end() ? std::string() : *found;
  };
  const auto [exeName, exeFolder] = OwnFile();
  const std::string exeLine = lineOf(GetModuleHandleW(nullptr));
  ASSERT_EQ(exeLine.substr(kAddressDigits + 1, exeName.size() + 1), exeName + " ") << text;
  ASSERT_EQ(exeLine.substr(exeLine.size() - exeFolder.size()), exeFolder);
  const size_t pathColumn = exeLine.size() - exeFolder.size(); // the same in every line
  for (const char *name : {"ntdll.dll", "kernel32.dll"}) {
    const std::string line = lineOf(GetModuleHandleA(name));
    ASSERT_GT(line.size(), pathColumn) << text;
    const size_t nameEnd = line.find(' ', kAddressDigits + 1);
    const std::string file = line.substr(kAddressDigits + 1, nameEnd - kAddressDigits - 1);
    EXPECT_EQ(Lower(file), name);
    EXPECT_NE(Trim(line.substr(nameEnd, pathColumn - nameEnd)).find_first_of("0123456789"), std::string::npos) << line;
    EXPECT_NE(GetFileAttributesA((line.substr(pathColumn) + "\\" + file).c_str()), INVALID_FILE_ATTRIBUTES) << line;
  }
  HMODULE modules[1024];
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes));
  for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i)
    lineOf(modules[i]);
}

TEST(LiveProcesses, ThisProcessWithItsFolderAndPriority) {
  const auto [exeName, exeFolder] = OwnFile();
  auto ownLine = [&] {
    for (const std::string &line : Lines(NarrowUtf16(RunningProcessesText())))
      if (std::stoul(line.substr(0, line.find(' ')), nullptr, 16) == GetCurrentProcessId())
        return line;
    return std::string();
  };
  std::string line = ownLine();
  ASSERT_NE(line.find(" " + exeName + " "), std::string::npos) << line;
  EXPECT_NE(line.find(" normal "), std::string::npos) << line;
  EXPECT_EQ(Lower(line.substr(line.size() - std::min(line.size(), exeFolder.size()))), Lower(exeFolder)) << line;
  ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
  line = ownLine();
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  EXPECT_NE(line.find(" below normal "), std::string::npos) << line;
}

TEST(LiveHardware, ClassesAndDevicesAreSortedOneLinePerListedDevice) {
  const std::string text = InstalledHardwareText();
  std::cout << text << "\n";
  std::string lastClass, lastDevice;
  size_t devices = 0;
  for (const std::string &line : Lines(text)) {
    if (line.rfind("+ ", 0) == 0) {
      EXPECT_TRUE(lastClass.empty() || CompareNames(lastClass, line.substr(2)) < 0) << line;
      lastClass = line.substr(2);
      lastDevice.clear();
      continue;
    }
    ASSERT_FALSE(lastClass.empty()) << line;
    ASSERT_EQ(line.rfind("  - ", 0), 0u) << line;
    std::string description = line.substr(4, line.back() == ')' ? line.rfind(" (driver ") - 4 : std::string::npos);
    EXPECT_LE(CompareNames(lastDevice, description), 0) << line;
    lastDevice = description;
    ++devices;
  }
  KXHardwareList list;
  const std::vector<KXDeviceRecord> present = PresentDevices();
  EXPECT_EQ(devices, size_t(std::count_if(present.begin(), present.end(), [&](auto &d) { return list.Add(d); })));
}

TEST(InventoryPlugins, RegisteredOnceWithTheirNamesDescriptionsAndKinds) {
  InstallInventoryPlugins();
  InstallInventoryPlugins();
  std::vector<KXReportPlugin> p = ConfiguredPlugins("modules|processes|hardware|Modules");
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].name + "|" + p[0].description, "modules|list of loaded modules");
  EXPECT_EQ(p[1].name + "|" + p[1].description, "processes|list of running processes");
  EXPECT_EQ(p[2].name + "|" + p[2].description, "hardware|list of installed hardware");
  EXPECT_TRUE(p[0].procOldW && p[1].procOldW && p[2].procOldA && !p[2].procOldW);
  EXPECT_TRUE(p[0].ownSection && p[1].ownSection && p[2].ownSection);
  EXPECT_EQ(p[3].procOldW, p[0].procOldW); // the same record, found without regard to case
  EXPECT_NE(Lower(NarrowUtf16(p[0].procOldW())).find(" ntdll.dll "), std::string::npos);
  RemoveInventoryPlugins();
  EXPECT_TRUE(ConfiguredPlugins("modules|processes|hardware").empty());
}

} // namespace
} // namespace kx
