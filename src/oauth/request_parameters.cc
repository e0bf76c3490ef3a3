#include "oauth/request_parameters.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string>

#include "encoding/oauth_url_encoding.h"
#include "encoding/percent_escapes.h"
#include "encoding/url_base.h"
#include "oauth/split.h"
#include "base/log.h"

namespace marigold::OAParameterAdditions {
namespace {

constexpr std::string_view kMultipartType = "multipart/form-data";
constexpr std::string_view kFormType = "application/x-www-form-urlencoded";

bool usesQuery(const URLRequest& request) {
  return request.HTTPMethod() == "GET" || request.HTTPMethod() == "DELETE";
}

std::optional<std::string> formDecoded(std::string_view text) {
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '+', ' ');
  return replacePercentEscapes(spaced);
}

// Secrets never reach the log: these parameters show "***" in place of their values.
bool isSecretName(std::string_view encodedName) {
  const auto name = formDecoded(encodedName);
  return name && (*name == "x_auth_password" || *name == "oauth_token_secret");
}

std::string joinedPairs(std::span<const OARequestParameter> parameters) {
  std::string joined;
  for (const auto& parameter : parameters) {
    if (!joined.empty()) joined += '&';
    joined += parameter.URLEncodedNameValuePair();
  }
  return joined;
}

void append(Bytes& body, std::string_view text) {
  body.insert(body.end(), text.begin(), text.end());
}

// A name, file name or type inside a part's header, with the characters that would end the quoted
// string or the header line percent-encoded (RFC 7578, section 2): `quote` also escapes '"'.
void appendHeaderText(Bytes& body, std::string_view text, bool quote = true) {
  for (const char c : text) {
    if (c == '\r') {
      append(body, "%0D");
    } else if (c == '\n') {
      append(body, "%0A");
    } else if (c == '"' && quote) {
      append(body, "%22");
    } else {
      body.push_back(static_cast<std::uint8_t>(c));
    }
  }
}

// kBoundary, unless some content holds it: a part holding its boundary would be cut there. Then
// characters are added until no content holds the result; each one is chosen among those that
// follow no occurrence, so one step nearly always suffices and the length stays far within the 70
// characters that a boundary may have.
std::string boundaryFor(const std::optional<std::vector<OARequestParameter>>& fields,
                        std::span<const FileAttachment> files) {
  constexpr std::string_view kAlphabet =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string boundary(kBoundary);
  for (;;) {
    std::array<std::size_t, 256> following{};  // occurrences followed by each byte
    bool occurs = false;
    const std::boyer_moore_horspool_searcher searcher(boundary.begin(), boundary.end());
    const auto count = [&](std::string_view content) {
      for (auto at = std::search(content.begin(), content.end(), searcher); at != content.end();
           at = std::search(at + 1, content.end(), searcher)) {
        occurs = true;
        const auto next = at + static_cast<std::ptrdiff_t>(boundary.size());
        if (next != content.end()) ++following[static_cast<unsigned char>(*next)];
      }
    };
    if (fields) {
      for (const auto& field : *fields) count(field.value().value_or(""));
    }
    for (const FileAttachment& file : files) {
      count(std::string_view(reinterpret_cast<const char*>(file.data.data()), file.data.size()));
    }
    if (!occurs) return boundary;
    boundary += *std::min_element(kAlphabet.begin(), kAlphabet.end(), [&](char a, char b) {
      return following[static_cast<unsigned char>(a)] < following[static_cast<unsigned char>(b)];
    });
  }
}

void setMultipartBody(URLRequest& request, std::span<const FileAttachment> files,
                      bool numberFileNames) {
  const auto fields = parameters(request);
  const std::string boundary = boundaryFor(fields, files);
  request.setValue(std::string(kMultipartType) + "; boundary=" + boundary, "Content-type");
  Bytes body;
  if (fields) {
    for (const auto& field : *fields) {
      append(body, "--");
      append(body, boundary);
      append(body, "\r\nContent-Disposition: form-data; name=\"");
      append(body, field.URLEncodedName());
      append(body, "\"\r\n\r\n");
      if (field.value()) append(body, *field.value());
      append(body, "\r\n");
    }
  }
  for (std::size_t index = 0; index < files.size(); ++index) {
    const FileAttachment& file = files[index];
    // Each delimiter after the first part begins with the CR LF that ends the part before it.
    if (index > 0) append(body, "\r\n");
    append(body, "--");
    append(body, boundary);
    append(body, "\r\nContent-Disposition: form-data; name=\"");
    appendHeaderText(body, file.name);
    append(body, "\"; filename=\"");
    appendHeaderText(body, file.filename);
    if (numberFileNames) {
      append(body, "-");
      append(body, std::to_string(index));
    }
    append(body, "\"\r\nContent-Type: ");
    appendHeaderText(body, file.contentType, /*quote=*/false);
    append(body, "\r\n\r\n");
    body.insert(body.end(), file.data.begin(), file.data.end());
  }
  // The close delimiter ends with its own CR LF, as common servers require (an empty epilogue).
  append(body, "\r\n--");
  append(body, boundary);
  append(body, "--\r\n");
  request.setValue(std::to_string(body.size()), "Content-Length");
  request.setHTTPBody(std::move(body));
}

// Length of the well-formed UTF-8 sequence starting at `at`, or 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                                                      : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string maskedForLog(std::string_view formText) {
  std::string masked;
  bool first = true;
  for (const std::string_view piece : splitAtEvery(formText, '&')) {
    if (!first) masked += '&';
    first = false;
    const auto equals = piece.find('=');
    if (equals != std::string_view::npos && isSecretName(piece.substr(0, equals))) {
      masked.append(piece.substr(0, equals + 1)).append(kMaskedSecret);
    } else {
      masked.append(piece);
    }
  }
  return masked;
}

bool isMultipart(const URLRequest& request) {
  const auto type = request.valueForHTTPHeaderField("Content-Type");
  return type && type->starts_with(kMultipartType);
}

std::optional<std::vector<OARequestParameter>> parameters(const URLRequest& request) {
  if (isMultipart(request)) return std::nullopt;
  std::string raw;
  if (usesQuery(request)) {
    if (!request.url().query()) return std::nullopt;
    raw = *request.url().query();
  } else {
    const auto body = request.HTTPBody();
    if (!body) return std::nullopt;
    if (std::any_of(body->begin(), body->end(), [](std::uint8_t b) { return b >= 0x80; })) {
      return std::nullopt;
    }
    raw.assign(body->begin(), body->end());
  }
  if (raw.empty()) return std::nullopt;
  log("raw parameters " + maskedForLog(raw));
  return parametersWithFormText(raw);
}

std::vector<OARequestParameter> parametersWithFormText(std::string_view text) {
  std::vector<OARequestParameter> result;
  for (const std::string_view piece : splitAtEvery(text, '&')) {
    if (piece.empty()) continue;
    const auto equals = piece.find('=');
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
    result.emplace_back(formDecoded(piece.substr(0, equals)), formDecoded(value));
  }
  return result;
}

void setParameters(URLRequest& request, std::span<const OARequestParameter> parameters) {
  const std::string joined = joinedPairs(parameters);
  if (usesQuery(request)) {
    // Cut at the fragment too, or a URL without a query would carry the new query inside its
    // fragment, where it is never sent.
    std::string base = OABaseAdditions::URLStringWithoutQuery(request.url().absoluteString());
    base.resize(std::min(base.size(), base.find('#')));
    // Only unreserved characters, "%", "=" and "&" are added, so a URL that parsed still parses.
    if (auto url = URL::withString(base + "?" + joined)) request.setURL(std::move(*url));
    return;
  }
  setHTTPBodyWithString(request, joined);
  request.setValue(std::string(kFormType), "Content-Type");
}

void setHTTPBodyWithString(URLRequest& request, std::string_view text) {
  Bytes body;
  body.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      body.push_back(byte);
      ++at;
    } else {
      body.push_back('?');
      at += std::max<std::size_t>(1, sequenceLength(text, at));
    }
  }
  request.setValue(std::to_string(body.size()), "Content-Length");
  request.setHTTPBody(std::move(body));
}

void attachFileWithName(URLRequest& request, std::string_view name, std::string_view filename,
                        std::string_view contentType, ByteView data) {
  const FileAttachment file{name, filename, contentType, data};
  setMultipartBody(request, std::span(&file, 1), false);
}

void attachFiles(URLRequest& request, std::span<const FileAttachment> files) {
  setMultipartBody(request, files, true);
}

}  // namespace marigold::OAParameterAdditions
