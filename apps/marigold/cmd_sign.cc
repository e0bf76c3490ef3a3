// marigold sign: signs one request with OAuth 1.0 and shows what was signed, so that a rejected
// signature can be compared with what the service expects.
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"

namespace marigold::cli {
namespace {

struct SignOptions {
  std::map<std::string, std::string> values;  // option name without "--" to its value
  std::vector<OARequestParameter> parameters;
};

const char* const kValueOptions[] = {"url",       "consumer-key",    "consumer-secret", "method",
                                     "token",     "token-secret",    "realm",           "nonce",
                                     "timestamp", "signature-method"};

std::optional<std::string> valueOf(const SignOptions& options, const std::string& name) {
  const auto it = options.values.find(name);
  if (it == options.values.end()) return std::nullopt;
  return it->second;
}

// Reads the arguments; on a usage error returns nullopt after setting `error`.
std::optional<SignOptions> parseArguments(const Args& args, std::string& error) {
  SignOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--") || i + 1 >= args.size()) {
      error = "unexpected argument '" + arg + "' (each option takes a value)";
      return std::nullopt;
    }
    const std::string name = arg.substr(2);
    const std::string& value = args[++i];
    if (name == "param") {
      const auto equals = value.find('=');
      if (equals == std::string::npos) {
        error = "--param takes NAME=VALUE, got '" + value + "'";
        return std::nullopt;
      }
      options.parameters.emplace_back(value.substr(0, equals), value.substr(equals + 1));
      continue;
    }
    bool known = false;
    for (const char* option : kValueOptions) known = known || name == option;
    if (!known) {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    options.values[name] = value;
  }
  for (const char* required : {"url", "consumer-key", "consumer-secret"}) {
    if (!options.values.contains(required)) {
      error = std::string("--") + required + " is required";
      return std::nullopt;
    }
  }
  return options;
}

std::string bodyText(const URLRequest& request) {
  const auto body = request.HTTPBody();
  return body ? std::string(body->begin(), body->end()) : std::string();
}

}  // namespace

int runSign(const Args& args) {
  std::string error;
  const auto options = parseArguments(args, error);
  if (!options) {
    return fail(error +
                "\nusage: marigold sign --url URL --consumer-key K --consumer-secret S "
                "[--method M] [--token T] [--token-secret TS] [--realm R] "
                "[--signature-method HMAC-SHA1|PLAINTEXT] [--nonce N] [--timestamp T] "
                "[--param NAME=VALUE]...");
  }
  const std::string urlText = *valueOf(*options, "url");
  const auto url = URL::withString(urlText);
  if (!url) {
    return fail("'" + urlText + "' is not an absolute URL; give scheme, host and path", 1);
  }

  std::shared_ptr<const OASignatureProviding> provider;
  const std::string method = valueOf(*options, "signature-method").value_or("HMAC-SHA1");
  if (method == "PLAINTEXT") {
    provider = std::make_shared<const OAPlaintextSignatureProvider>();
  } else if (method != "HMAC-SHA1") {
    return fail("--signature-method must be HMAC-SHA1 or PLAINTEXT, not '" + method + "'");
  }

  const OAConsumer consumer(valueOf(*options, "consumer-key"),
                            valueOf(*options, "consumer-secret"));
  std::optional<OAToken> token;
  if (options->values.contains("token") || options->values.contains("token-secret")) {
    token = OAToken(valueOf(*options, "token"), valueOf(*options, "token-secret"));
  }
  // A fresh request supplies whichever of nonce and timestamp was not given.
  const OAMutableURLRequest fresh(*url, consumer, token, valueOf(*options, "realm"), provider);
  OAMutableURLRequest request(*url, consumer, token, valueOf(*options, "realm"), provider,
                              valueOf(*options, "nonce").value_or(fresh.nonce()),
                              valueOf(*options, "timestamp").value_or(fresh.timestamp()));
  request.setHTTPMethod(valueOf(*options, "method").value_or("GET"));
  if (!options->parameters.empty()) {
    OAParameterAdditions::setParameters(request, options->parameters);
  }
  request.prepare();

  std::printf("url: %s\n", request.url().absoluteString().c_str());
  std::printf("body: %s\n", bodyText(request).c_str());
  std::printf("base-string: %s\n", request.signatureBaseString().c_str());
  std::printf("signature: %s\n", request.signature().value_or("").c_str());
  std::printf("authorization: %s\n",
              request.valueForHTTPHeaderField("Authorization").value_or("").c_str());
  return 0;
}

}  // namespace marigold::cli
