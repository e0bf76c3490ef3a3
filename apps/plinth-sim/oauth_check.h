// The stateless half of the simulator's OAuth 1.0 checks, written from RFC 5849: reading the
// protocol and request parameters of a request (Authorization header, query, form body), building
// the signature base string (section 3.4.1) and computing the signature a request must carry
// (HMAC-SHA1 or PLAINTEXT). One deviation models the Plinth service: a form-body parameter named
// data[N] (the photo keys) enters the parameter string as the literal text data[N], so that the
// base string holds data%5B0%5D. Free functions over plain values; thread-safe.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marigold::sim {

// What the checks need of one HTTP request.
struct RequestView {
  std::string method;         // as sent, e.g. "POST"
  std::string scheme;         // "http" or "https": the listener the request arrived on
  std::string host;           // the Host header; a port in it is the one the client signed
  int port = 0;               // the port the request arrived on, for a Host without one
  std::string target;         // raw request target: path and optional "?query"
  std::string authorization;  // Authorization header, empty when absent
  std::string contentType;    // Content-Type header, empty when absent
  std::string body;
};

enum class ParamSource { kHeader, kQuery, kBody };

// One parameter, name and value percent-decoded.
struct Param {
  std::string name;
  std::string value;
  ParamSource source;
};

// A refusal: HTTP status, the oauth_problem name and a short advice text for people.
struct OAuthProblem {
  int status = 401;
  std::string problem;
  std::string advice;
};

struct CollectedParams {
  std::vector<Param> params;                    // every parameter, in arrival order
  std::map<std::string, std::string> protocol;  // the oauth_* ones, by name
};

// The pairs of an "OAuth ..." Authorization header, decoded, without realm. Absent when the header
// uses the OAuth scheme but is malformed; an empty list when it uses another scheme or is empty.
std::optional<std::vector<std::pair<std::string, std::string>>> parseAuthorizationHeader(
    std::string_view header);

// Reads the header, the query and (for an application/x-www-form-urlencoded body) the body.
// Refuses with 400 a malformed header or escape and a protocol parameter given more than once.
std::pair<CollectedParams, std::optional<OAuthProblem>> collectParameters(
    const RequestView& request);

// Lower-case scheme and host, the port unless it is the scheme's default, the path as sent.
std::string baseStringURI(const RequestView& request);

// METHOD&encoded-URI&encoded-parameter-string, oauth_signature left out.
std::string signatureBaseString(const RequestView& request, const std::vector<Param>& params);

// The signature for `method` ("HMAC-SHA1" or "PLAINTEXT"); absent for any other method.
std::optional<std::string> expectedSignature(std::string_view method, std::string_view baseString,
                                             std::string_view consumerSecret,
                                             std::string_view tokenSecret);

// Parses an application/x-www-form-urlencoded text into decoded pairs; a piece without "=" has an
// empty value, empty pieces are skipped. Absent on a malformed escape.
std::optional<std::vector<std::pair<std::string, std::string>>> parseForm(std::string_view text);

}  // namespace marigold::sim
