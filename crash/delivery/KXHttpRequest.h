#pragma once
// The HTTP upload request: where it goes (host, path, proxy, port), the multipart/form-data body
// made of the fields part, one part per attachment and the closing delimiter, and the header
// lines in their fixed order.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

// The upload address split into host and path: everything up to and including the first "://" is
// dropped; the text before the first "/" is the host and the rest the path. An address without a
// path ("http://example.com") posts to "/".
struct KXUploadTarget {
  std::string host; // as written, with a ":port" when the address names one
  std::string path;
};
KXUploadTarget ParseUploadTarget(std::string_view httpServer);

// A "name:port" text split into name and port; the port is defaultPort when the text does not end
// in a colon and a number from 1 to 65535.
struct KXHostPort {
  std::string name;
  uint16_t port = 0;
};
KXHostPort SplitHostPort(std::string_view text, uint16_t defaultPort);

// The proxy that the system's internet settings name for HTTP ("" for none): everything up to
// and including a "://" is dropped, from a list with "http=" the text after it is taken, and of
// several names separated by spaces the first.
std::string HttpProxyName(std::string_view proxyList);

using KXFormFields = std::vector<std::pair<std::string, std::string>>;

// For each field: CR LF, "--" boundary, CR LF, the form-data disposition with the name, an empty
// line and the content. Its leading CR LF also ends the request header. A field whose name is not
// one line (IsSingleLineValue) is left out; quotes in names are escaped.
std::string HttpFieldsPart(std::string_view boundary, const KXFormFields &fields);

// The beginning of one attachment part, up to the file's bytes. The names are escaped for their
// quotes; the caller has made sure each is one line (IsSingleLineValue).
std::string HttpAttachmentPartHeader(std::string_view boundary, std::string_view fieldName,
                                     std::string_view sendAsName);
// The whole part's length: boundary + escaped field name + escaped send-as name + file size + 102.
uint64_t HttpAttachmentPartLength(std::string_view boundary, std::string_view fieldName, std::string_view sendAsName,
                                  uint64_t fileSize);

// CR LF "--" boundary "--" CR LF.
std::string HttpClosingDelimiter(std::string_view boundary);

struct KXHttpRequestHeader {
  std::string boundary;
  std::string path;
  std::string hostHeader; // the host and port for the Host line
  std::string sender;     // "" for no From line
  std::string account;
  std::string password;
  uint64_t fieldsLength = 0;
  uint64_t attachmentsLength = 0; // the sum of the attachment parts' lengths
};

// The request line and the header lines, each ending in CR LF, in this order: POST, Host,
// Connection, Pragma, User-Agent, Content-Type, Content-Length, From (with a sender),
// Authorization (with an account or a password). The empty line that ends the header is the
// first CR LF of the body that follows.
std::string HttpRequestHeader(const KXHttpRequestHeader &header);

} // namespace kx
