// The modules, processes and hardware sections of this process and this machine, and the three
// plug-ins in the report plug-in registry.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>

#include "HardwareList.h"
#include "InventoryPlugins.h"
#include "KXText.h"
#include "LiveHardware.h"
#include "LiveModules.h"
#include "LiveProcesses.h"
#include "ReportPlugins.h"
#include "ReportText.h"

namespace kx {
namespace {

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  if (text.empty())
    return lines;
  size_t start = 0;
  for (;;) {
    size_t at = text.find("\r\n", start);
    lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos)
      return lines;
    start = at + 2;
  }
}

// The sections as UTF-16 with only ASCII file names in this test's world: as 8-bit text.
std::string Ascii(const std::u16string &text) { return NarrowUtf16(text); }

std::string Lower(std::string text) {
  for (char &c : text)
    c = FoldCase(c);
  return text;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

std::string OwnFileName() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return NarrowUtf16(std::u16string(path, path + n));
}

// The line of the module at the base, "" when there is none.
std::string ModuleLine(const std::vector<std::string> &lines, HMODULE base) {
  std::string address = Hex8(reinterpret_cast<uintptr_t>(base)) + " ";
  for (const std::string &line : lines)
    if (line.rfind(address, 0) == 0)
      return line;
  return {};
}

TEST(LiveModules, ListsTheExeAndTheSystemLibrariesWithVersionsAndFolders) {
  std::string text = Ascii(LoadedModulesText());
  std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 3u) << text;

  // Name, version and folder start at the same column in every line; addresses ascend.
  const std::string exe = OwnFileName();
  const std::string exeName = exe.substr(exe.rfind('\\') + 1), exeFolder = exe.substr(0, exe.rfind('\\'));
  std::string exeLine = ModuleLine(lines, GetModuleHandleW(nullptr));
  ASSERT_FALSE(exeLine.empty()) << text;
  ASSERT_EQ(exeLine.substr(9, exeName.size() + 1), exeName + " ") << exeLine;
  const size_t pathColumn = exeLine.size() - exeFolder.size();
  EXPECT_EQ(exeLine.substr(pathColumn), exeFolder);
  uint64_t previous = 0;
  for (const std::string &line : lines) {
    ASSERT_GE(line.size(), pathColumn) << line;
    uint64_t address = std::stoull(line.substr(0, 8), nullptr, 16);
    EXPECT_GT(address, previous) << line;
    previous = address;
    EXPECT_EQ(line[8], ' ') << line;
    EXPECT_EQ(line[pathColumn - 1], ' ') << line;
    if (line.size() > pathColumn) {
      EXPECT_NE(line[pathColumn], ' ') << line;
    }
  }

  // ntdll.dll and kernel32.dll with a version and the folder they were loaded from.
  for (const wchar_t *name : {L"ntdll.dll", L"kernel32.dll"}) {
    HMODULE module = GetModuleHandleW(name);
    std::string line = ModuleLine(lines, module);
    ASSERT_FALSE(line.empty()) << text;
    const size_t nameEnd = line.find(' ', 9);
    ASSERT_LT(nameEnd, pathColumn) << line;
    const std::string file = line.substr(9, nameEnd - 9);
    const std::string version = Trim(line.substr(nameEnd, pathColumn - nameEnd));
    EXPECT_EQ(Lower(file), Lower(std::string(name, name + wcslen(name)))) << line;
    EXPECT_FALSE(version.empty()) << line;
    EXPECT_NE(version.find_first_of("0123456789"), std::string::npos) << line;
    std::string folder = line.substr(pathColumn);
    EXPECT_NE(GetFileAttributesW(Wide(folder + "\\" + file).c_str()), INVALID_FILE_ATTRIBUTES) << line;
  }

  // Every module of the loader's list is there once: the further regions of an image add nothing.
  HMODULE modules[1024];
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes));
  for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
    std::string address = Hex8(reinterpret_cast<uintptr_t>(modules[i])) + " ";
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(address, 0) == 0; }),
              1)
        << address << "\n" << text;
  }
}

TEST(LiveProcesses, ListsThisProcessWithItsPathAndPriority) {
  const DWORD own = GetCurrentProcessId();
  const std::string exe = OwnFileName();
  const std::string exeName = exe.substr(exe.rfind('\\') + 1), exeFolder = exe.substr(0, exe.rfind('\\'));

  auto ownLine = [&](std::vector<std::string> &lines) {
    for (const std::string &line : lines)
      if (std::stoul(line.substr(0, line.find(' ')), nullptr, 16) == own)
        return line;
    return std::string();
  };
  std::string text = Ascii(RunningProcessesText());
  std::vector<std::string> lines = Lines(text);
  ASSERT_FALSE(lines.empty());
  // The id column has one width.
  const size_t idWidth = lines[0].find(' ');
  for (const std::string &line : lines)
    EXPECT_EQ(line.find(' '), idWidth) << line;
  std::string line = ownLine(lines);
  ASSERT_FALSE(line.empty()) << text;
  EXPECT_EQ(line.substr(idWidth + 1, exeName.size() + 1), exeName + " ") << line;
  EXPECT_NE(line.find(" normal "), std::string::npos) << line;
  EXPECT_GE(line.size(), exeFolder.size());
  EXPECT_EQ(Lower(line.substr(line.size() - exeFolder.size())), Lower(exeFolder)) << line;

  ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
  lines = Lines(Ascii(RunningProcessesText()));
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  line = ownLine(lines);
  EXPECT_NE(line.find(" below normal "), std::string::npos) << line;
}

TEST(LiveProcesses, TheSystemListIsReadInFull) {
  std::vector<uint8_t> buffer;
  std::optional<size_t> filled = QuerySystemProcessList(buffer);
  ASSERT_TRUE(filled);
  EXPECT_GT(*filled, 0u);
  EXPECT_LE(*filled, buffer.size());
  std::vector<KXProcessEntry> processes = RunningProcesses();
  EXPECT_TRUE(std::any_of(processes.begin(), processes.end(),
                          [](const KXProcessEntry &p) { return p.processId == GetCurrentProcessId(); }));
}

// The description of a device line without the driver suffix.
std::string Description(const std::string &line) {
  std::string d = line.substr(4);
  size_t suffix = d.rfind(" (driver ");
  return suffix == std::string::npos || d.back() != ')' ? d : d.substr(0, suffix);
}

TEST(LiveHardware, ClassesAndDevicesAreSorted) {
  std::string text = InstalledHardwareText();
  std::cout << text << "\n";
  std::vector<std::string> lines = Lines(text);
  std::string lastClass, lastDevice;
  bool inClass = false;
  size_t devices = 0;
  for (const std::string &line : lines) {
    if (line.rfind("+ ", 0) == 0) {
      std::string name = line.substr(2);
      EXPECT_FALSE(name.empty());
      if (inClass) {
        EXPECT_LT(CompareNames(lastClass, name), 0) << lastClass << " / " << name;
      }
      lastClass = name;
      lastDevice.clear();
      inClass = true;
    } else {
      ASSERT_TRUE(inClass) << line;
      ASSERT_EQ(line.rfind("  - ", 0), 0u) << line;
      EXPECT_LE(CompareNames(lastDevice, Description(line)), 0) << lastDevice << " / " << line;
      lastDevice = Description(line);
      ++devices;
    }
  }
  // One line per device that is not left out.
  KXHardwareList counted;
  size_t added = 0;
  for (const KXDeviceRecord &device : PresentDevices())
    added += counted.Add(device) ? 1 : 0;
  EXPECT_EQ(devices, added);
}

TEST(InventoryPlugins, RegisteredOnceWithTheirNamesDescriptionsAndKinds) {
  InstallInventoryPlugins();
  InstallInventoryPlugins();
  std::vector<KXReportPlugin> plugins = ConfiguredPlugins("modules|processes|hardware|Modules");
  ASSERT_EQ(plugins.size(), 4u);
  EXPECT_EQ(plugins[0].name, "modules");
  EXPECT_EQ(plugins[0].description, "list of loaded modules");
  EXPECT_TRUE(plugins[0].procOldW && !plugins[0].procOldA && !plugins[0].procNewA && !plugins[0].procNewW);
  EXPECT_EQ(plugins[1].name, "processes");
  EXPECT_EQ(plugins[1].description, "list of running processes");
  EXPECT_TRUE(plugins[1].procOldW && !plugins[1].procOldA);
  EXPECT_EQ(plugins[2].name, "hardware");
  EXPECT_EQ(plugins[2].description, "list of installed hardware");
  EXPECT_TRUE(plugins[2].procOldA && !plugins[2].procOldW);
  for (const KXReportPlugin &p : plugins)
    EXPECT_TRUE(p.ownSection) << p.name;
  EXPECT_EQ(plugins[3].procOldW, plugins[0].procOldW); // the same record, found without regard to case

  std::string modules = NarrowUtf16(plugins[0].procOldW());
  EXPECT_NE(Lower(modules).find(" ntdll.dll "), std::string::npos) << modules;

  RemoveInventoryPlugins();
  EXPECT_TRUE(ConfiguredPlugins("modules|processes|hardware").empty());
}

} // namespace
} // namespace kx
