// Addresses, the mail's own texts, mailto and the MAPI recipients.
#include <gtest/gtest.h>

#include "crash/delivery/KXMailAddresses.h"
#include "crash/delivery/KXMailText.h"
#include "crash/delivery/KXMailto.h"
#include "crash/delivery/KXMapiMessage.h"

namespace kx {
namespace {

TEST(MailAddresses, RecipientListIsCleanedAroundEverySeparator) {
  EXPECT_EQ(NormalizeRecipients(" a@x.com ; ;b@y.com,\t"), "a@x.com,b@y.com");
  EXPECT_EQ(NormalizeRecipients(";,; \r\n"), "");
  EXPECT_EQ(NormalizeRecipients("Dev Team <dev@x.com>;ops@y.com"), "Dev Team <dev@x.com>,ops@y.com");
  // An item with a line break or NUL inside is dropped whole; at its ends they are only trimmed.
  EXPECT_EQ(NormalizeRecipients("a@b.com\r\nRCPT TO:<spy@x.com>, c@d.com\r\n"), "c@d.com");
  EXPECT_EQ(NormalizeRecipients(std::string("a@b.com\0x;Dev\n<d@e.com>;f@g.com", 31)), "f@g.com");
  EXPECT_EQ(RecipientItems("a@b.com\rRCPT TO:<x@y.com>"), std::vector<std::string>{});
  EXPECT_EQ(RecipientItems("a@x.com, Dev <d@y.com>;"), (std::vector<std::string>{"a@x.com", "Dev <d@y.com>"}));
  EXPECT_TRUE(RecipientItems(" ; ").empty());
}

TEST(MailAddresses, SenderAndAngleForms) {
  EXPECT_EQ(MailSender("me@x.com", "a@y.com"), "me@x.com");
  EXPECT_EQ(MailSender("", "Dev <d@y.com>,b@z.com"), "Kestrelix <d@y.com>");
  EXPECT_EQ(MailSender("", "d@y.com"), "Kestrelix <d@y.com>");
  EXPECT_EQ(MailSender("", ""), "");

  EXPECT_EQ(ShortAngleAddress("a@x.com"), "<a@x.com>");
  EXPECT_EQ(ShortAngleAddress("Kestrelix <a@x.com>"), "<a@x.com>");
  EXPECT_EQ(FullAngleAddress("a@x.com"), "<a@x.com>");
  EXPECT_EQ(FullAngleAddress("Kestrelix <a@x.com>"), "Kestrelix <a@x.com>");
  // Each address of a list gets its own brackets (one pair around the list is no address).
  EXPECT_EQ(FullAngleRecipients("a@x.com,Dev <d@y.com>"), "<a@x.com>, Dev <d@y.com>");

  EXPECT_EQ(MailDomain("Dev <dev@mail.example.com>"), "mail.example.com");
  EXPECT_EQ(MailDomain("dev@example.com"), "example.com");
  EXPECT_EQ(MailDomain("no-at-sign"), "");
}

TEST(MailText, DateAndMessageIdFromTheSystemTime) {
  const KXFileTime march5 = 129754120230000000ull; // 2012-03-05 09:07:03 UTC
  EXPECT_EQ(MailDate(march5), "5 Mar 2012 09:07:03 UT");
  EXPECT_EQ(MailDate(125963423990000000ull), "29 Feb 2000 23:59:59 UT");
  EXPECT_EQ(MailDate(0), "1 Jan 1601 00:00:00 UT");
  EXPECT_EQ(MailMessageId(march5), "<01ccfaaf5473d580@Kestrelix>");
  EXPECT_EQ(MailMessageId(0x1ABull), "<00000000000001ab@Kestrelix>");
}

TEST(MailText, SubjectIsOneEncodedWordOrFoldedWords) {
  EXPECT_EQ(EncodedSubject("bug report"), "=?ISO-8859-1?Q?bug=20report?=");
  EXPECT_EQ(EncodedSubject("Fehler: \xE4=?"), "=?ISO-8859-1?Q?Fehler=3A=20=E4=3D=3F?=");
  EXPECT_EQ(EncodedSubject(""), "=?ISO-8859-1?Q?" "?=");

  // A long subject: words of at most 75 characters on folded lines, no escape split.
  std::string subject(100, '.');
  std::string encoded = EncodedSubject(subject);
  size_t start = 0, words = 0;
  std::string decoded;
  for (;;) {
    size_t end = encoded.find("\r\n ", start);
    std::string word = encoded.substr(start, end == std::string::npos ? std::string::npos : end - start);
    EXPECT_LE(word.size(), 75u) << word;
    ASSERT_EQ(word.rfind("=?ISO-8859-1?Q?", 0), 0u);
    ASSERT_EQ(word.substr(word.size() - 2), "?=");
    decoded += word.substr(15, word.size() - 17);
    ++words;
    if (end == std::string::npos)
      break;
    start = end + 3;
  }
  EXPECT_GT(words, 1u);
  std::string expected;
  for (int i = 0; i < 100; ++i)
    expected += "=2E";
  EXPECT_EQ(decoded, expected);
}

TEST(MailText, BodyLinesCannotEndTheDataPhase) {
  // A line of a single dot is sent as ". " (doubled on the wire so the recipient sees ". ").
  EXPECT_EQ(SmtpBodyText("a\r\n.\r\nb"), "a\r\n.. \r\nb");
  EXPECT_EQ(SmtpBodyText(".\r\n.\r\n."), ".. \r\n.. \r\n.. ");
  // Any other line starting with a dot keeps its dot at the recipient.
  EXPECT_EQ(SmtpBodyText(".hidden\r\n..x"), "..hidden\r\n...x");
  // Lone CR and LF become CR LF, so a bare "\n.\n" cannot end the message on a lenient server.
  EXPECT_EQ(SmtpBodyText("a\n.\nb\rc"), "a\r\n.. \r\nb\r\nc");
  EXPECT_EQ(SmtpBodyText("end\r\n"), "end\r\n");
  EXPECT_EQ(SmtpBodyText(""), "");
}

TEST(Mailto, EncodingAndCommandLine) {
  EXPECT_EQ(MailtoEncode("a b\r\n\"#%&+<>?=/"), "a%20b%0D%0A%22%23%25%26%2B%3C%3E%3F=/");

  const std::string url = MailtoUrl("thunderbird.exe -compose \"%1\"", "a@x.com,b@y.com", "bug report", "x & y");
  EXPECT_EQ(url, "mailto:a@x.com,b@y.com?subject=bug%20report&body=x%20%26%20y");
  EXPECT_EQ(MailtoUrl("C:\\Office\\OUTLOOK.EXE -c IPM.Note /m \"%1\"", "a@x.com,b@y.com", "", ""),
            "mailto:a@x.com;b@y.com?subject=&body=");
  EXPECT_EQ(MailtoUrl("c:\\mail\\outlook.exe", "a,b", "", "").substr(0, 10), "mailto:a;b");
  // Recipients are escaped too: a display name stays one argument, a "?" cannot start the query.
  EXPECT_EQ(MailtoUrl("mail.exe %1", "Dev Team <dev@x.com>, b?c&d@y.com", "s", ""),
            "mailto:Dev%20Team%20%3Cdev@x.com%3E,%20b%3Fc%26d@y.com?subject=s&body=");

  EXPECT_EQ(MailtoCommandLine("mail.exe \"%1\"", "mailto:x", true), "mail.exe \"mailto:x\"");
  EXPECT_EQ(MailtoCommandLine("mail.exe", "mailto:x", true), "mail.exe \"mailto:x\"");
  EXPECT_EQ(MailtoCommandLine("mail.exe ", "mailto:x", true), "mail.exe \"mailto:x\"");
  // The URL's own "%1" (an escaped byte followed by 1) is not a placeholder.
  EXPECT_EQ(MailtoCommandLine("m \"%1\"", "mailto:?body=%251", true), "m \"mailto:?body=%251\"");
}

TEST(Mailto, LongCommandLineIsCutWithoutSplittingAnEscape) {
  const std::string command = "m.exe ";
  const size_t urlStart = command.size() + 1; // after the opening quote
  for (size_t percentAt : {kMaxCommandLine - 1, kMaxCommandLine - 2, kMaxCommandLine - 3}) {
    std::string url(kMaxCommandLine + 100 - urlStart, 'x');
    url[percentAt - urlStart] = '%';
    std::string line = MailtoCommandLine(command, url, true);
    const size_t expected = percentAt >= kMaxCommandLine - 2 ? percentAt : kMaxCommandLine;
    EXPECT_EQ(line.size(), expected) << percentAt;
    EXPECT_EQ(MailtoCommandLine(command, url, false).size(), urlStart + url.size() + 1);
  }
}

TEST(Mapi, RecipientsFlagsAndOutcome) {
  EXPECT_EQ(MapiRecipients("a@x.com, Dev <d@y.com>"),
            (std::vector<KXMapiRecipient>{{"a@x.com", "SMTP:a@x.com"}, {"Dev ", "SMTP:d@y.com"}}));
  EXPECT_EQ(MapiSendFlags(true, true), 0u);
  EXPECT_EQ(MapiSendFlags(true, false), kMapiLogonUi | kMapiDialog);
  EXPECT_EQ(MapiSendFlags(false, true), kMapiLogonUi | kMapiDialog);
  EXPECT_EQ(MapiOutcome(0), KXMapiOutcome::sent);
  EXPECT_EQ(MapiOutcome(1), KXMapiOutcome::cancelled);
  EXPECT_EQ(MapiOutcome(2), KXMapiOutcome::failed);
}

} // namespace
} // namespace kx
