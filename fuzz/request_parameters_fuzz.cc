// Feeds arbitrary bytes as the query of a GET request and as the form body of a POST request.
// Every parameter read back must survive being written and read again, and signing must give a
// 28-character HMAC-SHA1 signature whatever the parameters are.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/log.h"
#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"

namespace {

using namespace marigold;

void checkRoundTrip(const std::vector<OARequestParameter>& parameters) {
  for (const auto& p : parameters) {
    if (!p.name() || !p.value()) return;  // undecodable pieces cannot be written back
  }
  URLRequest request(*URL::withString("http://fuzz.example/p"));
  request.setHTTPMethod("POST");
  OAParameterAdditions::setParameters(request, parameters);
  const auto back = OAParameterAdditions::parameters(request);
  if (parameters.empty()) {
    if (back) std::abort();
    return;
  }
  if (!back || back->size() != parameters.size()) std::abort();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (!(*back)[i].isEqualToRequestParameter(parameters[i])) std::abort();
  }
}

void checkSigning(OAMutableURLRequest& request) {
  request.prepare();
  if (!request.signature() || request.signature()->size() != 28) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LogCapture quiet;  // keep the "raw parameters" lines off the terminal
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (const auto url = URL::withString("http://fuzz.example/p?" + text)) {
    OAMutableURLRequest get(*url, OAConsumer("k", "s"), std::nullopt, std::nullopt, nullptr, "n",
                            "1");
    if (const auto parameters = OAParameterAdditions::parameters(get)) checkRoundTrip(*parameters);
    checkSigning(get);
  }

  OAMutableURLRequest post(*URL::withString("http://fuzz.example/p"), OAConsumer("k", "s"),
                           OAToken("t", "u"), std::nullopt, nullptr, "n", "1");
  post.setHTTPMethod("POST");
  post.setHTTPBody(Bytes(text.begin(), text.end()));
  if (const auto parameters = OAParameterAdditions::parameters(post)) checkRoundTrip(*parameters);
  checkSigning(post);
  return 0;
}
