// What the plug-in's settings pane promises its hosts: the identifiers its controls are found by
// (View::viewWithIdentifier), the post states its state menu offers, and how an upload goes and
// ends, which the plug-in reports to the host as data (PluginServices::uploadProgressed as it
// goes, PluginServices::postEnded when the post's sheet can be dismissed). The texts of the pane,
// the sheets and their buttons are for the user, in the user's language: a host reads the upload
// here, the sign-in from ExportPluginProtocol::signedIn, and finds a sheet's backing-out button by
// its Escape key equivalent (kEscapeKeyEquivalent).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/translation.h"

namespace marigold::pane {

inline constexpr const char* kSettingsBox = "mSettingsBox";
inline constexpr const char* kUserName = "plinthUsername";
inline constexpr const char* kPassword = "plinthPassword";
inline constexpr const char* kRememberMe = "plinthRememberMe";
inline constexpr const char* kLoginButton = "loginButton";
inline constexpr const char* kBrowserLoginButton = "browserLoginButton";  // may be absent
inline constexpr const char* kBlogMenu = "plinthSelect";
inline constexpr const char* kStateMenu = "plinthStatus";
inline constexpr const char* kCaption = "plinthCaptions";
inline constexpr const char* kTags = "plinthTags";
inline constexpr const char* kClickThrough = "plinthClickthrough";
inline constexpr const char* kNotice = "notificationField";  // the over-limit notice
inline constexpr const char* kPreview = "imagePreview";
inline constexpr const char* kCompleteView = "completeView";

// The post states the state menu offers, in its order, by their English names. The menu shows
// them in the user's language, so a host chooses and reads a state by its place in this list.
inline constexpr const char* kPostStates[] = {translatable("Published"), translatable("Draft"),
                                              translatable("Queue"), translatable("Private")};

// How far an upload has got.
struct UploadProgress {
  enum class Phase {
    kContacting,       // the connection to the service is being made
    kSending,          // the post is going out
    kWaitingForReply,  // all of it went out; the service's answer has not come yet
  };
  Phase phase = Phase::kContacting;
  // The photos' own bytes (as read from their files, before the post's encoding) sent so far, and
  // in all.
  std::uint64_t photoBytesSent = 0;
  std::uint64_t photoBytesTotal = 0;
};

// How an export ended.
struct PostOutcome {
  enum class Result {
    kPosted,     // the service took the post
    kRefused,    // nothing was sent (not signed in, over the limits, unreadable photo, ...)
    kFailed,     // sent, but the service refused it or the exchange failed
    kCancelled,  // the host cancelled it
  };
  Result result = Result::kFailed;
  std::string blog;                   // the blog posted to; empty when refused before choosing
  std::optional<std::string> postId;  // the service's id of the new post, when it gave one
  std::string message;                // the sheet's message, for the record
  // The whole post had reached the service before the failure or cancellation: it may have been
  // stored all the same.
  bool wholePostSent = false;
  // The service refused the post's sign-in: the saved sign-in is marked invalid, and the user has
  // to sign in again before the next export.
  bool signInRefused = false;
  // Nothing was stored and the failure is one that passes: no connection, a timeout before the
  // whole post went out, a server error (5xx) or 429, or a refused nonce or timestamp after the
  // post was signed anew and sent once more. Such a post can be kept and sent later; a post
  // that may have been stored (the whole of it sent, no answer) never counts here.
  bool worthSendingLater = false;
  // The HTTP status of the service's refusal when it answered and refused the post; 0 otherwise.
  int refusalStatus = 0;

  bool posted() const { return result == Result::kPosted; }
};

}  // namespace marigold::pane
