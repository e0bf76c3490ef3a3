// marigold sign: signs one request with OAuth 1.0 and shows what was signed, so that a rejected
// signature can be compared with what the service expects.
#include <CLI/CLI.hpp>
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
  std::vector<std::string> parameters;        // NAME=VALUE
};

const char* const kValueOptions[][2] = {
    {"url", translatable("the request's URL")},
    {"consumer-key", translatable("the consumer key")},
    {"consumer-secret", translatable("the consumer secret")},
    {"method", translatable("HTTP method (GET by default)")},
    {"token", translatable("the token's key")},
    {"token-secret", translatable("the token's secret")},
    {"realm", translatable("the realm for the header")},
    {"nonce", translatable("a fixed nonce (a fresh one by default)")},
    {"timestamp", translatable("a fixed timestamp (now by default)")},
    {"signature-method", translatable("HMAC-SHA1 (default) or PLAINTEXT")}};

std::optional<std::string> valueOf(const SignOptions& options, const std::string& name) {
  const auto it = options.values.find(name);
  if (it == options.values.end()) return std::nullopt;
  return it->second;
}

std::string bodyText(const URLRequest& request) {
  const auto body = request.HTTPBody();
  return body ? std::string(body->begin(), body->end()) : std::string();
}

int sign(const SignOptions* options, Console& console) {
  std::vector<OARequestParameter> parameters;
  for (const std::string& pair : options->parameters) {
    const auto equals = pair.find('=');
    if (equals == std::string::npos) {
      return console.error(tr("--param takes NAME=VALUE, not '%1'", {pair}));
    }
    parameters.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
  }
  const std::string urlText = *valueOf(*options, "url");
  const auto url = URL::withString(urlText);
  if (!url) {
    return console.error(
        tr("--url %1: not an absolute URL; give scheme, host and path", {urlText}));
  }

  std::shared_ptr<const OASignatureProviding> provider;
  const std::string method = valueOf(*options, "signature-method").value_or("HMAC-SHA1");
  if (method == "PLAINTEXT") {
    provider = std::make_shared<const OAPlaintextSignatureProvider>();
  } else if (method != "HMAC-SHA1") {
    return console.error(
        tr("--signature-method must be HMAC-SHA1 or PLAINTEXT, not '%1'", {method}));
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
  if (!parameters.empty()) OAParameterAdditions::setParameters(request, parameters);
  request.prepare();

  console.result("url: " + request.url().absoluteString() + "\nbody: " + bodyText(request) +
                 "\nbase-string: " + request.signatureBaseString() +
                 "\nsignature: " + request.signature().value_or("") + "\nauthorization: " +
                 request.valueForHTTPHeaderField("Authorization").value_or("") + "\n");
  return kDone;
}

}  // namespace

CommandRun addSign(CLI::App& app, Console& console) {
  auto options = std::make_shared<SignOptions>();
  CLI::App* command = app.add_subcommand(
      "sign", tr("sign a request with OAuth 1.0 and show the base string and header"));
  for (const auto& [name, help] : kValueOptions) {
    auto* option = command->add_option_function<std::string>(
        std::string("--") + name,
        [options, name = std::string(name)](const std::string& value) {
          options->values[name] = value;
        },
        tr(help));
    if (std::string_view(name) == "url" || std::string_view(name) == "consumer-key" ||
        std::string_view(name) == "consumer-secret") {
      option->required();
    }
  }
  command->footer(tr("Exits 0 with the signed request, 2 for a bad option or URL."));
  command->add_option("--param", options->parameters, tr("a request parameter (repeatable)"))
      ->option_text("NAME=VALUE");
  return [options, &console] { return sign(options.get(), console); };
}

}  // namespace marigold::cli
