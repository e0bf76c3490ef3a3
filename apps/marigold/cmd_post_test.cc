// marigold post as a user runs it: the built binary against the simulator on loopback. Exit
// statuses, what reaches each stream, what the service stored, the inputs refused before anything
// is sent, and output lost to a closed pipe or a full disk.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "testing/camera_photo.h"
#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

using MarigoldPostTest = ProgramFixture;

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string fieldOf(const sim::StoredPost& post, const std::string& name) {
  for (const auto& [key, value] : post.fields) {
    if (key == name) return value;
  }
  return "(absent)";
}

std::vector<std::string> postAs(std::vector<std::string> extra) {
  std::vector<std::string> args = {"post", "--user", "ada", "--password-stdin"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST_F(MarigoldPostTest, ExitStatusStreamsAndMessages) {
  const std::string photo = writePhoto("photo.jpg");
  // A camera's photo: prepared, it still makes a body of megabytes, more than sockets hold.
  const std::string large = (home_.path() / "large.jpg").string();
  testing::writeCameraPhoto(large);
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    std::vector<std::string> args;
    std::string password;
    bool trustSimulator;
    int exitCode;
    std::string out;                   // the whole of standard output
    std::vector<std::string> errOnce;  // each on standard error exactly once
    std::size_t posts;
  };
  const Case kCases[] = {
      {"posted",
       nullptr,
       postAs({"--caption", "hi", photo}),
       "secret pass",
       true,
       0,
       "Posted 1 photo to ada-photos.plinth.example as post 1\n",
       {"Your image was succesfully posted."},
       1},
      {"second blog by short name",
       nullptr,
       postAs({"--blog", "ada-travel", photo}),
       "secret pass",
       true,
       0,
       "Posted 1 photo to ada-travel.plinth.example as post 1\n",
       {},
       1},
      {"quiet",
       nullptr,
       postAs({"--quiet", photo}),
       "secret pass",
       true,
       0,
       "Posted 1 photo to ada-photos.plinth.example as post 1\n",
       {},
       1},
      {"wrong password",
       nullptr,
       postAs({photo}),
       "wrong",
       true,
       1,
       "",
       {"There was a problem logging in."},
       0},
      {"certificate not trusted",
       nullptr,
       postAs({photo}),
       "secret pass",
       false,
       1,
       "",
       {"There was a problem logging in."},
       0},
      {"500",
       [](sim::SimOptions& o) { o.faults.postStatus = 500; },
       postAs({photo}),
       "secret pass",
       true,
       1,
       "",
       {"The post failed: ", "500"},
       0},
      {"401, refused by the service",
       [](sim::SimOptions& o) { o.faults.postStatus = 401; },
       postAs({photo}),
       "secret pass",
       true,
       1,
       "",
       {"The post failed: ", "401"},
       0},
      {"closed half-way",
       [](sim::SimOptions& o) { o.faults.closeAfter = 100; },
       postAs({large}),
       "secret pass",
       true,
       1,
       "",
       {"marigold: ", "Could not load", "Nothing was posted"},
       0},
      // The small post went out whole before the service hung up: it may have been stored.
      {"closed without an answer",
       [](sim::SimOptions& o) { o.faults.closeAfter = 100; },
       postAs({photo}),
       "secret pass",
       true,
       4,
       "",
       {"The post may already be on your blog; check before posting again."},
       0},
      {"unknown blog",
       nullptr,
       postAs({"--blog", "nope", photo}),
       "secret pass",
       true,
       2,
       "",
       {"--blog nope", "ada-photos.plinth.example, ada-travel.plinth.example"},
       0},
      {"not signed in", nullptr, {"post", photo}, "", true, 3, "", {"not signed in"}, 0},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    const ProgramOutcome o = run(c.args, {.input = c.password + "\n",
                                          .home = newHome("home-" + std::to_string(index++)),
                                          .trustSimulator = c.trustSimulator});
    EXPECT_EQ(o.exitCode, c.exitCode) << o.out << o.err;
    EXPECT_EQ(o.out, c.out);
    for (const std::string& text : c.errOnce) {
      EXPECT_EQ(occurrences(o.err, text), 1u) << text << " not once in: " << o.err;
    }
    if (c.exitCode == 0 && c.errOnce.empty()) {
      EXPECT_EQ(o.err.find("marigold:"), std::string::npos);
    }
    if (std::string(c.name) == "quiet") {
      EXPECT_EQ(o.err, "");
    }
    EXPECT_EQ(sim_->state().posts().size(), c.posts);
    EXPECT_EQ((o.out + o.err).find("secret pass"), std::string::npos);
  }
}

// A post the service refuses, by the problem it names, with a remembered sign-in: a refused nonce
// or timestamp stored nothing and is signed anew and sent once more; a refused sign-in is marked
// invalid in the saved settings (the next status says "signed in: no") and exits 3; any other
// refusal shows the service's reason and keeps the sign-in.
TEST_F(MarigoldPostTest, RefusalsByTheirProblem) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    std::vector<std::string> refusals;  // the service's answers to the first posts
    int exitCode;
    std::string errOnce;  // on standard error exactly once; "" = nothing
    std::size_t posts;
    bool signInKept;
  };
  const std::string failed = "The post failed: Not Authorized (HTTP 401)";
  const Case kCases[] = {
      {{"nonce_used"}, 0, "", 1, true},
      {{"timestamp_refused"}, 0, "", 1, true},
      {{"timestamp_refused", "timestamp_refused"},
       1,
       failed + "\n  Plinth refused the post's time twice: this computer's clock looks wrong.",
       0,
       true},
      {{"nonce_used", "nonce_used"},
       1,
       failed + "\n  Plinth gave the reason nonce_used. You are still signed in.",
       0,
       true},
      {{"permission_denied"},
       1,
       failed + "\n  Plinth gave the reason permission_denied. You are still signed in.",
       0,
       true},
      {{"token_expired"}, 3, failed + "\n  Sign in again, then export again.", 0, false},
      {{"token_revoked"}, 3, failed + "\n  Sign in again, then export again.", 0, false},
      {{"signature_invalid"}, 3, failed + "\n  Sign in again, then export again.", 0, false},
      {{"none"}, 3, failed + "\n  Sign in again, then export again.", 0, false},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.refusals.front() + " x" + std::to_string(c.refusals.size()));
    startSimulator([&](sim::SimOptions& o) { o.faults.refusePosts = c.refusals; });
    const ProgramRun asUser{.home = newHome("refused-" + std::to_string(index++))};
    ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                  {.input = "secret pass\n", .home = asUser.home})
                  .exitCode,
              0);
    const ProgramOutcome o = run({"post", "--quiet", photo}, asUser);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    if (c.errOnce.empty()) {
      EXPECT_EQ(o.err, "");
      EXPECT_EQ(o.out, "Posted 1 photo to ada-photos.plinth.example as post 1\n");
    } else {
      EXPECT_EQ(occurrences(o.err, c.errOnce), 1u) << o.err;
      EXPECT_EQ(occurrences(o.err, "marigold: "), 1u) << o.err;
    }
    EXPECT_EQ(sim_->state().posts().size(), c.posts);
    const ProgramOutcome status = run({"status"}, asUser);
    EXPECT_EQ(status.exitCode, c.signInKept ? 0 : 3) << status.out << status.err;
  }
}

TEST_F(MarigoldPostTest, InputsRefusedBeforeAnythingIsSent) {
  const std::string photo = writePhoto("photo.jpg");
  const std::string other = writePhoto("other.png");
  const std::string empty = (home_.path() / "empty.jpg").string();
  std::ofstream(empty).close();
  const std::string text = (home_.path() / "notes.jpg").string();
  std::ofstream(text) << "just some words, not a photo\n";
  const std::string folder = (home_.path() / "album").string();
  fs::create_directories(folder);
  const std::string badUTF8 = "caf\xC3";
  std::vector<std::string> eleven;
  for (int i = 0; i < 11; ++i) eleven.push_back(writePhoto("p" + std::to_string(i) + ".jpg"));
  const fs::path longCaption = home_.path() / "long.txt";
  std::ofstream(longCaption) << std::string(64 * 1024 + 1, 'w');
  // The service is down: a command that got as far as signing in would fail with status 1.
  sim_->stop();
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must name
  };
  const Case kCases[] = {
      {postAs({folder}), folder + ": is a directory"},
      {postAs({empty}), empty + ": the file is empty"},
      {postAs({text}), text + ": not a JPEG, PNG, GIF, TIFF or HEIC image"},
      {postAs({photo + ".gone"}), photo + ".gone"},
      {postAs({photo, other, photo}), photo + ": the same photo as " + photo},
      {postAs({"--caption", badUTF8, photo}), "--caption: the text is not valid UTF-8"},
      {postAs({"--tags", badUTF8, photo}), "--tags: the text is not valid UTF-8"},
      {postAs({"--link", "https://x.example/" + badUTF8, photo}), "--link: the text is not valid"},
      {postAs({"--link", "ftp://x.example/", photo}), "--link ftp://x.example/: not an http"},
      {postAs({"--link", "x.example", photo}), "--link x.example: not an http"},
      {postAs({"--blog", "", photo}), "--blog: empty blog name"},
      {postAs({"--state", "sideways", photo}), "--state sideways: unknown post state"},
      {postAs({"-x", photo}), "-x"},
      {postAs({"--colour", "red", photo}), "--colour"},
      {postAs({}), "photos"},
      {postAs({"--caption", "a", "--caption-file", photo, photo}), "--caption"},
      {postAs({"--caption-file", folder, photo}), "--caption-file " + folder + ": is a directory"},
      {postAs(eleven), "11 photos: Plinth takes at most 10 photos in one post."},
      {postAs({"--caption-file", "/dev/zero", photo}), "a NUL byte at offset 0"},
      {postAs({"--caption-file", longCaption.string(), photo}), "longer than 64 KiB"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.named);
    const ProgramOutcome o = run(c.args, {.input = "secret pass\n"});
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_NE(o.err.find(c.named), std::string::npos) << o.err;
    EXPECT_EQ(occurrences(o.err, "marigold: "), 1u) << o.err;
    EXPECT_EQ(o.out, "");
    // Refused before any photo was prepared: no line says what preparing made of them.
    EXPECT_EQ(o.err.find(" of 5 MB"), std::string::npos) << o.err;
  }
}

TEST_F(MarigoldPostTest, CaptionFromAFileOrStandardInput) {
  const std::string photo = writePhoto("photo.jpg");
  const std::string caption(10000, 'w');  // longer than is comfortable on a command line
  const fs::path file = home_.path() / "caption.txt";
  std::ofstream(file) << caption << "\n";
  ASSERT_EQ(
      run({"login", "--user", "ada", "--password-stdin", "--remember"}, {.input = "secret pass\n"})
          .exitCode,
      0);
  EXPECT_EQ(run({"post", "--caption-file", file.string(), photo}).exitCode, 0);
  EXPECT_EQ(run({"post", "--caption-file", "-", photo}, {.input = "from stdin\n"}).exitCode, 0);
  const auto posts = sim_->state().posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(fieldOf(posts[0], "caption"), caption);
  EXPECT_EQ(fieldOf(posts[1], "caption"), "from stdin");
}

TEST_F(MarigoldPostTest, OutputLostIsNeverSuccess) {
  const std::string photo = writePhoto("photo.jpg");
  ASSERT_EQ(
      run({"login", "--user", "ada", "--password-stdin", "--remember"}, {.input = "secret pass\n"})
          .exitCode,
      0);
  struct Case {
    std::vector<std::string> args;
    ProgramRun how;
    int exitCode;     // -1: ended by SIGPIPE
    std::string err;  // in standard error; empty: standard error stays empty
  };
  const Case kCases[] = {
      {{"blogs"}, {.closedPipe = true}, -1, ""},
      {{"post", photo}, {.closedPipe = true}, -1, ""},
      // Done all the same: the result follows on standard error, the new post's id (the
      // simulator's second post) with it.
      {{"blogs"}, {.stdoutPath = "/dev/full"}, 5, "follows\nada-photos"},
      {{"post", photo},
       {.stdoutPath = "/dev/full"},
       5,
       "follows\nPosted 1 photo to ada-photos.plinth.example as post 2\n"},
      {{"--help"}, {.stdoutPath = "/dev/full"}, 5, "cannot write the output: No space left"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.front() + (c.how.closedPipe ? " | closed" : " > /dev/full"));
    const ProgramOutcome o = run(c.args, c.how);
    if (c.exitCode == -1) {
      EXPECT_EQ(o.signal, SIGPIPE) << o.exitCode << o.err;
    } else {
      EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    }
    if (c.err.empty()) {
      EXPECT_EQ(o.err.find("marigold:"), std::string::npos) << o.err;
    } else {
      EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
  }
  // The posts themselves were made: only the report of them was lost.
  EXPECT_EQ(sim_->state().posts().size(), 2u);
}

// Once the whole post is sent the service may have stored it: an interruption then says so and
// exits 4, so that a script does not post it twice. Before that, Ctrl-C ends the program by the
// signal.
TEST_F(MarigoldPostTest, InterruptedAfterTheBodyWasSentMayBePosted) {
  startSimulator([](sim::SimOptions& o) { o.faults.stall = sim::StallTarget::kPost; });
  const ProgramOutcome o =
      run(postAs({writePhoto("photo.jpg")}),
          {.input = "secret pass\n", .interruptAfter = "Waiting for a response"});
  EXPECT_EQ(o.exitCode, 4) << o.signal << o.err;
  EXPECT_EQ(occurrences(o.err,
                        "marigold: The post may already be on your blog; check before "
                        "posting again."),
            1u)
      << o.err;
}

// On a terminal: Ctrl-C at the password prompt gives the terminal its echo back, whatever the
// shell; a terminal narrower than the progress bar gets each redraw within its width, so that no
// line is left behind.
TEST_F(MarigoldPostTest, OnATerminal) {
  ProgramOutcome o = run({"login", "--user", "ada"},
                         {.terminalColumns = 80, .interruptAfter = "Password for ada: "});
  EXPECT_EQ(o.signal, SIGINT) << o.exitCode << o.out;
  EXPECT_TRUE(o.terminalEchoes);

  ASSERT_EQ(
      run({"login", "--user", "ada", "--password-stdin", "--remember"}, {.input = "secret pass\n"})
          .exitCode,
      0);
  startSimulator([](sim::SimOptions& s) { s.faults.slowPostRate = 8192; });
  o = run({"post", writePhoto("photo.jpg")}, {.terminalColumns = 30});
  EXPECT_EQ(o.exitCode, 0) << o.out;
  std::size_t redraws = 0;
  for (std::size_t at = o.out.find("\x1b[K"); at != std::string::npos;
       at = o.out.find("\x1b[K", at + 1)) {
    const std::size_t end = o.out.find_first_of("\r\n", at);
    const std::string line = o.out.substr(at + 3, end - at - 3);
    EXPECT_LT(line.size(), 30u) << line;
    ++redraws;
  }
  EXPECT_GT(redraws, 2u) << o.out;
}

}  // namespace
}  // namespace marigold
