// The controller driven as a host drives it, against the Plinth simulator on loopback (real
// sockets and TLS) with a temporary HOME.
#include "plugin/export_controller.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "base/log.h"
#include "encoding/data_base64.h"
#include "encoding/percent_escapes.h"
#include "encoding/string_url_encode.h"
#include "platform/alert.h"
#include "platform/key_event.h"
#include "platform/progress_indicator.h"
#include "platform/window.h"
#include "plinth_sim.h"
#include "plugin/export_plugin_box.h"
#include "plugin/pane_contract.h"
#include "plugin/pane_definition.h"
#include "settings/app_settings.h"
#include "testing/controller_fixture.h"
#include "testing/recording_proxy.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

class ExportControllerTest : public ControllerFixture {
 protected:
  void SetUp() override {
    sim::SimOptions options;
    options.accounts = {{"ada", "secret pass", {"ada-photos", "ada-travel"}}};
    startSimulator(std::move(options));
  }
};

TEST_F(ExportControllerTest, HostAnswersDependOnTheImageCount) {
  host_.paths = {writeFile("a.jpg", 10)};
  KZExportController& c = makeController();
  EXPECT_EQ(c.requiredFileType(), "jpg");
  EXPECT_EQ(c.defaultFileName(), "kze-0");
  EXPECT_EQ(c.name(), "Marigold...");
  EXPECT_EQ(c.defaultDirectory(), "~/Pictures/");
  EXPECT_FALSE(c.validateUserCreatedPath("/tmp"));
  host_.paths.push_back(writeFile("b.jpg", 10));
  EXPECT_EQ(c.requiredFileType(), "");
  EXPECT_EQ(c.defaultFileName(), "");
}

TEST_F(ExportControllerTest, SizeLimitAndClickThroughRule) {
  struct Case {
    std::vector<std::size_t> sizes;
    bool signedIn;
    bool posting, notice, clickThroughEnabled;
    const char* clickThroughText;
  };
  const Case kCases[] = {
      {{5242880}, true, true, false, true, ""},
      {{5242881}, true, false, true, true, ""},
      {{2621440, 2621440},
       true,
       true,
       false,
       false,
       "Click through is not available for photo sets"},
      {{2621440, 2621441},
       true,
       false,
       true,
       false,
       "Click through is not available for photo sets"},
      {{10}, false, false, false, true, ""},
      {{}, true, true, false, true, ""},
  };
  for (const Case& c : kCases) {
    host_.paths.clear();
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      host_.paths.push_back(writeFile(std::string("p").append(std::to_string(i)), c.sizes[i]));
    }
    KZExportController& controller = makeController();
    if (c.signedIn) signIn("ada", "secret pass");
    LogCapture logs;
    controller.viewWillBeActivated();
    std::uint64_t total = 0;
    for (auto s : c.sizes) total += s;
    SCOPED_TRACE(total);
    EXPECT_TRUE(logs.contains("total size " + std::to_string(total)));
    EXPECT_TRUE(logs.contains("max size 5242880"));
    EXPECT_EQ(pane().plinthSelect->isEnabled(), c.posting);
    EXPECT_EQ(pane().plinthTags->isEnabled(), c.posting);
    EXPECT_EQ(host_.controlsEnabled, c.posting);
    EXPECT_EQ(pane().notificationField->isHidden(), !c.notice);
    EXPECT_EQ(pane().plinthClickthrough->isEnabled(), c.clickThroughEnabled);
    EXPECT_EQ(pane().plinthClickthrough->stringValue(), c.clickThroughText);
  }
}

TEST_F(ExportControllerTest, PhotoLimitsMatchWhatTheServiceAccepts) {
  struct Case {
    const char* name;
    std::size_t photos, bytesEach;
    const char* notice;  // nullptr: hidden, posting allowed and the post is accepted
  };
  const Case kCases[] = {
      // Every byte 0xFF is sent as %FF: the largest body the pane allows.
      {"10 photos, 5 MiB in all", 10, KZExportController::kMaxUploadBytes / 10, nullptr},
      {"11 photos", 11, 10, kOverCountNotice},
      {"one byte over 5 MiB", 1, KZExportController::kMaxUploadBytes + 1, kOverSizeNotice},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SetUp();  // a fresh simulator with no posts
    host_.paths.clear();
    for (std::size_t i = 0; i < c.photos; ++i) {
      host_.paths.push_back(
          writeFile(std::string("p").append(std::to_string(i)), c.bytesEach, '\xFF'));
    }
    makeController();
    signIn("ada", "secret pass");
    controller_->viewWillBeActivated();
    EXPECT_EQ(host_.controlsEnabled, c.notice == nullptr);
    EXPECT_EQ(pane().notificationField->isHidden(), c.notice == nullptr);
    if (c.notice != nullptr) {
      EXPECT_EQ(pane().notificationField->stringValue(), c.notice);
      // A host that exports all the same is refused before anything is sent.
      controller_->startExport("");
      ASSERT_TRUE(controller_->progressNotification());
      EXPECT_EQ(controller_->progressNotification()->messageText(), c.notice);
      EXPECT_TRUE(sim_->state().posts().empty());
      continue;
    }
    EXPECT_EQ(exportAndWait(60), "Your images were succesfully posted.");
    const auto posts = sim_->state().posts();
    EXPECT_EQ(posts.size(), 1u);
    if (!posts.empty()) {
      EXPECT_EQ(posts[0].photos.size(), c.photos);
    }
  }
}

// The host's window keeps the sheets and the host may keep the pane after the plug-in is gone:
// answering them then must not reach the freed controller (run under ASan to see a stray read).
TEST_F(ExportControllerTest, NothingTheHostKeepsReachesAGoneController) {
  bool modalStopped = false;
  application_.setStopModalHandler([&modalStopped] { modalStopped = true; });
  host_.paths = {writeFile("a.jpg", 10)};
  makeController();
  controller_->startExport("");  // not signed in: a refusal sheet on the export window
  ASSERT_FALSE(host_.window_->sheets().empty());
  const std::shared_ptr<Alert> sheet = host_.window_->sheets().back();
  const auto box = pane().mSettingsBox;
  const auto loginButton = pane().loginButton;
  controller_.reset();

  sheet->pressButton(0);
  EXPECT_TRUE(box->performKeyEquivalent(KeyEvent{"\x0D"}));
  loginButton->performClick();
  EXPECT_FALSE(modalStopped);
  EXPECT_FALSE(host_.window_->isClosed());
  application_.setStopModalHandler(nullptr);
}

TEST_F(ExportControllerTest, ReturnAndEnterKeysAreSwallowedByTheBox) {
  makeController();
  auto& box = *pane().mSettingsBox;
  for (std::string key : {"\x03", "\x0A", "\x0C", "\x0D"}) {
    EXPECT_TRUE(box.performKeyEquivalent(KeyEvent{key})) << int(key[0]);
  }
  EXPECT_FALSE(box.performKeyEquivalent(KeyEvent{"a"}));
  EXPECT_FALSE(box.performKeyEquivalent(KeyEvent{""}));
}

TEST_F(ExportControllerTest, SignInListsBlogsAndRemembersValidCredentials) {
  host_.paths = {writeFile("a.jpg", 10)};
  makeController();
  signIn("ada", "secret pass", /*remember=*/true);
  EXPECT_TRUE(controller_->loggedIn());
  EXPECT_EQ(pane().loginButton->title(), "Log Out");
  EXPECT_EQ(pane().plinthSelect->itemTitles(),
            (std::vector<std::string>{"ada-photos.plinth.example", "ada-travel.plinth.example"}));
  EXPECT_FALSE(pane().plinthUsername->isEnabled());

  // A new pane in a new run signs in by itself.
  controller_.reset();
  makeController();
  EXPECT_TRUE(controller_->loggedIn());
  EXPECT_EQ(pane().plinthUsername->stringValue(), "ada");

  // Logging out empties the saved credentials.
  ASSERT_TRUE(pane().loginButton->performClick());
  EXPECT_FALSE(controller_->loggedIn());
  EXPECT_TRUE(pane().plinthSelect->itemTitles().empty());
  AppSettings reloaded(SettingsFile(SettingsFile::defaultFolder()));
  EXPECT_EQ(reloaded.email(), "");
  EXPECT_EQ(reloaded.UID(), "");
  EXPECT_FALSE(reloaded.isValid());
}

TEST_F(ExportControllerTest, WithoutRememberOnlyTheUserNameIsKeptAndTheBoxSavesAtOnce) {
  makeController();
  signIn("ada", "secret pass", /*remember=*/false);
  ASSERT_TRUE(controller_->loggedIn());
  struct Saved {
    std::string email, UID;
    bool saveUID, isValid;
  };
  auto saved = [] {
    AppSettings s(SettingsFile(SettingsFile::defaultFolder()));
    return Saved{s.email(), s.UID(), s.saveUID(), s.isValid()};
  };
  auto expectSaved = [&](const Saved& want) {
    const Saved got = saved();
    EXPECT_EQ(got.email, want.email);
    EXPECT_EQ(got.UID, want.UID);
    EXPECT_EQ(got.saveUID, want.saveUID);
    EXPECT_EQ(got.isValid, want.isValid);
  };
  expectSaved({"ada", "", false, false});

  // The next pane shows the name, does not sign in, and each click on the box is saved at once.
  controller_.reset();
  makeController();
  EXPECT_FALSE(controller_->loggedIn());
  EXPECT_EQ(pane().plinthUsername->stringValue(), "ada");
  EXPECT_EQ(pane().plinthPassword->stringValue(), "");
  pane().plinthPassword->setStringValue("typed");
  ASSERT_TRUE(pane().plinthRememberMe->performClick());
  expectSaved({"ada", "typed", true, false});
  ASSERT_TRUE(pane().plinthRememberMe->performClick());
  expectSaved({"ada", "", false, false});
}

TEST_F(ExportControllerTest, WrongPasswordFailsWithTheAlertAndIsNotRemembered) {
  makeController();
  LogCapture logs;
  signIn("ada", "wrong", /*remember=*/true);
  EXPECT_FALSE(controller_->loggedIn());
  EXPECT_TRUE(logs.contains(", 401"));
  ASSERT_FALSE(host_.window_->sheets().empty());
  const auto& alert = host_.window_->sheets().back();
  EXPECT_EQ(alert->messageText(), "There was a problem logging in.");
  EXPECT_EQ(alert->informativeText(), "Check your username and password and try again.");
  EXPECT_EQ(pane().loginButton->title(), "Log In");
  EXPECT_TRUE(pane().loginButton->isEnabled());
  EXPECT_TRUE(pane().plinthUsername->isEnabled());

  // Remember is set but the credentials are not valid: the next pane does not sign in.
  controller_.reset();
  makeController();
  EXPECT_FALSE(controller_->loggedIn());
}

TEST_F(ExportControllerTest, OnePhotoPostArrivesWithAllFieldsInOrder) {
  std::string bytes = "\xFF\xD8\xFF";  // a JPEG file's start, then every byte value
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  auto path = home_.path() / "all-bytes.jpg";
  std::ofstream(path, std::ios::binary) << bytes;
  host_.paths = {path.string()};
  makeController();
  signIn("ada", "secret pass");
  pane().plinthSelect->selectItemWithTitle("ada-travel.plinth.example");
  pane().plinthStatus->selectItemWithTitle("Draft");
  pane().plinthCaptions->setStringValue("a b");
  pane().plinthTags->setStringValue("x,y");
  pane().plinthClickthrough->setStringValue("http://example.com/?q=1");

  std::vector<std::string> messages;
  EXPECT_EQ(exportAndWait(), "Your image was succesfully posted.");
  EXPECT_FALSE(controller_->uploadFailed());

  auto posts = sim_->state().posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].blog, "ada-travel");
  std::vector<std::pair<std::string, std::string>> want = {{"type", "photo"},
                                                           {"caption", "a b"},
                                                           {"tags", "x,y"},
                                                           {"link", "http://example.com/?q=1"},
                                                           {"state", "draft"}};
  EXPECT_EQ(posts[0].fields, want);
  ASSERT_EQ(posts[0].photos.size(), 1u);
  EXPECT_EQ(posts[0].photos[0].size, 259u);

  // The sheet's OK ends the run and closes the export window.
  ASSERT_TRUE(controller_->progressNotification()->pressButton(0));
  EXPECT_EQ(application_.stopModalCount(), 1u);
  EXPECT_TRUE(host_.window_->isClosed());
}

TEST_F(ExportControllerTest, ThreePhotosWithoutLinkAndEmptyTexts) {
  host_.paths = {writeFile("1.jpg", 100, 'a'), writeFile("2.jpg", 100, 'a'),
                 writeFile("3.jpg", 300, ' ')};
  makeController();
  signIn("ada", "secret pass");
  EXPECT_EQ(exportAndWait(), "Your images were succesfully posted.");
  auto posts = sim_->state().posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].blog, "ada-photos");
  std::vector<std::pair<std::string, std::string>> want = {
      {"type", "photo"}, {"caption", ""}, {"tags", ""}, {"state", "published"}};
  EXPECT_EQ(posts[0].fields, want);
  ASSERT_EQ(posts[0].photos.size(), 3u);
  EXPECT_EQ(posts[0].photos[2].size, 300u);
}

// The signing as a caller uses it: set url, request and params (or compose them), then sign. The
// signature is checked against the controller's own base-string pieces and generators.
TEST_F(ExportControllerTest, ACallerSetsUrlRequestAndParamsThenSigns) {
  KZExportController& c = makeController();
  auto signedBody = [&] {
    auto body = c.request()->HTTPBody().value_or(Bytes{});
    return std::string(body.begin(), body.end());
  };
  auto expectSignedByTheGenerators = [&] {
    // Header pairs come as key="value", values percent-encoded; the signature comes last.
    std::string header = c.request()->valueForHTTPHeaderField("Authorization").value_or("");
    ASSERT_TRUE(header.starts_with("OAuth "));
    ParameterList protocol;
    for (std::size_t at = 6; at < header.size();) {
      const std::size_t eq = header.find("=\"", at), close = header.find('"', eq + 2);
      protocol.push_back({header.substr(at, eq - at), header.substr(eq + 2, close - eq - 2)});
      at = close + 3;
    }
    ASSERT_EQ(protocol.back().key, "oauth_signature");
    const std::string signature = replacePercentEscapes(protocol.back().value).value_or("");
    protocol.pop_back();
    const std::string base = "POST&" +
                             NSString_URLEncode::encodeForURL(c.oauthBaseStringURI()).value() +
                             "&" + c.oauthRequestParameterString(protocol);
    EXPECT_EQ(signature, c.oauthGenerateHMAC_SHA1SignatureFor(base, "cs", "ts"));
    EXPECT_EQ(c.oauthGeneratePlaintextSignatureFor(base, "c s", std::nullopt), "c%20s&");
  };

  const URL url = URL::withString("http://api.example:8080/v2/blog/b/post").value();
  c.setUrl(url);
  c.setRequest(URLRequest(url));
  c.setParams({{"type", "photo"}, {"caption", "a%20b"}});
  c.signRequestWithClientIdentifier("ck", "cs", "tk", "ts",
                                    post_signing::SignatureMethod::kHMAC_SHA1);
  EXPECT_EQ(signedBody(), "type=photo&caption=a%20b");
  expectSignedByTheGenerators();

  // A composed post whose request and photos are then replaced: the parameters keep their text.
  c.initWithNSDataForPhotos({{' ', '~'}}, "b", "x", std::nullopt, std::nullopt, std::nullopt);
  const std::string composed = signedBody();
  EXPECT_EQ(composed, "data%5B0%5D=+%7E&type=photo&caption=x");
  c.setRequest(URLRequest(*c.url()));
  c.setPhotoDataArray({});
  c.signRequestWithClientIdentifier("ck", "cs", "tk", "ts",
                                    post_signing::SignatureMethod::kHMAC_SHA1);
  EXPECT_EQ(signedBody(), composed);
  expectSignedByTheGenerators();
}

TEST_F(ExportControllerTest, ProgressMessagesFollowTheUpload) {
  host_.paths = {writeFile("big.jpg", 3 * 1024 * 1024, '~')};
  makeController();
  signIn("ada", "secret pass");
  std::vector<std::string> messages;
  controller_->startExport("");
  auto sheet = controller_->progressNotification();
  messages.push_back(sheet->messageText());
  Subscription watch = sheet->onChange([&] {
    if (messages.back() != sheet->messageText()) messages.push_back(sheet->messageText());
  });
  loop_.runUntil([&] { return sheet->buttons().front()->isEnabled(); }, 20.0);
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(messages[0], "Contacting server");
  EXPECT_EQ(messages[1], "Starting the request");
  EXPECT_NE(messages[2].find(" Bytes of "), std::string::npos);
  EXPECT_EQ(messages[messages.size() - 2], "Waiting for a response...");
  EXPECT_EQ(messages.back(), "Your image was succesfully posted.");
  EXPECT_EQ(controller_->progress()->message, "Exporting");
  EXPECT_EQ(controller_->progress()->totalItems, 1u);
}

// Cancel from the host stops the connection: the sheet tells the outcome with "OK" enabled, the
// saved sign-in stays as it was, and a body cut short is never stored. Once the whole body is
// out the service may store it anyway, and the sheet says so.
TEST_F(ExportControllerTest, CancelDuringTheUploadStopsItAndKeepsTheSettings) {
  struct Case {
    const char* name;
    std::size_t readRate;  // bytes a second the service reads the body at; 0 = at once
    sim::StallTarget stall;
    const char* cancelAt;  // cancel once the sheet's message contains this
    const char* informative;
  };
  const Case cases[] = {
      {"part-way", 256 * 1024, sim::StallTarget::kNone, " Bytes of ", ""},
      {"waiting for the reply", 0, sim::StallTarget::kPost, "Waiting for a response...",
       "Plinth had already received the whole post, so it may still appear on your blog."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options;
    options.accounts = {{"ada", "secret pass", {"ada-photos"}}};
    options.faults.slowPostRate = c.readRate;
    options.faults.stall = c.stall;
    startSimulator(std::move(options));
    host_.paths = {writeFile("big.jpg", 1024 * 1024, '~')};  // a body of 3 MiB
    makeController();
    controller_->cancelExport();  // no upload yet: nothing to stop, no sheet
    EXPECT_TRUE(host_.window_->sheets().empty());
    // Signs in and saves the sign-in (the second case finds it remembered from the first).
    if (!controller_->loggedIn()) signIn("ada", "secret pass", /*remember=*/true);
    ASSERT_TRUE(controller_->loggedIn());
    const auto settingsPath = home_.path() / ".config/marigold/PckgSettings";
    const auto savedBefore = std::filesystem::last_write_time(settingsPath);
    std::ifstream before(settingsPath, std::ios::binary);
    const std::string settingsBefore{std::istreambuf_iterator<char>(before), {}};

    controller_->startExport("");
    const auto sheet = controller_->progressNotification();
    ASSERT_TRUE(loop_.runUntil(
        [&] { return sheet->messageText().find(c.cancelAt) != std::string::npos; }, 20.0));
    controller_->cancelExport();
    EXPECT_EQ(sheet->messageText(), "The post was cancelled.");
    EXPECT_EQ(sheet->informativeText(), c.informative);
    EXPECT_TRUE(sheet->buttons().front()->isEnabled());
    EXPECT_FALSE(controller_->progressIndic()->isAnimating());
    // Nothing follows the cancel: the sheet keeps its outcome while the loop runs on.
    loop_.runUntil([] { return false; }, 0.3);
    EXPECT_EQ(sheet->messageText(), "The post was cancelled.");

    std::ifstream after(settingsPath, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), settingsBefore);
    EXPECT_EQ(std::filesystem::last_write_time(settingsPath), savedBefore);
    EXPECT_TRUE(sheet->pressButton(0));
    sim_->stop();  // the service has finished with the connection it was reading
    if (c.stall == sim::StallTarget::kNone) {
      EXPECT_TRUE(sim_->state().posts().empty());
    }
    controller_.reset();
    host_.window_ = std::make_shared<Window>("Export");
  }
}

TEST_F(ExportControllerTest, TheHostIsToldHowEachExportEnded) {
  using Result = pane::PostOutcome::Result;
  struct Case {
    const char* name;
    int postStatus;  // the simulator's answer to the post; 0 stores it
    bool photoGone;  // the photo is removed before the export: nothing is sent
    Result want;
  };
  const Case kCases[] = {
      {"posted", 0, false, Result::kPosted},
      {"refused by the service", 500, false, Result::kFailed},
      {"photo gone", 0, true, Result::kRefused},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options;
    options.accounts = {{"ada", "secret pass", {"ada-photos", "ada-travel"}}};
    options.faults.postStatus = c.postStatus;
    startSimulator(std::move(options));
    host_.window_ = std::make_shared<Window>("Export");
    host_.paths = {writeFile("photo.jpg", 10)};
    outcomes_.clear();
    makeController();
    signIn("ada", "secret pass");
    pane().plinthSelect->selectItemWithTitle("ada-travel.plinth.example");
    if (c.photoGone) std::filesystem::remove(host_.paths[0]);
    const std::optional<std::string> message = exportAndWait();
    ASSERT_EQ(outcomes_.size(), 1u);
    const pane::PostOutcome& outcome = outcomes_[0];
    EXPECT_EQ(outcome.result, c.want);
    EXPECT_EQ(outcome.message, message.value_or(""));
    const auto posts = sim_->state().posts();
    if (c.want == Result::kPosted) {
      ASSERT_EQ(posts.size(), 1u);
      EXPECT_EQ(outcome.postId, std::to_string(posts[0].id));  // the id that reached the service
      EXPECT_EQ(outcome.blog, "ada-travel.plinth.example");
      EXPECT_TRUE(outcome.wholePostSent);
    } else {
      EXPECT_TRUE(posts.empty());
      EXPECT_EQ(outcome.postId, std::nullopt);
      EXPECT_EQ(outcome.blog, c.photoGone ? "" : "ada-travel.plinth.example");
    }
  }
}

TEST_F(ExportControllerTest, UnreadablePhotoStopsTheExportWithAnAlert) {
  host_.paths = {writeFile("gone.jpg", 10)};
  makeController();
  signIn("ada", "secret pass");
  std::filesystem::remove(host_.paths[0]);
  controller_->startExport("");
  EXPECT_TRUE(controller_->uploadFailed());
  EXPECT_NE(controller_->progressNotification()->messageText().find("could not be read"),
            std::string::npos);
  EXPECT_TRUE(sim_->state().posts().empty());
}

// The forms a secret could take on the wire or on disk: as typed, percent-encoded, form-encoded
// and in Base64.
std::vector<std::string> disguisesOf(const std::string& secret) {
  std::vector<std::string> forms = {secret};
  if (auto url = NSString_URLEncode::encodeForURL(secret)) forms.push_back(*url);
  if (auto form = NSString_URLEncode::encodeForURLReplacingSpacesWithPlus(secret)) {
    forms.push_back(*form);
  }
  forms.push_back(NewBase64Encode(
      ByteView(reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size()), false));
  return forms;
}

// Every place in `haystack` where a form of a secret shows, as "form" entries.
std::vector<std::string> leaks(std::string_view haystack, const std::vector<std::string>& secrets) {
  std::vector<std::string> found;
  for (const auto& secret : secrets) {
    for (const auto& form : disguisesOf(secret)) {
      if (haystack.find(form) != std::string_view::npos) found.push_back(form);
    }
  }
  return found;
}

// Files anywhere under `root` that hold a form of a secret.
std::vector<std::string> filesLeaking(const std::filesystem::path& root,
                                      const std::vector<std::string>& secrets) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& form : leaks(bytes, secrets))
      found.push_back(entry.path().string() + ": " + form);
  }
  return found;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  return all;
}

TEST_F(ExportControllerTest, PasswordAndTokenSecretStayOutOfLogsFilesAndPlainHTTP) {
  // Characters that every encoder escapes differently, so each disguise is distinct.
  const std::string password = "pw of ada: s3cr&t=+/~%";
  sim::SimOptions options;
  options.accounts = {{"ada", password, {"ada-photos"}}};
  startSimulator(std::move(options));
  RecordingProxy api(sim_->apiPort());
  host_.paths = {writeFile("a.jpg", 100)};
  LogCapture logs;
  makeController(api.base());
  signIn("ada", password, /*remember=*/true);
  ASSERT_TRUE(controller_->loggedIn());
  ASSERT_TRUE(controller_->accessToken() && controller_->accessToken()->secret());
  const std::string tokenKey = controller_->accessToken()->key().value_or("");
  const std::vector<std::string> secrets = {password, *controller_->accessToken()->secret()};

  ASSERT_TRUE(std::filesystem::exists(home_.path() / ".config" / "marigold" / "PckgSettings"));
  EXPECT_EQ(filesLeaking(home_.path(), secrets), std::vector<std::string>{}) << "after sign-in";
  EXPECT_EQ(exportAndWait(), "Your image was succesfully posted.");
  EXPECT_EQ(sim_->state().posts().size(), 1u);
  EXPECT_EQ(filesLeaking(home_.path(), secrets), std::vector<std::string>{}) << "after the post";
  ASSERT_TRUE(pane().loginButton->performClick());  // log out
  EXPECT_FALSE(controller_->loggedIn());
  EXPECT_EQ(filesLeaking(home_.path(), secrets), std::vector<std::string>{}) << "after logout";
  api.stop();

  // Both API requests went through the relay, signed with the token key only.
  const std::string wire = api.sent();
  EXPECT_NE(wire.find("POST /v2/user/info "), std::string::npos);
  EXPECT_NE(wire.find("POST /v2/blog/ada-photos.plinth.example/post "), std::string::npos);
  EXPECT_NE(wire.find(tokenKey), std::string::npos);
  EXPECT_EQ(leaks(wire, secrets), std::vector<std::string>{});
  EXPECT_EQ(wire.find("x_auth"), std::string::npos);
  EXPECT_EQ(wire.find("oauth_token_secret"), std::string::npos);
  // The relay's port is named in the post's Host header: the service signs what the client used.
  const std::string relayHost = "Host: " + api.base().substr(std::string("http://").size());
  EXPECT_NE(wire.find(relayHost + "\r\nContent-type: application/x-www-form-urlencoded"),
            std::string::npos);

  // The log saw the sign-in's parameters, masked.
  const std::string logText = joined(logs.lines());
  EXPECT_NE(logText.find("x_auth_password=***"), std::string::npos) << logText;
  EXPECT_EQ(leaks(logText, secrets), std::vector<std::string>{}) << logText;
}

}  // namespace
}  // namespace marigold
