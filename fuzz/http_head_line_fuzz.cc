// Feeds arbitrary bytes to the reader of an HTTP reply's head lines. A status is a three-digit code
// or none; a field's name holds no colon and its value no surrounding blank; no name or value holds
// a CR, LF or NUL; every view lies inside the line.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/http_head_line.h"

namespace {

bool inside(std::string_view part, std::string_view line) {
  return part.empty() ||
         (part.data() >= line.data() && part.data() + part.size() <= line.data() + line.size());
}

bool blankAtEdge(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return !text.empty() && (blank(text.front()) || blank(text.back()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using Kind = marigold::HttpHeadLine::Kind;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const marigold::HttpHeadLine head = marigold::parseHeadLine(line);
  if (head.status != 0 && (head.kind != Kind::kStatus || head.status < 100 || head.status > 999)) {
    std::abort();
  }
  if (!inside(head.name, line) || !inside(head.value, line)) std::abort();
  if (head.name.find(':') != std::string_view::npos) std::abort();
  if (blankAtEdge(head.value)) std::abort();
  for (const std::string_view part : {head.name, head.value}) {
    if (part.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) std::abort();
  }
  if (head.kind != Kind::kField && !head.name.empty()) std::abort();
  return 0;
}
