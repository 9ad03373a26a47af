#include <gtest/gtest.h>

#include "crash/delivery/KXMailto.h"

using namespace kx;

namespace {
bool HasRawUnsafeByte(std::string_view text) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\')
      return true;
  }
  return false;
}
} // namespace

TEST(MailtoEscaping, ReportBytesThatCouldSplitOrUnquoteTheLineAreEncoded) {
  const std::string report = "line\tone\r\nC:\\Users\\x \"quoted\" \x7F\x80\xE4\xFF\x01 end";
  const std::string url = MailtoUrl("mail.exe", "dev\\@x.com\t", "crash \"1\"", report);
  EXPECT_FALSE(HasRawUnsafeByte(url)) << url;
  EXPECT_EQ(MailtoEncode("\t\\\x7F\x80\xFF\x1F~"), "%09%5C%7F%80%FF%1F~");
  EXPECT_NE(url.find("body=line%09one%0D%0AC:%5CUsers%5Cx%20%22quoted%22%20%7F%80%E4%FF%01%20end"), std::string::npos)
      << url;

  // A handler registered without %1 gets the URL as one quoted argument; so does a bare %1.
  const std::string line = MailtoCommandLine("C:\\Mail\\mail.exe -compose", url, true);
  EXPECT_EQ(line, "C:\\Mail\\mail.exe -compose \"" + url + "\"");
  EXPECT_EQ(MailtoCommandLine("mail.exe %1 -x", "mailto:a", true), "mail.exe \"mailto:a\" -x");
  EXPECT_EQ(MailtoCommandLine("mail.exe \"%1\"", "mailto:a", true), "mail.exe \"mailto:a\"");
}
