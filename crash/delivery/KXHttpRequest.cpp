#include "crash/delivery/KXHttpRequest.h"

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXHeaderValue.h"
#include "crash/delivery/KXMailAddresses.h"

namespace kx {

KXUploadTarget ParseUploadTarget(std::string_view httpServer) {
  std::string_view stripped = httpServer;
  size_t scheme = stripped.find("://");
  if (scheme != std::string_view::npos)
    stripped = stripped.substr(scheme + 3);
  KXUploadTarget target;
  size_t slash = stripped.find('/');
  if (slash == std::string_view::npos) {
    target.host = std::string(stripped);
    target.path = "/";
  } else {
    target.host = std::string(stripped.substr(0, slash));
    target.path = std::string(stripped.substr(slash));
  }
  return target;
}

KXHostPort SplitHostPort(std::string_view text, uint16_t defaultPort) {
  KXHostPort result{std::string(text), defaultPort};
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon + 1 >= text.size() || text.size() - colon - 1 > 5)
    return result;
  uint32_t port = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9')
      return result;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port == 0 || port > 65535)
    return result;
  result.name = std::string(text.substr(0, colon));
  result.port = static_cast<uint16_t>(port);
  return result;
}

std::string HttpProxyName(std::string_view proxyList) {
  std::string list(proxyList);
  size_t scheme = list.find("://");
  if (scheme != std::string::npos)
    list.erase(0, scheme + 3);
  size_t http = list.find("http=");
  if (http != std::string::npos)
    list.erase(0, http + 5);
  // One proxy name: a list of several, separated by spaces, counts with its first.
  list = Trim(list);
  size_t space = list.find(' ');
  if (space != std::string::npos)
    list.erase(space);
  return list;
}

std::string HttpFieldsPart(std::string_view boundary, const KXFormFields &fields) {
  std::string part;
  for (const auto &[name, content] : fields) {
    if (!IsSingleLineValue(name))
      continue;
    part += "\r\n--";
    part += boundary;
    part += "\r\nContent-Disposition: form-data; name=\"" + EscapedQuotedValue(name) + "\"\r\n\r\n";
    part += content;
  }
  return part;
}

std::string HttpAttachmentPartHeader(std::string_view boundary, std::string_view fieldName,
                                     std::string_view sendAsName) {
  std::string part = "\r\n--";
  part += boundary;
  part += "\r\nContent-Disposition: form-data; name=\"" + EscapedQuotedValue(fieldName) + "\"; filename=\"" +
          EscapedQuotedValue(sendAsName) + "\"\r\n";
  part += "Content-Type: application/octet-stream\r\n\r\n";
  return part;
}

uint64_t HttpAttachmentPartLength(std::string_view boundary, std::string_view fieldName, std::string_view sendAsName,
                                  uint64_t fileSize) {
  return boundary.size() + EscapedQuotedValue(fieldName).size() + EscapedQuotedValue(sendAsName).size() + fileSize +
         102;
}

std::string HttpClosingDelimiter(std::string_view boundary) {
  return "\r\n--" + std::string(boundary) + "--\r\n";
}

std::string HttpRequestHeader(const KXHttpRequestHeader &header) {
  const uint64_t contentLength = header.fieldsLength + header.attachmentsLength + header.boundary.size() + 6;
  std::string text;
  text += "POST " + header.path + " HTTP/1.1\r\n";
  text += "Host: " + header.hostHeader + "\r\n";
  text += "Connection: close\r\n";
  text += "Pragma: no-cache\r\n";
  text += "User-Agent: Kestrelix/3.0\r\n";
  text += "Content-Type: multipart/form-data; boundary=" + header.boundary + "\r\n";
  text += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  if (!header.sender.empty())
    text += "From: " + ShortAngleAddress(header.sender) + "\r\n";
  if (!header.account.empty() || !header.password.empty())
    text += "Authorization: Basic " + Base64Encode(header.account + ":" + header.password) + "\r\n";
  return text;
}

} // namespace kx
