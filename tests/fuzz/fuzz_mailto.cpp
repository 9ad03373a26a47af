// Fuzz target: the mailto fallback's URL and command line built from outside text. The input is
// split at its first two zero bytes into recipients, subject and body (the report); the URL must
// be one plain ASCII word (no control character, space, DEL, byte from 0x80, '"' or '\'), and
// the command line must carry it whole inside quotes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crash/delivery/KXMailto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  std::string_view parts[3];
  for (int i = 0; i < 2; ++i) {
    size_t zero = input.find('\0');
    parts[i] = input.substr(0, zero);
    input = zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1);
  }
  parts[2] = input;
  const std::string url = kx::MailtoUrl("OUTLOOK.EXE /m", parts[0], parts[1], parts[2]);
  for (char c : url) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\')
      std::abort();
  }
  for (std::string_view command : {"mail.exe", "mail.exe %1", "mail.exe \"%1\""}) {
    const std::string line = kx::MailtoCommandLine(command, url, false);
    if (line.find("\"" + url + "\"") == std::string::npos)
      std::abort();
  }
  return 0;
}
