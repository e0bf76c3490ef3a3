// marigold outbox as a user runs it, against the simulator with its fault switches: which failed
// posts wait in the outbox and which are kept apart, that a waiting post is sent once with the
// bytes it was prepared with, that two senders at once send each post once, and that a send
// killed at any step loses nothing and never posts twice (the simulator's stored posts counted).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/outbox.h"
#include "json/json_categories.h"
#include "json/json_value.h"
#include "platform/folder_lock.h"
#include "testing/camera_photo.h"
#include "testing/hostile_service.h"
#include "testing/program_fixture.h"
#include "testing/recording_proxy.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

// Lower-case hex SHA-256, as the simulator records each photo it stored.
std::string sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

class MarigoldOutboxTest : public ProgramFixture {
 protected:
  fs::path outboxFolder() const { return home_.path() / ".local/share/marigold/outbox"; }

  void signIn() {
    ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                  {.input = "secret pass\n"})
                  .exitCode,
              0);
  }

  // The outbox as `outbox --json` lists it.
  std::vector<JsonValue> listed() {
    const ProgramOutcome o = run({"outbox", "--json"});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    const std::optional<JsonValue> document = NSString_LxJSON::JSONValue(o.out);
    if (!document) {
      ADD_FAILURE() << o.out;
      return {};
    }
    const auto entries = document->at("entries").elements();
    return {entries.begin(), entries.end()};
  }

  // The digests of the photos an entry holds, in its order.
  std::vector<std::string> photoDigests(const std::string& id) {
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(outboxFolder() / id)) {
      if (item.path().filename().string().starts_with("photo-")) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> digests;
    for (const auto& file : files) digests.push_back(sha256Hex(readFile(file)));
    return digests;
  }

  // The standard error file of the next run.
  fs::path nextStandardError() const {
    return home_.path() / ("run-" + std::to_string(runs_.load())) / "stderr";
  }
};

std::string text(const JsonValue& value, const char* member) {
  const std::string* found = value.at(member).asString();
  return found != nullptr ? *found : std::string();
}

// Waits (bounded) until `done`; answers whether it came.
bool waitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// What goes in and how it comes out: a post known not to be stored waits, and a later `outbox
// send` posts it once with the bytes it was prepared with; one that may be stored (its whole body
// sent, no answer) is kept apart, refused by a plain send, and sent only with --not-posted; one
// the service refused for good is not kept.
TEST_F(MarigoldOutboxTest, FailedPostsKeptAndSentOnce) {
  const std::string photo = writePhoto("photo.jpg");
  signIn();
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    bool refuseConnection;  // the post's connection refused (the blogs were listed before)
    int postExit;
    const char* kept;  // "waiting", "mayBePosted" or "" (not kept)
  };
  const Case kCases[] = {
      {"refused connection", nullptr, true, 1, "waiting"},
      {"server error", [](sim::SimOptions& o) { o.faults.postStatus = 503; }, false, 1, "waiting"},
      {"nonce refused twice",
       [](sim::SimOptions& o) {
         o.faults.refusePosts = {"nonce_used", "nonce_used"};
       },
       false, 1, "waiting"},
      {"answer lost", [](sim::SimOptions& o) { o.faults.closeAfter = 100; }, false, 4,
       "mayBePosted"},
      {"refused for good", [](sim::SimOptions& o) { o.faults.postStatus = 401; }, false, 1, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    // The blog list's request goes through, on a connection that serves one request only; the
    // post's connection is then refused.
    std::optional<HostileService> oneRequestEach;
    std::optional<RecordingProxy> proxy;
    ProgramRun how;
    if (c.refuseConnection) {
      oneRequestEach.emplace(sim_.get());
      proxy.emplace(oneRequestEach->httpPort(), 1);
      how.environment["MARIGOLD_API_BASE"] = proxy->base();
    }
    ProgramOutcome o = run({"post", "--caption", c.name, "--tags", "x,y", photo}, how);
    EXPECT_EQ(o.exitCode, c.postExit) << o.err;
    EXPECT_EQ(sim_->state().posts().size(), 0u);
    std::vector<JsonValue> entries = listed();
    if (*c.kept == '\0') {
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(entries.size(), 1u) << o.err;
    const std::string id = text(entries[0], "id");
    EXPECT_EQ(text(entries[0], "status"), c.kept);
    EXPECT_EQ(text(entries[0], "caption"), c.name);
    EXPECT_EQ(text(entries[0], "account"), "ada");
    EXPECT_NE(o.err.find("outbox as " + id), std::string::npos) << o.err;
    // Private, and nothing of the sign-in in it.
    EXPECT_EQ(fs::status(outboxFolder() / id).permissions() & fs::perms::all, fs::perms::owner_all);
    struct stat record {};
    ASSERT_EQ(::stat((outboxFolder() / id / "entry.json").c_str(), &record), 0);
    EXPECT_EQ(record.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(outboxFolder() / id / "entry.json").find("secret pass"), std::string::npos);
    const std::vector<std::string> digests = photoDigests(id);

    startSimulator(nullptr);
    o = run({"outbox", "send"});
    if (std::string(c.kept) == "mayBePosted") {
      EXPECT_EQ(o.exitCode, 4) << o.err;
      EXPECT_NE(o.err.find("--not-posted " + id), std::string::npos) << o.err;
      EXPECT_EQ(sim_->state().posts().size(), 0u);
      o = run({"outbox", "send", "--not-posted", id});
    }
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, "Posted 1 photo to ada-photos.plinth.example as post 1\n");
    const auto posts = sim_->state().posts();
    ASSERT_EQ(posts.size(), 1u);
    ASSERT_EQ(posts[0].photos.size(), digests.size());
    EXPECT_EQ(posts[0].photos[0].sha256, digests[0]);
    EXPECT_EQ(posts[0].fields[1], std::make_pair(std::string("caption"), std::string(c.name)));
    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(run({"outbox", "send"}).exitCode, 0);
    EXPECT_EQ(sim_->state().posts().size(), 1u);
  }
}

// Two senders at once, each sending the whole outbox: every post is stored exactly once.
TEST_F(MarigoldOutboxTest, TwoSendersPostEachEntryOnce) {
  const std::string photo = writePhoto("photo.jpg");
  signIn();
  constexpr int kPosts = 4;
  for (int i = 0; i < kPosts; ++i) {
    const ProgramOutcome o = run({"post", "--later", "--caption", "c" + std::to_string(i), photo});
    ASSERT_EQ(o.exitCode, 0) << o.err;
  }
  ASSERT_EQ(listed().size(), static_cast<std::size_t>(kPosts));
  ProgramOutcome first, second;
  std::thread other([&] { second = run({"outbox", "send"}); });
  first = run({"outbox", "send"});
  other.join();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(second.exitCode, 0) << second.err;
  std::multiset<std::string> captions;
  for (const auto& post : sim_->state().posts()) {
    for (const auto& [name, value] : post.fields) {
      if (name == "caption") captions.insert(value);
    }
  }
  EXPECT_EQ(captions, (std::multiset<std::string>{"c0", "c1", "c2", "c3"}));
  EXPECT_TRUE(listed().empty());
}

// A send killed (SIGKILL) at each of its steps: the entry is never lost and never posted twice.
// Killed before its mark was written it simply waits; once marked it may already be posted, so a
// plain send refuses it, and the user either sends it (--not-posted) or drops it.
TEST_F(MarigoldOutboxTest, KilledAtEveryStepOfASend) {
  const std::string photo = writePhoto("photo.jpg");
  // Megabytes once prepared: more than sockets hold, so its body takes a while to go out.
  const std::string large = (home_.path() / "large.jpg").string();
  testing::writeCameraPhoto(large);
  signIn();
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    bool largePhoto;
    const char* killAfter;      // on standard error; then SIGKILL
    bool holdOutbox;            // the test holds the outbox's lock from the start
    bool holdOutboxOnceMarked;  // ... from when the entry is marked as being sent
    std::size_t stored;         // posts the killed send stored
  };
  const Case kCases[] = {
      {"before the mark", nullptr, false, "waiting for another marigold", true, false, 0},
      // Killed once a tenth of the body is out (the second progress line).
      {"while the body goes out", [](sim::SimOptions& o) { o.faults.slowPostRate = 256 * 1024; },
       true, "Bytes posted.\n", false, false, 0},
      {"body sent, no answer yet",
       [](sim::SimOptions& o) { o.faults.stall = sim::StallTarget::kPost; }, false,
       "Waiting for a response", false, false, 0},
      {"after the answer", [](sim::SimOptions& o) { o.faults.delayMs = 1000; }, false,
       "waiting for another marigold", false, true, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    ASSERT_EQ(run({"post", "--later", "--caption", c.name, c.largePhoto ? large : photo}).exitCode,
              0);
    const std::vector<JsonValue> before = listed();
    ASSERT_EQ(before.size(), 1u);
    const std::string id = text(before[0], "id");
    const fs::path record = outboxFolder() / id / "entry.json";
    std::optional<FolderLock> held;
    if (c.holdOutbox) held = FolderLock::acquire(outboxFolder(), FolderLock::Mode::kExclusive);
    const fs::path err = nextStandardError();
    const ProgramOutcome o =
        run({"outbox", "send"}, {.during = [&](pid_t pid) {
              if (c.holdOutboxOnceMarked) {
                EXPECT_TRUE(waitFor([&] {
                  return readFile(record).find("\"sendingSince\":\"") != std::string::npos;
                }));
                held = FolderLock::acquire(outboxFolder(), FolderLock::Mode::kExclusive);
                EXPECT_TRUE(waitFor([&] { return sim_->state().posts().size() == c.stored; }));
              }
              EXPECT_TRUE(waitFor([&] {
                const std::string shown = readFile(err);
                const std::size_t first = shown.find(c.killAfter);
                return first != std::string::npos &&
                       (!c.largePhoto || shown.find(c.killAfter, first + 1) != std::string::npos);
              })) << readFile(err);
              ::kill(pid, SIGKILL);
            }});
    EXPECT_EQ(o.signal, SIGKILL) << o.err;
    held.reset();
    EXPECT_EQ(sim_->state().posts().size(), c.stored);
    const std::vector<JsonValue> after = listed();
    ASSERT_EQ(after.size(), 1u) << "the entry was lost";
    const bool marked = !c.holdOutbox;
    EXPECT_EQ(text(after[0], "status"), marked ? "mayBePosted" : "waiting");

    startSimulator(nullptr);
    ProgramOutcome next = run({"outbox", "send"});
    if (marked) {
      EXPECT_EQ(next.exitCode, 4) << next.err;
      next =
          c.stored > 0 ? run({"outbox", "drop", id}) : run({"outbox", "send", "--not-posted", id});
    }
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(c.stored + sim_->state().posts().size(), 1u) << "posted twice or never";
    EXPECT_TRUE(listed().empty());
  }
}

// The outbox's bounds: a post that would go over is refused whole, with a message saying which
// bound and what to do, and nothing of it is left behind.
TEST(OutboxTest, PostOverItsBoundsIsRefusedWhole) {
  TemporaryHome home;
  const fs::path photo = home.path() / "photo.jpg";
  fs::copy_file(fs::path(MARIGOLD_SOURCE_DIR) / "examples" / "dusk.jpg", photo);
  const auto size = fs::file_size(photo);
  struct Case {
    const char* name;
    host::Outbox::Limits limits;
    std::size_t accepted;
    std::string message;
  };
  const Case kCases[] = {
      {"entries", {2, size * 10}, 2, "The outbox already holds 2 posts, as many as it keeps."},
      {"bytes", {100, size * 3 / 2}, 1, "The outbox keeps at most "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    host::Outbox outbox(home.path() / c.name, c.limits);
    const host::OutboxPost post{{photo}, "caption", "", std::nullopt, "Published", "", "ada"};
    for (std::size_t i = 0; i < c.accepted; ++i) {
      ASSERT_TRUE(std::holds_alternative<host::OutboxEntry>(
          outbox.add(post, host::OutboxEntry::Kind::kWaiting, "test")));
    }
    const auto refused = outbox.add(post, host::OutboxEntry::Kind::kWaiting, "test");
    ASSERT_TRUE(std::holds_alternative<Error>(refused));
    EXPECT_NE(std::get<Error>(refused).description.find(c.message), std::string::npos)
        << std::get<Error>(refused).description;
    EXPECT_EQ(outbox.entries().size(), c.accepted);
    EXPECT_EQ(static_cast<std::size_t>(
                  std::distance(fs::directory_iterator(outbox.folder()), fs::directory_iterator())),
              c.accepted);
  }
}

}  // namespace
}  // namespace marigold
