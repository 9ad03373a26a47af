#pragma once
// The pieces of the mail that the SMTP data phase sends: the header block, the multipart
// prologue with the body, each attachment's part header and base64 lines, the closing delimiter.
#include <string>
#include <string_view>

#include "crash/delivery/KXMailText.h"

namespace kx {

// Header lines, each ending in CR LF: To (every recipient in full angle-bracket form), From (full
// form), Subject (encoded), Date, Message-ID.
std::string MailHeaderBlock(std::string_view recipients, std::string_view sender, std::string_view subject,
                            KXFileTime now);

// The MIME lines that follow the header block of a mail with attachments, up to and including
// the text part with the body (already made safe by SmtpBodyText) and its closing CR LF.
std::string MimePrologue(std::string_view boundary, std::string_view bodyText);

// "image/png" for a path ending in ".png" (any letter case), else "application/octet-stream".
std::string AttachmentContentType(std::u16string_view path);

// The delimiter and headers of one attachment part, up to the empty line before its data. The
// name is escaped for its quotes; the caller has made sure it is one line (IsSingleLineValue).
std::string MimeAttachmentHeader(std::string_view boundary, std::string_view contentType,
                                 std::string_view sendAsName);

// Bytes per base64 line (a 57-byte chunk gives a line of 76 characters).
inline constexpr size_t kBase64LineBytes = 57;
// One chunk of at most 57 bytes as its base64 line with CR LF.
std::string Base64Line(std::string_view chunk);

// "--" + boundary + "--" + CR LF.
std::string MimeClosingDelimiter(std::string_view boundary);

} // namespace kx
