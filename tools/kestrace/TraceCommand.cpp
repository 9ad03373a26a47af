#include "tools/kestrace/TraceCommand.h"

namespace kestrace {

namespace {
wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; }

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i]))
      return false;
  return true;
}

// A positive decimal number up to max; nullopt otherwise.
std::optional<uint64_t> Decimal(std::wstring_view text, uint64_t max) {
  if (text.empty() || text.size() > 19)
    return std::nullopt;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9')
      return std::nullopt;
    value = value * 10 + uint64_t(c - L'0');
  }
  if (value == 0 || value > max)
    return std::nullopt;
  return value;
}

std::string Narrow(std::wstring_view text) {
  std::string s;
  for (wchar_t c : text)
    s += c > 0 && c < 128 ? char(c) : '?';
  return s;
}
} // namespace

std::optional<uint32_t> ParseProcessId(std::wstring_view text) {
  size_t digits = 0;
  if (text.substr(0, 2) == L"0x" || text.substr(0, 2) == L"0X")
    digits = 2;
  else if (text.substr(0, 1) == L"$")
    digits = 1;
  if (digits == 0) {
    std::optional<uint64_t> value = Decimal(text, UINT32_MAX);
    return value ? std::optional<uint32_t>(uint32_t(*value)) : std::nullopt;
  }
  text.remove_prefix(digits);
  if (text.empty() || text.size() > 8)
    return std::nullopt;
  uint32_t value = 0;
  for (wchar_t c : text) {
    const wchar_t f = Fold(c);
    int digit = f >= L'0' && f <= L'9' ? f - L'0' : f >= L'a' && f <= L'f' ? f - L'a' + 10 : -1;
    if (digit < 0)
      return std::nullopt;
    value = value * 16 + uint32_t(digit);
  }
  return value ? std::optional<uint32_t>(value) : std::nullopt;
}

bool ExeNameMatches(std::wstring_view exeFile, std::wstring_view requested) {
  if (requested.empty())
    return false;
  if (SameName(exeFile, requested))
    return true;
  return exeFile.size() == requested.size() + 4 && SameName(exeFile.substr(0, requested.size()), requested) &&
         SameName(exeFile.substr(requested.size()), L".exe");
}

bool ReportMayBeCut(size_t length, int32_t bufSize) { return bufSize >= 1 && length + 1 >= size_t(bufSize); }

std::optional<TraceRequest> ParseTraceCommand(const std::vector<std::wstring> &args, std::string &error) {
  TraceRequest request;
  bool target = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring &arg = args[i];
    auto value = [&]() -> const std::wstring * {
      if (i + 1 >= args.size()) {
        error = Narrow(arg) + " needs a value";
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == L"-h" || arg == L"--help" || arg == L"/?") {
      request.help = true;
      return request;
    }
    if (arg == L"--clipboard") {
      request.clipboard = true;
    } else if (arg == L"--size") {
      const std::wstring *text = value();
      if (!text)
        return std::nullopt;
      std::optional<uint64_t> size = Decimal(*text, INT32_MAX);
      if (!size || *size < 2) {
        error = "--size takes a number of bytes from 2 to 2147483647";
        return std::nullopt;
      }
      request.bufSize = int32_t(*size);
    } else if (arg == L"--timeout") {
      const std::wstring *text = value();
      if (!text)
        return std::nullopt;
      std::optional<uint64_t> seconds = Decimal(*text, 86400);
      if (!seconds) {
        error = "--timeout takes a number of seconds from 1 to 86400";
        return std::nullopt;
      }
      request.timeoutSeconds = uint32_t(*seconds);
    } else if (!arg.empty() && arg[0] == L'-' && arg.size() > 1) {
      error = "unknown option " + Narrow(arg);
      return std::nullopt;
    } else {
      if (target) {
        error = "only one process can be traced at a time";
        return std::nullopt;
      }
      target = true;
      // Digits, "0x..." and "$..." name a process by its id; anything else by its exe's name.
      const bool id = (!arg.empty() && arg.find_first_not_of(L"0123456789") == std::wstring::npos) ||
                      arg.rfind(L"0x", 0) == 0 || arg.rfind(L"0X", 0) == 0 || arg.rfind(L"$", 0) == 0;
      if (std::optional<uint32_t> processId = ParseProcessId(arg)) {
        request.processId = *processId;
      } else if (id) {
        error = "not a process id: " + Narrow(arg);
        return std::nullopt;
      } else if (arg.empty()) {
        error = "an empty process name";
        return std::nullopt;
      } else {
        request.processName = arg;
      }
    }
  }
  if (!target) {
    error = "which process? Give its id or its exe name";
    return std::nullopt;
  }
  return request;
}

const char *UsageText() {
  return "kestrace: asks a running Tidewell for a bug report of its current state (every thread's\n"
         "call stack, modules, processes, hardware) without stopping it, and prints the report.\n"
         "\n"
         "usage: kestrace [--size BYTES] [--timeout SECONDS] [--clipboard] PROCESS\n"
         "\n"
         "  PROCESS            the process id (decimal, or hexadecimal as 0x1a2c or $1a2c) or the\n"
         "                     exe's file name (Tidewell.exe, Tidewell); a name must be unique\n"
         "  --size BYTES       room for the report (default 16777216); a longer report is cut\n"
         "  --timeout SECONDS  how long to wait for the report (default 120)\n"
         "  --clipboard        the process puts the report on the clipboard; nothing is printed\n"
         "\n"
         "exit codes: 0 report printed, 1 wrong command line, 2 no such process (or the name is\n"
         "not unique), 3 the process cannot be asked, 4 no report in time or an empty report\n";
}

} // namespace kestrace
