// For tests: reads a multipart body by the framing of RFC 2046 section 5.1.1, written from the
// RFC's grammar and independent of the library's writer. An optional preamble, then parts, each
// opened by a delimiter line ("--" BOUNDARY, transport padding, CR LF) and ended by the CR LF
// before the next delimiter, then the close delimiter ("--" BOUNDARY "--") and an optional
// epilogue. A part's header fields end at its first empty line. Stateless.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"

namespace marigold::multipart {

struct Part {
  std::map<std::string, std::string> headers;  // names in lower case
  std::string content;

  // A parameter of the Content-Disposition field (name="...", filename="..."), unquoted.
  std::optional<std::string> disposition(std::string_view parameter) const {
    const auto field = headers.find("content-disposition");
    if (field == headers.end()) return std::nullopt;
    const std::string key = "; " + std::string(parameter) + "=\"";
    const auto at = field->second.find(key);
    if (at == std::string::npos) return std::nullopt;
    const auto start = at + key.size();
    const auto end = field->second.find('"', start);
    if (end == std::string::npos) return std::nullopt;
    return field->second.substr(start, end - start);
  }
};

// The boundary parameter of a multipart Content-Type value, quoted or not.
inline std::optional<std::string> boundaryOf(std::string_view contentType) {
  const auto at = contentType.find("boundary=");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view value = contentType.substr(at + 9);
  if (value.starts_with('"')) {
    const auto end = value.find('"', 1);
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(value.substr(1, end - 1));
  }
  return std::string(value.substr(0, std::min(value.find(';'), value.size())));
}

// The parts of `body`, or nothing when its framing is broken: no opening delimiter, no part, a
// delimiter followed by anything but transport padding and CR LF (or "--" closing), a missing
// close delimiter, or a part header line without ":".
inline std::optional<std::vector<Part>> readParts(std::string_view body,
                                                  std::string_view boundary) {
  const std::string dash = "--" + std::string(boundary);
  const std::string delimiter = "\r\n" + dash;
  std::size_t at = 0;
  if (!body.starts_with(dash)) {
    at = body.find(delimiter);  // past the preamble
    if (at == std::string_view::npos) return std::nullopt;
    at += 2;
  }
  std::vector<Part> parts;
  for (;;) {
    at += dash.size();
    if (body.substr(at, 2) == "--") break;  // close delimiter; the rest is epilogue
    while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) ++at;
    if (body.substr(at, 2) != "\r\n") return std::nullopt;
    const std::size_t start = at + 2;
    const std::size_t end = body.find(delimiter, start);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view part = body.substr(start, end - start);
    Part read;
    std::string_view head;
    if (part.starts_with("\r\n")) {
      part.remove_prefix(2);
    } else {
      const auto blank = part.find("\r\n\r\n");
      head = part.substr(0, blank);
      part = blank == std::string_view::npos ? std::string_view() : part.substr(blank + 4);
    }
    for (std::size_t line = 0; line < head.size();) {
      const auto next = std::min(head.find("\r\n", line), head.size());
      const std::string_view field = head.substr(line, next - line);
      const auto colon = field.find(':');
      if (colon == std::string_view::npos) return std::nullopt;
      std::string name = lowerASCII(field.substr(0, colon));
      std::string_view value = field.substr(colon + 1);
      while (value.starts_with(' ')) value.remove_prefix(1);
      read.headers[name] = std::string(value);
      line = next + 2;
    }
    read.content = std::string(part);
    parts.push_back(std::move(read));
    at = end + 2;
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

}  // namespace marigold::multipart
