// Reading and writing a request's parameters (the `OAParameterAdditions` operations on URLRequest):
// from and to the URL query of a GET or DELETE request or the form body of any other, a text body
// with its length, and multipart/form-data bodies with attached files. Nothing is stored besides
// the request itself: parameters are read back from the query or body each time. Stateless.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "oauth/request_parameter.h"
#include "platform/url_request.h"

namespace marigold::OAParameterAdditions {

// The multipart boundary: 35 hyphens and 20 letters and digits. A body whose parameter values or
// file bytes hold it gets a longer boundary that none of them holds.
inline constexpr std::string_view kBoundary =
    "-----------------------------------0xCoCoaouTHeBouNDaRy";

// True when the "Content-Type" header begins with "multipart/form-data" (case-sensitive value).
bool isMultipart(const URLRequest& request);

// The request's parameters in text order, duplicates kept: from the URL query for GET and DELETE
// (exact, case-sensitive method names), from the body otherwise. Absent for a multipart request,
// a missing or empty query or body, or a body that is not ASCII. Logs the raw text once, with the
// values of x_auth_password and oauth_token_secret masked.
std::optional<std::vector<OARequestParameter>> parameters(const URLRequest& request);

// What the log shows in place of a secret value.
inline constexpr std::string_view kMaskedSecret = "***";

// Form text as the log may show it: the values of x_auth_password and oauth_token_secret (names
// compared after form decoding) replaced by kMaskedSecret; every other piece unchanged, so text
// that is not form-encoded passes through as it was.
std::string maskedForLog(std::string_view formText);

// Decodes application/x-www-form-urlencoded text: pairs split at "&" (empty pieces skipped), name
// and value split at the first "=" (a piece without "=" has the empty value), "+" read as a space,
// then percent escapes decoded. A name or value that does not decode (malformed escape, not UTF-8)
// is absent in its parameter.
std::vector<OARequestParameter> parametersWithFormText(std::string_view text);

// Writes the parameters, encoded, as "name=value&...": into the URL query of a GET or DELETE
// request (replacing query and fragment; no parameters leave a URL ending in "?"), otherwise into
// the body with "Content-Type" application/x-www-form-urlencoded.
void setParameters(URLRequest& request, std::span<const OARequestParameter> parameters);

// Sets the body to the text converted to ASCII (each character without an ASCII form becomes "?")
// and "Content-Length" to its byte count.
void setHTTPBodyWithString(URLRequest& request, std::string_view text);

// Replaces the body by a multipart/form-data body holding the request's current parameters (read
// before anything changes; a GET or DELETE request keeps its query) followed by one file part, and
// sets "Content-type" and "Content-Length". The file bytes are sent unchanged; in the field name
// and file name '"', CR and LF are percent-encoded (RFC 7578), in the type CR and LF. The body ends
// with the close delimiter and CR LF. The boundary is kBoundary unless a value or the file holds
// it (see kBoundary); "Content-type" names the one used.
void attachFileWithName(URLRequest& request, std::string_view name, std::string_view filename,
                        std::string_view contentType, ByteView data);

// One file of `attachFiles`; views, valid for the call.
struct FileAttachment {
  std::string_view name;
  std::string_view filename;
  std::string_view contentType;
  ByteView data;
};

// As `attachFileWithName` for several files; the file at index i is sent with the file name
// "FILENAME-i".
void attachFiles(URLRequest& request, std::span<const FileAttachment> files);

}  // namespace marigold::OAParameterAdditions
