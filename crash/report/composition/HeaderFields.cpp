#include "crash/report/composition/HeaderFields.h"

#include <atomic>
#include <cctype>

#include "crash/base/settings/KXText.h"
#include "crash/capture/exception/KXExceptionObject.h"
#include "crash/report/composition/ReportPlugins.h"

namespace kx {

namespace {
std::atomic<uint64_t> gExceptionNumber{0};

// The drive letter of a path like "C:\...", 0 for others.
char DriveOf(const std::string &path) {
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
    return char(std::toupper(static_cast<unsigned char>(path[0])));
  return 0;
}

class Collector {
public:
  KXTextPairs fields;
  // Runs one guarded step; a failing step adds nothing.
  template <class Step> void Field(Step step) {
    KXTextPairs added;
    try {
      step(added);
    } catch (...) {
      return;
    }
    for (auto &pair : added)
      fields.push_back(std::move(pair));
  }
};
} // namespace

uint64_t NextExceptionNumber() { return ++gExceptionNumber; }

KXHeaderBatch CollectHeaderFields(IKXReportFacts &facts, TIKXException &e) {
  Collector c;
  using P = KXTextPairs;
  const bool frozen = e.GetExceptType() == TExceptType::etFrozen;
  char separator = ',';
  try {
    separator = facts.DecimalSeparator();
  } catch (...) {
  }
  if (!separator)
    separator = ',';

  c.Field([&](P &f) { f.emplace_back("date/time", ReportDateTime(e.CreationTime())); });
  c.Field([&](P &f) { f.emplace_back("computer name", facts.ComputerName()); });
  c.Field([&](P &f) {
    std::string client = facts.WtsClientName();
    if (!client.empty())
      f.emplace_back("wts client name", client);
  });
  c.Field([&](P &f) { f.emplace_back("user name", facts.UserName() + (facts.UserIsAdministrator() ? "  <admin>" : "")); });
  c.Field([&](P &f) {
    std::string owner = facts.RegisteredOwner();
    std::string org = facts.RegisteredOrganization();
    if (!org.empty())
      owner += " / " + org;
    f.emplace_back("registered owner", owner);
  });
  c.Field([&](P &f) { f.emplace_back("operating system", OperatingSystemText(facts.OsVersion())); });
  c.Field([&](P &f) { f.emplace_back("system language", facts.SystemLanguage()); });
  c.Field([&](P &f) {
    if (auto s = facts.SystemUpSeconds())
      f.emplace_back("system up time", DurationText(*s));
  });
  c.Field([&](P &f) {
    if (auto ms = facts.ProgramUpMilliseconds())
      f.emplace_back("program up time", ProgramUpTimeText(*ms));
  });
  c.Field([&](P &f) {
    std::string name = facts.ProcessorName(0);
    if (Trim(name).empty())
      return;
    int count = 16;
    for (int i = 1; i < 16; ++i)
      if (facts.ProcessorName(i).empty()) {
        count = i;
        break;
      }
    f.emplace_back(count > 1 ? "processors" : "processor", ProcessorText(count, name));
  });
  c.Field([&](P &f) {
    uint64_t avail = 0, total = 0;
    if (facts.PhysicalMemory(avail, total))
      f.emplace_back("physical memory", PhysicalMemoryText(avail, total));
  });
  c.Field([&](P &f) {
    int gdi = 0, user = 0;
    if (!facts.OsVersion().ntFamily && facts.SystemResources(gdi, user))
      f.emplace_back("system resources", SystemResourcesText(gdi, user));
  });
  c.Field([&](P &f) {
    std::string windows = facts.WindowsDirectory();
    if (windows.empty() || windows[0] == '\\')
      return;
    char drive = DriveOf(windows);
    auto bytes = facts.FreeDiskBytes(drive);
    if (!drive || !bytes)
      return;
    std::string text = DriveSpaceText(drive, *bytes, separator);
    char exeDrive = DriveOf(facts.ExecutablePath());
    if (exeDrive && exeDrive != drive)
      if (auto exeBytes = facts.FreeDiskBytes(exeDrive))
        text += " " + DriveSpaceText(exeDrive, *exeBytes, separator);
    f.emplace_back("free disk space", text);
  });
  c.Field([&](P &f) {
    KXDisplayMode d = facts.DisplayMode();
    f.emplace_back("display mode", DisplayModeText(d.width, d.height, d.bitsPerPixel, d.planes));
  });
  c.Field([&](P &f) { f.emplace_back("process id", "$" + HexPlain(facts.ProcessId())); });
  c.Field([&](P &f) { f.emplace_back("allocated memory", SizeText(facts.AllocatedMemory(), separator)); });
  c.Field([&](P &f) {
    if (facts.HasParameters())
      f.emplace_back("command line", facts.CommandLine());
  });
  std::string exePath, reporterPath;
  c.Field([&](P &f) {
    exePath = facts.ExecutablePath();
    f.emplace_back("executable", ExtractFileName(exePath));
  });
  c.Field([&](P &f) {
    reporterPath = facts.ReporterModulePath();
    if (!reporterPath.empty() && !SameText(reporterPath, exePath))
      f.emplace_back("current module", ExtractFileName(reporterPath));
  });
  // The reporter lives in the executable (or a package it loaded) unless its module differs.
  const bool inExecutable = reporterPath.empty() || SameText(reporterPath, exePath);
  const std::string versionFile = inExecutable ? exePath : reporterPath;
  c.Field([&](P &f) {
    if (auto t = facts.FileLastWrite(versionFile))
      f.emplace_back(inExecutable ? "exec. date/time" : "module date/time", FileDateTime(*t));
  });
  c.Field([&](P &f) {
    std::string version = e.VersionVar();
    if (Trim(version).empty())
      if (auto v = facts.FileVersion(versionFile))
        version = FileVersionText(*v);
    if (!Trim(version).empty())
      f.emplace_back("version", version);
  });
  c.Field([&](P &f) {
    std::string bde = facts.LoadedModulePath("idapi32.dll");
    if (!bde.empty())
      if (auto v = facts.FileVersion(bde))
        f.emplace_back("bde version", FileVersionText(*v));
  });
  c.Field([&](P &f) {
    int linker = -1;
    try {
      linker = facts.LinkerMajorVersion();
    } catch (...) {
    }
    f.emplace_back("compiled with", linker == 2 || linker < 0 ? kCompiledWithGnu : kCompiledWithOther);
  });
  c.Field([&](P &f) { f.emplace_back("Kestrelix version", kReporterVersion); });
  std::vector<KXReportPlugin> plugins;
  try {
    plugins = ConfiguredPlugins(e.GetPropStr("Plugins"));
  } catch (...) {
  }
  for (const KXReportPlugin &plugin : plugins)
    if (!plugin.ownSection)
      c.Field([&](P &f) { f.emplace_back(plugin.name, CallReportPlugin(plugin, e)); });

  KXHeaderBatch batch;
  batch.addIndex = int(c.fields.size()) - 1;
  c.Field([&](P &f) { f.emplace_back(kCallstackCrcField, kCalculatedSoon); });
  c.Field([&](P &f) { f.emplace_back("exception number", std::to_string(NextExceptionNumber())); });
  if (!frozen)
    c.Field([&](P &f) { f.emplace_back("exception class", e.GetExceptClass()); });
  c.Field([&](P &f) {
    if (frozen) {
      f.emplace_back("exception message", e.GetFrozenMsg());
      return;
    }
    std::string message = e.GetExceptMessage();
    if (!MessageIsClassName(message, e.GetExceptClass()))
      f.emplace_back("exception message", ReportMessage(message));
  });
  batch.fields = std::move(c.fields);
  return batch;
}

} // namespace kx
