// The photo post: reading the photos, composing and signing the form-encoded post, and following
// its upload on a progress sheet.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/ascii.h"
#include "base/log.h"
#include "base/translation.h"
#include "encoding/data_url_encode.h"
#include "encoding/string_url_encode.h"
#include "json/lx_json_parser.h"
#include "oauth/exchange_bounds.h"
#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"
#include "platform/alert.h"
#include "platform/atomic_file.h"
#include "platform/image.h"
#include "platform/progress_indicator.h"
#include "platform/window.h"
#include "plugin/export_controller.h"
#include "plugin/pane_definition.h"
#include "settings/app_settings.h"
#include "settings/utilities.h"

namespace marigold {
namespace {

constexpr std::size_t kKeptReplyBytes = 64 * 1024;

// The new post's id in a successful reply (response.id, a number or a text), if it has one.
std::optional<std::string> postIdentifier(const Bytes& body) {
  LxJsonParser parser;
  auto reply = parser.objectWithString(
      std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
  if (!reply) return std::nullopt;
  const JsonValue& id = reply->at("response").at("id");
  if (const std::string* text = id.asString()) return *text;
  if (auto number = id.asInteger()) return std::to_string(*number);
  return std::nullopt;
}

}  // namespace

void KZExportController::startExport(const std::string& /*path*/) {
  lockProgress();
  mProgress.indeterminateProgress = false;
  mProgress.totalItems = 1;
  mProgress.message = tr("Exporting");
  unlockProgress();

  uploadFailed_ = false;
  mCancelExport = false;
  sentAgain_ = false;
  signInRefused_ = false;
  refusalStatus_ = 0;
  worthSendingLater_ = false;
  if (!loggedIn_ || !accessToken_) {
    refuseExport(translatable("You are not signed in to Plinth."),
                 tr("Sign in, then export again."));
    return;
  }
  // The pane disables posting over the limits, but a host may export all the same: the limits
  // are checked again here, on the bytes that would be sent, before anything goes out.
  const std::uint32_t count = mExportMgr.imageCount();
  if (count > kMaxUploadPhotos) {
    refuseExport(kOverCountNotice, tr("Choose at most 10 photos, then export again."));
    return;
  }
  std::vector<Bytes> photos;
  photos.reserve(count);
  // The image check judges the bytes read here, which are what will be sent: a file may have
  // changed since the host judged the selection.
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string path = mExportMgr.imagePathAtIndex(i);
    std::optional<Bytes> bytes = readWholeFile(path);
    if (!bytes) {
      refuseExport(translatable("The photo %1 could not be read."),
                   tr("Check that the file still exists and is readable, then export again."),
                   {path});
      return;
    }
    if (!sniffFormat(*bytes)) {
      refuseExport(translatable("The photo %1 is not an image."),
                   tr("It may have changed since it was selected. Check it, then export again."),
                   {path});
      return;
    }
    total += bytes->size();
    photos.push_back(std::move(*bytes));
  }
  if (total > kMaxUploadBytes) {
    refuseExport(kOverSizeNotice, tr("Choose fewer or smaller photos, then export again."));
    return;
  }

  std::optional<std::string> blog = outlets_.plinthSelect->titleOfSelectedItem();
  if (!blog || blog->empty()) {
    refuseExport(translatable("There is no blog to post to."),
                 tr("Sign in again so that your blogs are listed, then choose one."));
    return;
  }
  // The service names the state in lower case English, whatever language the menu speaks.
  std::optional<std::string> state;
  if (const auto chosen = outlets_.plinthStatus->indexOfSelectedItem();
      chosen && *chosen < std::size(pane::kPostStates)) {
    state = lowerASCII(pane::kPostStates[*chosen]);
  }
  std::optional<std::string> link;
  if (count <= 1) link = outlets_.plinthClickthrough->stringValue();

  if (!URL::withString(environment_.endpoints.postURL(*blog))) {
    refuseExport(translatable("The blog name %1 cannot be posted to."),
                 tr("Choose another blog, or sign in again to refresh the list."), {*blog});
    return;
  }
  initWithNSDataForPhotos(std::move(photos), *blog, outlets_.plinthCaptions->stringValue(), state,
                          link, outlets_.plinthTags->stringValue());
  signRequestWithClientIdentifier(environment_.consumer.key, environment_.consumer.secret,
                                  accessToken_->key(), accessToken_->secret(), std::nullopt,
                                  post_signing::SignatureMethod::kHMAC_SHA1);

  progressIndic_ = std::make_shared<ProgressIndicator>(Rect{0, 0, 400, 20});
  progressIndic_->setStyle(ProgressIndicatorStyle::kBar);
  progressIndic_->startAnimation();

  // The host hears of the upload before its sheet comes up.
  reportUploadProgress(pane::UploadProgress::Phase::kContacting);
  progressNotification_ = Alert::create();
  progressNotification_->setMessageText(tr("Contacting server"));
  progressNotification_->setAccessoryView(progressIndic_);
  progressNotification_->addButtonWithTitle(tr("OK"));
  if (auto window = mExportMgr.window()) {
    progressNotification_->beginSheetModalForWindow(*window, sheetEndHandler());
  }
  progressNotification_->buttons().front()->setEnabled(false);

  startConnection();
}

void KZExportController::initWithNSDataForPhotos(std::vector<Bytes> photos, std::string blogName,
                                                 std::optional<std::string> caption,
                                                 std::optional<std::string> status,
                                                 std::optional<std::string> clickThrough,
                                                 std::optional<std::string> tags) {
  blogName_ = std::move(blogName);
  photoDataArray_ = std::move(photos);
  caption_ = std::move(caption);
  status_ = std::move(status);
  clickThrough_ = std::move(clickThrough);
  tags_ = std::move(tags);

  url_ = URL::withString(environment_.endpoints.postURL(blogName_));
  if (!url_) throw std::invalid_argument("not a usable post URL for blog " + blogName_);
  responseData_.clear();
  params_.clear();  // they may view the body of the request replaced here
  ownParams_.clear();
  paramsInBody_ = false;
  request_.emplace(*url_);
  request_->setHTTPMethod("POST");
  request_->setTrustedAuthorityFile(environment_.endpoints.trustedAuthorityFile);
  // Never sent a second time, nor to another address: a redirect fails the post.
  request_->setBounds(exchange_bounds::photoPost());

  auto encodedText = [](const std::string& text) {
    return NSString_URLEncode::encodeForURL(text).value_or(std::string());
  };
  ParameterList fields;
  fields.push_back({"type", "photo"});
  if (caption_) fields.push_back({"caption", encodedText(*caption_)});
  if (tags_) {
    log(*tags_);
    fields.push_back({"tags", encodedText(*tags_)});
  }
  if (clickThrough_) fields.push_back({"link", encodedText(*clickThrough_)});
  if (status_) fields.push_back({"state", encodedText(*status_)});
  composeBody(fields);

  // The Host header names the port too when the URL has a non-default one, as HTTP requires;
  // the service's own URL has none, so its posts carry the bare host.
  std::string host = url_->host();
  if (const auto port = url_->portUnlessDefault()) host.append(":").append(std::to_string(*port));
  request_->setValue(host, "Host");
  request_->setValue("application/x-www-form-urlencoded", "Content-type");
}

void KZExportController::composeBody(const ParameterList& fields) {
  // The body "data%5B0%5D=PHOTO&...&type=photo&..." is written once, each photo form-encoded
  // straight into it: the encoded photos, the largest part of a post by far, exist only here.
  // Room is reserved for the worst case; pages past what is written are never touched.
  struct Range {
    std::size_t keyAt, keyLength, valueAt, valueLength;
    std::optional<ByteView> source;
  };
  std::vector<Range> ranges;
  std::size_t room = 0;
  for (const Bytes& photo : photoDataArray_) room += 32 + 3 * photo.size();
  for (const auto& field : fields) room += field.key.size() + field.value.size() + 2;
  Bytes body;
  body.reserve(room);
  auto add = [&](std::string_view key, std::optional<ByteView> source, const auto& writeValue) {
    if (!body.empty()) body.push_back('&');
    const std::size_t keyAt = body.size();
    body.insert(body.end(), key.begin(), key.end());
    body.push_back('=');
    const std::size_t valueAt = body.size();
    writeValue();
    ranges.push_back({keyAt, key.size(), valueAt, body.size() - valueAt, source});
  };
  for (const Bytes& photo : photoDataArray_) {
    add("data%5B" + std::to_string(ranges.size()) + "%5D", photo,
        [&] { NSData_URLEncode::appendWithoutURLEncoding(photo, body); });
  }
  for (const auto& field : fields) {
    add(field.key, std::nullopt,
        [&] { body.insert(body.end(), field.value.begin(), field.value.end()); });
  }
  request_->setHTTPBody(std::move(body));

  const ByteView sent = *request_->HTTPBody();
  const std::string_view text(reinterpret_cast<const char*>(sent.data()), sent.size());
  params_.clear();
  params_.reserve(ranges.size());
  paramsInBody_ = true;
  for (const Range& range : ranges) {
    params_.push_back({text.substr(range.keyAt, range.keyLength),
                       text.substr(range.valueAt, range.valueLength), range.source});
  }
}

void KZExportController::startConnection() {
  responseStatus_.reset();
  response_.reset();
  responseData_.clear();
  uploading_ = true;
  bodySent_ = false;
  bodyScan_ = {};
  URLConnectionDelegate& delegate = *this;
  connection_ = std::make_unique<URLConnection>(*request_, delegate);
  connection_->scheduleInRunLoop(environment_.runLoop);
  connection_->start();
}

std::optional<URLRequest> KZExportController::willSendRequest(
    URLConnection&, const URLRequest& request, const std::optional<HTTPURLResponse>&) {
  progressNotification_->setMessageText(tr("Starting the request"));
  reportUploadProgress(pane::UploadProgress::Phase::kContacting);
  return request;
}

void KZExportController::didSendBodyData(URLConnection&, std::int64_t,
                                         std::int64_t totalBytesWritten,
                                         std::int64_t totalBytesExpectedToWrite) {
  progressNotification_->setMessageText(
      tr("%1 Bytes of %2 Bytes posted.",
         {std::to_string(totalBytesWritten), std::to_string(totalBytesExpectedToWrite)}));
  progressIndic_->setIndeterminate(false);
  if (totalBytesWritten >= totalBytesExpectedToWrite) {
    bodySent_ = true;
    progressNotification_->setMessageText(tr("Waiting for a response..."));
    progressIndic_->setIndeterminate(true);
  } else {
    progressIndic_->setDoubleValue(static_cast<float>(totalBytesWritten) /
                                   static_cast<float>(totalBytesExpectedToWrite) * 100.0f);
  }
  progressNotification_->setAccessoryView(progressIndic_);
  reportUploadProgress(bodySent_ ? pane::UploadProgress::Phase::kWaitingForReply
                                 : pane::UploadProgress::Phase::kSending,
                       static_cast<std::uint64_t>(std::max<std::int64_t>(totalBytesWritten, 0)));
}

void KZExportController::reportUploadProgress(pane::UploadProgress::Phase phase,
                                              std::uint64_t bodyBytesSent) {
  if (!environment_.uploadProgressed) return;
  std::uint64_t total = 0;
  for (const Bytes& photo : photoDataArray_) total += photo.size();
  const std::uint64_t sent = phase == pane::UploadProgress::Phase::kWaitingForReply
                                 ? total
                                 : photoBytesWithin(bodyBytesSent);
  environment_.uploadProgressed(pane::UploadProgress{phase, std::min(sent, total), total});
}

std::uint64_t KZExportController::photoBytesWithin(std::uint64_t bodyBytesSent) {
  if (!paramsInBody_ || !request_ || !request_->HTTPBody()) return 0;
  const ByteView body = *request_->HTTPBody();
  const auto* start = reinterpret_cast<const char*>(body.data());
  const std::size_t written =
      static_cast<std::size_t>(std::min<std::uint64_t>(bodyBytesSent, body.size()));
  // The body only grows on the wire: each call reads on from where the last one stopped.
  BodyScan& scan = bodyScan_;
  for (; scan.parameter < params_.size(); ++scan.parameter) {
    const post_signing::BodyParameter& entry = params_[scan.parameter];
    if (!entry.source) continue;
    const std::size_t valueAt = static_cast<std::size_t>(entry.value.data() - start);
    const std::size_t valueEnd = valueAt + entry.value.size();
    std::size_t at = std::max(scan.at, valueAt);
    const std::size_t until = std::min(written, valueEnd);
    while (at < until) {
      const std::size_t width = start[at] == '%' ? 3 : 1;
      if (at + width > until) break;
      at += width;
      ++scan.photoBytes;
    }
    scan.at = at;
    if (at < valueEnd) break;
  }
  return scan.photoBytes;
}

void KZExportController::didReceiveResponse(URLConnection&, const HTTPURLResponse& response) {
  responseStatus_ = static_cast<int>(response.statusCode());
  response_ = response;
  responseData_.clear();
}

void KZExportController::didReceiveData(URLConnection&, ByteView data) {
  std::size_t room = kKeptReplyBytes - std::min(kKeptReplyBytes, responseData_.size());
  responseData_.insert(responseData_.end(), data.begin(),
                       data.begin() + static_cast<std::ptrdiff_t>(std::min(room, data.size())));
}

void KZExportController::didFailWithError(URLConnection& connection, const Error& error) {
  uploading_ = false;
  log("upload failed: " + error.text());
  Alert::alertWithError(error)->runModal(environment_.application);
  connection.unscheduleFromRunLoop(environment_.runLoop);
  // Before the whole body went out the service cannot have stored the post; after it, only its
  // answer may have been lost.
  worthSendingLater_ = !bodySent_;
  showUploadFailure(error.shownDescription());
}

void KZExportController::didFinishLoading(URLConnection& connection) {
  uploading_ = false;
  const int status = responseStatus_.value_or(0);
  if (status >= 200 && status <= 299) {
    progressNotification_->setMessageText(mExportMgr.imageCount() > 1
                                              ? tr("Your images were succesfully posted.")
                                              : tr("Your image was succesfully posted."));
    if (auto id = postIdentifier(responseData_)) {
      progressNotification_->setInformativeText(tr("Post id: %1", {*id}));
    }
    progressIndic_->removeFromSuperview();
    progressNotification_->setAccessoryView(outlets_.completeView);
    endUpload(pane::PostOutcome::Result::kPosted, postIdentifier(responseData_));
  } else {
    postRefused(status);
  }
  connection.unscheduleFromRunLoop(environment_.runLoop);
}

void KZExportController::forgetRefusedSignIn() {
  // The service answered that the sign-in no longer holds: signed out, and not remembered as
  // valid, so that the next showing of the pane does not try it again. The fields keep their text
  // for the next "Log In".
  loggedIn_ = false;
  postEnabled(false);
  outlets_.loginButton->setTitle(tr(kLogInTitle));
  outlets_.loginButton->setEnabled(true);
  if (AppSettings* model = outlets_.appModel.get()) {
    model->setIsValid(false);
    model->fieldsEnabled(true);
    model->refresh();
  }
}

void KZExportController::showUploadFailure(const std::string& detail) {
  uploadFailed_ = true;
  progressNotification_->setMessageText(tr("The post failed: %1", {detail}));
  endUpload(pane::PostOutcome::Result::kFailed);
}

void KZExportController::cancelExport() {
  mCancelExport = true;
  if (!uploading_ || !connection_) return;
  uploading_ = false;
  connection_->cancel();
  log("export cancelled by the host");
  uploadFailed_ = true;
  progressNotification_->setMessageText(tr("The post was cancelled."));
  // Once the whole body is out the service may already have stored the post; say so rather than
  // promise that nothing was posted.
  if (bodySent_) {
    progressNotification_->setInformativeText(
        tr("Plinth had already received the whole post, so it may still appear on your blog."));
  }
  endUpload(pane::PostOutcome::Result::kCancelled);
}

void KZExportController::endUpload(pane::PostOutcome::Result result,
                                   std::optional<std::string> postId) {
  reportPostEnded(result, std::move(postId));
  progressIndic_->stopAnimation();
  progressIndic_->removeFromSuperview();
  progressNotification_->buttons().front()->setEnabled(true);
}

void KZExportController::refuseExport(const char* message, const std::string& detail,
                                      std::initializer_list<std::string_view> arguments) {
  uploadFailed_ = true;
  log("export refused: " + fillPlaceholders(message, arguments));
  progressNotification_ = Alert::create();
  progressNotification_->setAlertStyle(AlertStyle::kCritical);
  progressNotification_->setMessageText(tr(message, arguments));
  progressNotification_->setInformativeText(detail);
  progressNotification_->addButtonWithTitle(tr("OK"));
  reportPostEnded(pane::PostOutcome::Result::kRefused);
  if (auto window = mExportMgr.window()) {
    progressNotification_->beginSheetModalForWindow(*window, sheetEndHandler());
  }
}

void KZExportController::reportPostEnded(pane::PostOutcome::Result result,
                                         std::optional<std::string> postId) {
  if (!environment_.postEnded) return;
  const bool sent = result != pane::PostOutcome::Result::kRefused;
  environment_.postEnded(pane::PostOutcome{
      result, sent ? blogName_ : std::string(), std::move(postId),
      progressNotification_->messageText(), sent && bodySent_, signInRefused_,
      result == pane::PostOutcome::Result::kFailed && worthSendingLater_, refusalStatus_});
}

URLRequest KZExportController::requestForUrl(const std::string& urlText, const std::string& method,
                                             const std::vector<ParameterEntry>& params) {
  setConsumer(OAConsumer(environment_.consumer.key, environment_.consumer.secret));
  std::string body;
  for (const auto& entry : params) {
    if (!body.empty()) body += "&";
    body += Utilities::encodeString(entry.key).value_or("") + "=" +
            Utilities::encodeString(entry.value).value_or("");
  }
  auto url = URL::withString(urlText);
  if (!url) throw std::invalid_argument("not a URL: " + urlText);
  OAMutableURLRequest request(*url, *consumer_, accessToken_, std::nullopt, nullptr);
  request.setCachePolicy(URLRequestCachePolicy::kReloadIgnoringLocalCacheData);
  request.setTimeoutInterval(30);
  request.setHTTPMethod(method);
  request.setHTTPShouldHandleCookies(false);
  request.setTrustedAuthorityFile(environment_.endpoints.trustedAuthorityFile);
  OAParameterAdditions::setHTTPBodyWithString(request, body);
  request.prepare();
  return request;
}

void KZExportController::signAndSendWithTokenKey() {
  // Messages to nothing do nothing: without a composed request, its sheet or a token there is
  // nothing to send, and a second connection must not replace a running one.
  if (!request_ || !url_ || !progressNotification_ || !progressIndic_ || !accessToken_ ||
      uploading_) {
    return;
  }
  signRequestWithClientIdentifier(environment_.consumer.key, environment_.consumer.secret,
                                  accessToken_->key(), accessToken_->secret(), std::nullopt,
                                  post_signing::SignatureMethod::kHMAC_SHA1);
  startConnection();
}

}  // namespace marigold
