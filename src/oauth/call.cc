#include "oauth/call.h"

#include <stdexcept>

#include "base/log.h"
#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"
#include "platform/run_loop.h"

namespace marigold {
namespace {

// The files as multipart parts after the parameters. A single file keeps its file name; several
// are sent by attachFiles, which numbers their file names ("NAME-0", "NAME-1", ...) in field-name
// order.
void attach(URLRequest& request, const OACall::Files& files) {
  if (files.size() == 1) {
    const auto& [name, file] = *files.begin();
    OAParameterAdditions::attachFileWithName(request, name, file.filename, file.contentType,
                                             file.data);
    return;
  }
  std::vector<OAParameterAdditions::FileAttachment> parts;
  parts.reserve(files.size());
  for (const auto& [name, file] : files) {
    parts.push_back({name, file.filename, file.contentType, file.data});
  }
  OAParameterAdditions::attachFiles(request, parts);
}

}  // namespace

OACall::OACall(std::optional<URL> url, std::optional<std::string> method,
               std::optional<std::vector<OARequestParameter>> parameters,
               std::optional<Files> files)
    : url_(std::move(url)),
      method_(std::move(method)),
      parameters_(std::move(parameters)),
      files_(std::move(files)) {}

OACall::OACall(URL url) : OACall(std::move(url), std::nullopt, std::nullopt, std::nullopt) {}

OACall::OACall(URL url, std::string method)
    : OACall(std::move(url), std::move(method), std::nullopt, std::nullopt) {}

OACall::OACall(URL url, std::vector<OARequestParameter> parameters)
    : OACall(std::move(url), std::nullopt, std::move(parameters), std::nullopt) {}

OACall::OACall(URL url, std::string method, std::vector<OARequestParameter> parameters)
    : OACall(std::move(url), std::move(method), std::move(parameters), std::nullopt) {}

OACall::OACall(URL url, std::vector<OARequestParameter> parameters, Files files)
    : OACall(std::move(url), "POST", std::move(parameters), std::move(files)) {}

void OACall::perform(const OAConsumer& consumer, const std::optional<OAToken>& token,
                     const std::optional<std::string>& realm, OACallDelegate& delegate,
                     DidFinish didFinish) {
  attempt_ = Attempt{consumer, token, realm, &delegate, std::move(didFinish)};
  start();
}

void OACall::performAgain() {
  if (attempt_) start();
}

void OACall::start() {
  const std::shared_ptr<OACall> self = weak_from_this().lock();
  if (!self) throw std::logic_error("an OACall is performed only while a std::shared_ptr holds it");
  fetcher_.reset();
  const std::weak_ptr<OACall> weak = self;
  if (!url_) {
    // Reported from the run loop like every other outcome. The fetcher slot doubles as the
    // attempt's identity, so that a later attempt or `cancel` silences this report.
    fetcher_ = std::make_unique<OADataFetcher>();
    RunLoop::current().post([weak, marker = fetcher_.get()] {
      const auto call = weak.lock();
      if (!call || call->fetcher_.get() != marker) return;
      call->fetcher_.reset();
      call->attempt_->delegate->call(
          *call, std::optional<Error>(Error("OACall", 1,
                                            "The call has no URL; give it the address of the "
                                            "service's API.")));
    });
    return;
  }

  OAMutableURLRequest request(*url_, attempt_->consumer, attempt_->token, attempt_->realm, nullptr,
                              *clock_);
  if (method_) request.setHTTPMethod(*method_);
  if (parameters_) OAParameterAdditions::setParameters(request, *parameters_);
  if (files_ && !files_->empty()) attach(request, *files_);
  request.setTrustedAuthorityFile(trustedAuthorityFile_);
  request.setBounds(bounds_);

  fetcher_ = std::make_unique<OADataFetcher>();
  fetcher_->fetchDataWithRequest(
      std::move(request),
      [weak](const OAServiceTicket& ticket, ByteView) {
        if (const auto call = weak.lock()) call->callFinished(ticket);
      },
      [weak](const OAServiceTicket& ticket, const Error& error) {
        if (const auto call = weak.lock()) call->callFailed(ticket, error);
      });
}

void OACall::callFinished(const OAServiceTicket& ticket) {
  ticket_ = ticket;
  if (!ticket.didSucceed()) {
    callFailed(ticket, std::nullopt);
    return;
  }
  // A copy: the finish operation may perform this call again, which replaces the attempt.
  const DidFinish didFinish = attempt_->didFinish;
  if (didFinish) didFinish(*this, ticket.body());
}

void OACall::callFailed(const OAServiceTicket& ticket, const std::optional<Error>& error) {
  const std::optional<std::string> body = ticket.body();
  log("error body: " + (body ? OAParameterAdditions::maskedForLog(*body) : "(none)"));
  ticket_ = ticket;
  OACallDelegate* const delegate = attempt_->delegate;
  if (const auto problem = OAProblem::problemWithResponseBody(body.value_or(""))) {
    delegate->call(*this, *problem);
  } else {
    delegate->call(*this, error);
  }
}

}  // namespace marigold
