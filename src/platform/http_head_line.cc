#include "platform/http_head_line.h"

namespace marigold {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The three-digit code after the protocol's name, or 0: "HTTP/1.1 404 Not Found" gives 404;
// "HTTP/1.1 -12" or "HTTP/1.1 20" give 0.
int statusCode(std::string_view line) {
  const auto space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  const std::string_view code = line.substr(space + 1, 3);
  if (code.size() != 3 || code[0] < '1' || code[0] > '9') return 0;
  int status = 0;
  for (const char digit : code) {
    if (digit < '0' || digit > '9') return 0;
    status = status * 10 + (digit - '0');
  }
  // "HTTP/1.1 2000" is not a status of 200.
  if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
  return status;
}

}  // namespace

HttpHeadLine parseHeadLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.starts_with("HTTP/"))
    return {.kind = HttpHeadLine::Kind::kStatus, .status = statusCode(line)};
  if (line.empty()) return {.kind = HttpHeadLine::Kind::kEnd};
  // A field holding a line break or a NUL inside is not a field (RFC 9110 forbids them in
  // values): such a line never becomes a header, a redirect's address say.
  if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return {};
  if (line.front() == ' ' || line.front() == '\t') {
    return {.kind = HttpHeadLine::Kind::kContinuation, .value = trimmed(line)};
  }
  if (const auto colon = line.find(':'); colon != std::string_view::npos) {
    return {.kind = HttpHeadLine::Kind::kField,
            .name = line.substr(0, colon),
            .value = trimmed(line.substr(colon + 1))};
  }
  return {};
}

}  // namespace marigold
