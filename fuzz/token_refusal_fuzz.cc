// Feeds arbitrary refused replies to the reading of their oauth_problem and to the judgement of
// what the refusal means for the sign-in. The first two bytes are the HTTP status (modulo 600), the
// bytes up to the first newline the WWW-Authenticate challenge, the rest the reply's body. The
// problem read must be a problem name written in the reply, and the sign-in may be judged refused
// only by a 401 or 403 that names the token or the signature (or a 401 naming none), never by a
// used nonce or a refused timestamp.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "oauth/refusal.h"
#include "platform/http_url_response.h"
#include "platform/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marigold::OARefusal;
  if (size < 2) return 0;
  const long status = ((data[0] << 8) | data[1]) % 600;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t newline = rest.find('\n');
  const std::string_view challenge = rest.substr(0, newline);
  const std::string_view body =
      newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);

  static const marigold::URL kAddress = *marigold::URL::withString("http://api.example/v2/x");
  std::vector<marigold::HTTPURLResponse::HeaderField> headers;
  if (newline != std::string_view::npos && !challenge.empty())
    headers.emplace_back("WWW-Authenticate", challenge);
  const marigold::HTTPURLResponse response(kAddress, status, headers);
  const std::optional<std::string> problem =
      marigold::oauthProblemOfReply(response, marigold::asBytes(body));

  if (problem) {
    if (problem->empty() || problem->size() > 64) std::abort();
    for (const char c : *problem) {
      const bool name =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
      if (!name) std::abort();
    }
    if (challenge.find(*problem) == std::string_view::npos &&
        body.find(*problem) == std::string_view::npos) {
      std::abort();
    }
  }
  const OARefusal refusal = marigold::refusalOf(status, problem);
  if (refusal == OARefusal::kCredentials) {
    if (status != 401 && status != 403) std::abort();
    if (status == 403 && !problem) std::abort();
    if (problem && (*problem == "nonce_used" || *problem == "timestamp_refused")) std::abort();
  }
  if (status == 401 && !problem && refusal != OARefusal::kCredentials) std::abort();
  return 0;
}
