// The export plug-in's controller: what a photo application creates when the user picks Marigold
// in its export dialog. It answers the host's export-plug-in protocol, owns the rules of the
// settings pane (upload size limit, click-through rule, preview, automatic sign-in), signs the
// user in to the Plinth service and discovers their blogs, and composes, signs and uploads one
// photo post with a progress sheet on the export window.
//
// The host owns the export manager and the window; the pane's interface definition owns the views
// and the settings model and connects them here (outlets). The controller owns what its sign-in
// and uploads create. Everything runs on the host's main thread, whose run loop is handed in;
// only the progress record is read from elsewhere, between lockProgress and unlockProgress.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/log.h"
#include "config/service_constants.h"
#include "oauth/consumer.h"
#include "oauth/token.h"
#include "platform/alert.h"
#include "platform/application.h"
#include "platform/http_url_response.h"
#include "platform/lock.h"
#include "platform/run_loop.h"
#include "platform/url.h"
#include "platform/url_connection.h"
#include "platform/url_request.h"
#include "platform/views.h"
#include "plugin/browser_sign_in.h"
#include "plugin/host_protocol.h"
#include "plugin/pane_contract.h"
#include "plugin/parameter_entry.h"
#include "plugin/post_signing.h"
#include "plugin/service_endpoints.h"
#include "settings/consumer_credentials.h"

namespace marigold {

class AppSettings;
class KZExportPluginBox;
class ProgressIndicator;

class KZExportController : public ExportPluginProtocol, private URLConnectionDelegate {
 public:
  // The services of the application the plug-in runs in. Not owned; they outlive the controller.
  struct Environment {
    Application& application;
    RunLoop& runLoop;  // the main thread's loop: uploads run on it
    ServiceEndpoints endpoints = ServiceEndpoints::configured();
    std::string bundlePath;  // the plug-in's own bundle, for the updater
    // The application (OAuth consumer) that signs in and posts.
    ConsumerCredentials consumer = ConsumerCredentials::builtIn();
    // Where the diagnostic lines go while the controller lives; null: wherever the host's go.
    LogSink* log = nullptr;
    // Told how each export ended, once its sheet can be dismissed.
    std::function<void(const pane::PostOutcome&)> postEnded = {};
    // Told how far each upload has got, as it goes.
    std::function<void(const pane::UploadProgress&)> uploadProgressed = {};
  };

  // Creation: keeps the export manager (not owned); signed out, no consumer or token.
  KZExportController(ExportImageProtocol& exportManager, Environment environment);
  ~KZExportController() override;
  KZExportController(const KZExportController&) = delete;
  KZExportController& operator=(const KZExportController&) = delete;

  // Outlets, connected by the pane's interface definition before awakeFromNib.
  struct Outlets {
    std::shared_ptr<KZExportPluginBox> mSettingsBox;
    std::shared_ptr<View> mFirstView;
    std::shared_ptr<PopUpButton> plinthSelect;  // the user's blogs
    std::shared_ptr<PopUpButton> plinthStatus;  // the post state
    std::shared_ptr<TextField> plinthCaptions;
    std::shared_ptr<TextField> plinthClickthrough;
    std::shared_ptr<TextField> plinthTags;
    std::shared_ptr<TextField> plinthUsername;
    std::shared_ptr<SecureTextField> plinthPassword;
    std::shared_ptr<TextField> notificationField;  // the over-limit notice
    std::shared_ptr<CheckBox> plinthRememberMe;
    std::shared_ptr<Button> loginButton;
    std::shared_ptr<Button> browserLoginButton;  // "Sign in with browser"; may be absent
    std::shared_ptr<ImageView> imagePreview;
    std::shared_ptr<ImageView> completeView;  // shown in the sheet once the post went through
    std::shared_ptr<AppSettings> appModel;
  };
  void connectOutlets(Outlets outlets);
  const Outlets& outlets() const { return outlets_; }

  Application& application() { return environment_.application; }

  // Once the outlets are connected: resets the update cycle, signs out and resets the pane.
  void awakeFromNib();

  // ExportPluginProtocol.
  std::shared_ptr<View> settingsView() override;
  std::shared_ptr<View> firstView() override;
  // Resets the pane. Each call but the first after awakening starts a new showing, in which an
  // automatic sign-in that got no reply earlier is tried again.
  void viewWillBeActivated() override;
  void viewWillBeDeactivated() override {}
  std::string requiredFileType() override;  // "" for several images, else "jpg"
  bool wantsDestinationPrompt() override { return false; }
  std::string getDestinationPath() override { return ""; }
  std::string defaultFileName() override;  // "" for several images, else "kze-0"
  std::string defaultDirectory() override { return "~/Pictures/"; }
  bool treatSingleSelectionDifferently() override { return true; }
  bool handlesMovieFiles() override { return false; }
  bool validateUserCreatedPath(const std::string&) override { return false; }
  void clickExport() override {}
  void startExport(const std::string& path) override;  // composes, signs and starts the upload
  void performExport(const std::string&) override {}
  ProgressRecord* progress() override { return &mProgress; }
  void lockProgress() override { mProgressLock.lock(); }
  void unlockProgress() override { mProgressLock.unlock(); }
  // During an upload: cancels the connection (nothing more is sent) and turns the sheet into the
  // outcome "The post was cancelled." with "OK" enabled. The saved settings are not touched.
  // Outside an upload it only records the request.
  void cancelExport() override;
  std::string name() override { return "Marigold..."; }
  bool signedIn() override { return loggedIn_; }

  // The pane's reset: stored credentials, preview, automatic sign-in, size limit, posting
  // controls, click-through rule and over-limit notice (size or photo count), in that order.
  void resetFields();
  // The automatic sign-in with the remembered secret, once the keyring has given it.
  void signInAsRemembered();
  // Enables or disables the posting controls, then the host's own controls; never enables them
  // for a selection over the limits.
  void postEnabled(bool enabled);
  // Resets the pane and closes the export window.
  void endPluginRun();
  // End handler of the progress sheet: ends the modal run and closes the export window.
  void publishedSuccessfullyDidEnd(long returnCode);

  // Sign-in with the model's user name and password; reports through the pane and the model.
  void login();
  // The log-in button's action: signs in ("Log In") or signs out ("Log Out"). The sender is
  // ignored.
  void login(const View* sender);
  // "Sign in with browser": the user approves Marigold on the service's page in their browser
  // (BrowserSignIn) while a sheet with "Cancel" waits; then the blog menu is filled and the
  // sign-in saved as after a password sign-in, the access token in place of the password.
  void browserLogin();

  // The photo post's composition (the post fields, its URL, request and body parameters).
  void initWithNSDataForPhotos(std::vector<Bytes> photos, std::string blogName,
                               std::optional<std::string> caption,
                               std::optional<std::string> status,
                               std::optional<std::string> clickThrough,
                               std::optional<std::string> tags);
  // A general signed form request (not used by the upload): body encoded from `params` in their
  // order, 30 s timeout, no cookies, signed by the OAuth library.
  URLRequest requestForUrl(const std::string& urlText, const std::string& method,
                           const std::vector<ParameterEntry>& params);
  // Signs `request` as an export does and starts its connection at once. Does nothing before an
  // export has composed a request and shown its sheet, or while signed out.
  void signAndSendWithTokenKey();

  // The photo-post signing over `url`, `params` and `request`: set the three, then sign. The
  // signing sets the request's body from `params` (unless the export wrote it already) and its
  // "Authorization" header; it changes nothing else but the nonce history.
  ParameterList oauthGenerateTimestampAndNonce();
  std::string oauthBaseStringURI();
  std::string oauthRequestParameterString(const ParameterList& protocolParameters);
  std::string oauthGeneratePlaintextSignatureFor(std::string_view baseString,
                                                 const std::optional<std::string>& clientSecret,
                                                 const std::optional<std::string>& tokenSecret);
  std::string oauthGenerateHMAC_SHA1SignatureFor(std::string_view baseString,
                                                 const std::optional<std::string>& clientSecret,
                                                 const std::optional<std::string>& tokenSecret);
  void signRequestWithClientIdentifier(const std::string& clientIdentifier,
                                       const std::optional<std::string>& clientSecret,
                                       const std::optional<std::string>& tokenIdentifier,
                                       const std::optional<std::string>& tokenSecret,
                                       const std::optional<std::string>& verifier,
                                       post_signing::SignatureMethod method);
  void signRequestWithClientIdentifier(const std::string& clientIdentifier,
                                       const std::optional<std::string>& clientSecret,
                                       const std::optional<std::string>& tokenIdentifier,
                                       const std::optional<std::string>& tokenSecret,
                                       post_signing::SignatureMethod method);

  // Accessors of the state that the sign-in and the upload keep; each setter only stores.
  bool loggedIn() const { return loggedIn_; }
  const std::optional<URL>& url() const { return url_; }
  void setUrl(std::optional<URL> url) { url_ = std::move(url); }
  // The post's body parameters in wire form. After an export composed the post they view the
  // request's body; they stay valid until the next composition or setParams.
  const std::vector<post_signing::BodyParameter>& params() const { return params_; }
  void setParams(ParameterList params);
  const std::optional<URLRequest>& request() const { return request_; }
  void setRequest(std::optional<URLRequest> request);
  const std::string& blogName() const { return blogName_; }
  void setBlogName(std::string blogName) { blogName_ = std::move(blogName); }
  const std::optional<std::string>& caption() const { return caption_; }
  void setCaption(std::optional<std::string> caption) { caption_ = std::move(caption); }
  const std::optional<std::string>& status() const { return status_; }
  void setStatus(std::optional<std::string> status) { status_ = std::move(status); }
  const std::optional<std::string>& clickThrough() const { return clickThrough_; }
  void setClickThrough(std::optional<std::string> link) { clickThrough_ = std::move(link); }
  const std::optional<std::string>& tags() const { return tags_; }
  void setTags(std::optional<std::string> tags) { tags_ = std::move(tags); }
  const std::vector<Bytes>& photoDataArray() const { return photoDataArray_; }
  void setPhotoDataArray(std::vector<Bytes> photos);
  // The reply to the last post (its first 64 KiB), emptied when a post starts.
  const Bytes& responseData() const { return responseData_; }
  void setResponseData(Bytes data) { responseData_ = std::move(data); }
  // Kept for the host's use; nothing in the plug-in reads it.
  const std::vector<std::string>& exportImages() const { return exportImages_; }
  void setExportImages(std::vector<std::string> images) { exportImages_ = std::move(images); }
  // Atomic accessors: each getter and setter runs alone and hands out a copy.
  std::shared_ptr<TextField> notificationField() const;
  void setNotificationField(std::shared_ptr<TextField> field);
  std::shared_ptr<ImageView> completeView() const;
  void setCompleteView(std::shared_ptr<ImageView> view);
  std::shared_ptr<Button> loginButton() const;
  void setLoginButton(std::shared_ptr<Button> button);
  std::optional<OAConsumer> consumer() const;
  void setConsumer(std::optional<OAConsumer> consumer);
  std::optional<OAToken> accessToken() const;
  void setAccessToken(std::optional<OAToken> token);
  const std::shared_ptr<Alert>& progressNotification() const { return progressNotification_; }
  const std::shared_ptr<ProgressIndicator>& progressIndic() const { return progressIndic_; }
  bool uploadFailed() const { return uploadFailed_; }
  std::optional<std::string> exportDir() const { return std::nullopt; }
  std::int32_t size() const { return mSize; }
  void setSize(std::int32_t size) { mSize = size; }
  std::int32_t quality() const { return mQuality; }
  void setQuality(std::int32_t quality) { mQuality = quality; }
  std::int32_t metadata() const { return mMetadata; }
  void setMetadata(std::int32_t metadata) { mMetadata = metadata; }

  // The largest selection that may be posted, in bytes and in photos.
  static constexpr std::uint64_t kMaxUploadBytes = config::kMaxPostBytes;
  static constexpr std::uint32_t kMaxUploadPhotos = config::kMaxPostPhotos;

 private:
  // URLConnectionDelegate: the upload's progress and outcome on the sheet.
  std::optional<URLRequest> willSendRequest(
      URLConnection& connection, const URLRequest& request,
      const std::optional<HTTPURLResponse>& redirectResponse) override;
  void didSendBodyData(URLConnection& connection, std::int64_t bytesWritten,
                       std::int64_t totalBytesWritten,
                       std::int64_t totalBytesExpectedToWrite) override;
  void didReceiveResponse(URLConnection& connection, const HTTPURLResponse& response) override;
  void didReceiveData(URLConnection& connection, ByteView data) override;
  void didFailWithError(URLConnection& connection, const Error& error) override;
  void didFinishLoading(URLConnection& connection) override;

  // The outcome of exchanging the user name and password for an access token: the token, or the
  // alert's explanation of why there is none.
  struct TokenExchange {
    std::optional<OAToken> token;
    bool refused = false;  // the service refused the credentials: the saved sign-in is not good
    std::string problem;   // the alert's second line when there is no token
    std::string details;   // the service's status and reason behind it, for Details
  };
  TokenExchange exchangeCredentials(const AppSettings& model);
  // The click-through rule for more than one photo: the link disabled, showing why.
  void disableClickThroughForPhotoSet();
  // The access token of a remembered sign-in approved in the browser.
  TokenExchange savedToken(const AppSettings& model);
  // The signed-in user's blog names for the blog menu, or (when there are none) why not.
  struct BlogList {
    std::vector<std::string> names;
    std::string userName;  // the user's own name in the reply, if any
    std::string problem;   // the alert's second line when `names` is empty
    long status = 0;       // the reply's HTTP status; 0 without a reply
  };
  BlogList fetchBlogNames();
  void signOut();
  void browserSignInEnded(BrowserSignIn::Outcome outcome);
  // The two ends of a sign-in: signed in with the blog menu filled (or its failure shown), or
  // signed out with the controls usable again and the alert (none for an empty `problem`); then
  // posting enabled to match and the outcome saved.
  void signInSucceeded(BlogList blogs);
  void signInFailed(const std::string& problem, bool refused, const std::string& details = {});
  void saveSignIn(bool signingIn);
  void showLoginFailure(const std::string& cause, const std::string& details = {});
  void showRememberFailure(const std::string& reason);
  void showBlogListFailure(const std::string& reason);
  // Stops an export before anything is sent: an alert on the export window naming the problem
  // (`message` with `arguments` in the user's language; the log has it in English) and `detail`.
  void refuseExport(const char* message, const std::string& detail,
                    std::initializer_list<std::string_view> arguments = {});
  // Writes the post's body into the request (the photos form-encoded, then `fields`, already in
  // wire form) and points params_ at its pairs.
  void composeBody(const ParameterList& fields);
  void startConnection();
  void showUploadFailure(const std::string& detail);
  // A post the service refused (a status outside 2xx): sent once more, signed anew, when only its
  // nonce or timestamp was refused the first time; else the failure on the sheet with what the
  // refusal means for the sign-in.
  void postRefused(int status);
  void sendAgain();  // signs the post anew (fresh timestamp and nonce) and starts it once more
  void forgetRefusedSignIn();  // after the service refused the post's credentials
  // The end handler of the export's sheets: publishedSuccessfullyDidEnd while this controller
  // lives, nothing once it is gone (the host's window may keep the sheet).
  Alert::EndHandler sheetEndHandler();
  // Tells the host how the upload ended; then the sheet's bar stops and leaves and "OK" becomes
  // available.
  void endUpload(pane::PostOutcome::Result result,
                 std::optional<std::string> postId = std::nullopt);
  // Tells the host how far the upload has got; `bodyBytesSent` of the post's body are out.
  void reportUploadProgress(pane::UploadProgress::Phase phase, std::uint64_t bodyBytesSent = 0);
  // The photos' own bytes among the first `bodyBytesSent` of the body: each photo's form-encoded
  // value counted back to its bytes, a byte once its whole escape is out.
  std::uint64_t photoBytesWithin(std::uint64_t bodyBytesSent);
  // Tells the host how the export ended, as the sheet now says.
  void reportPostEnded(pane::PostOutcome::Result result,
                       std::optional<std::string> postId = std::nullopt);

  ExportImageProtocol& mExportMgr;
  Environment environment_;
  std::optional<LogRoute> logRoute_;  // to environment_.log, when given
  Outlets outlets_;
  std::int32_t mSize = 0;
  std::int32_t mQuality = 0;
  std::int32_t mMetadata = 0;
  ProgressRecord mProgress;
  Lock mProgressLock;
  bool mCancelExport = false;

  mutable std::mutex propertyLock_;  // serialises the atomic accessors
  std::optional<OAConsumer> consumer_;
  std::optional<OAToken> accessToken_;
  bool loggedIn_ = false;
  bool signInUnanswered_ = false;     // the last sign-in got no reply from the service
  bool signInAwaitsKeyring_ = false;  // the automatic sign-in waits for the keyring's answer
  bool activated_ = false;            // viewWillBeActivated has run since awakening
  bool overLimit_ = false;  // the selection at the last pane reset is over the upload limits
  std::unique_ptr<BrowserSignIn> browserSignIn_;  // while a browser sign-in waits
  std::shared_ptr<Alert> browserSheet_;

  std::shared_ptr<Alert> progressNotification_;
  std::shared_ptr<ProgressIndicator> progressIndic_;
  std::optional<URL> url_;
  std::vector<post_signing::BodyParameter> params_;
  ParameterList ownParams_;    // what params_ view when they were set rather than composed
  bool paramsInBody_ = false;  // params_ view the request's body, written by the composition
  std::string blogName_;
  std::vector<Bytes> photoDataArray_;
  std::vector<std::string> exportImages_;
  std::optional<URLRequest> request_;
  std::optional<std::string> caption_;
  std::optional<std::string> status_;
  std::optional<std::string> clickThrough_;
  std::optional<std::string> tags_;
  std::unique_ptr<URLConnection> connection_;
  std::optional<int> responseStatus_;
  std::optional<HTTPURLResponse> response_;  // of the connection under way, once it answered
  Bytes responseData_;                       // kept so that a refused post can say why
  bool uploading_ = false;                   // from the connection's start to its outcome
  bool bodySent_ = false;  // the whole body has gone out; the service may already store it
  bool uploadFailed_ = false;
  // How far photoBytesWithin has read the body of the running upload: the parameter, the body
  // offset and the photo bytes counted up to it.
  struct BodyScan {
    std::size_t parameter = 0;
    std::size_t at = 0;
    std::uint64_t photoBytes = 0;
  };
  BodyScan bodyScan_;
  bool sentAgain_ = false;          // this export's post was signed anew and sent once more
  bool worthSendingLater_ = false;  // the failure stored nothing and passes (pane::PostOutcome)
  bool signInRefused_ = false;      // the service refused this export's sign-in
  int refusalStatus_ = 0;           // the HTTP status of the service's refusal of this export
  // Expires with the controller; handlers that outlive it hold it weakly and check it.
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace marigold
