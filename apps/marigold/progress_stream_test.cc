// marigold post --progress-fd as a share menu runs it: the built binary against the simulator,
// the stream read back from the file the descriptor was opened on, line by line and byte by byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

using ProgressStreamTest = ProgramFixture;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string progressLine(const std::string& phase, std::uintmax_t sent, std::uintmax_t total) {
  return "{\"phase\":\"" + phase + "\",\"sent\":" + std::to_string(sent) +
         ",\"total\":" + std::to_string(total) + "}";
}

// A post that goes through: preparing, contacting, the sending lines (how many depends on the
// network's writes: each must be exact, its count growing), waiting, posted with the address.
TEST_F(ProgressStreamTest, PostedPostWritesEveryPhaseThenTheAddress) {
  const std::string photo = writePhoto("photo.jpg");
  const auto size = fs::file_size(photo);  // sent as it is: original size, metadata kept
  const fs::path stream = home_.path() / "progress";
  const ProgramOutcome outcome = run({"post", "--user", "ada", "--password-stdin", "--size",
                                      "original", "--keep-metadata", "--progress-fd", "3", photo},
                                     {.input = "secret pass", .outputs = {{3, stream}}});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::string text = readFile(stream);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = linesOf(text);
  ASSERT_GE(lines.size(), 4u) << text;
  EXPECT_EQ(lines[0], progressLine("preparing", 0, 0));
  EXPECT_EQ(lines[1], progressLine("contacting", 0, size));
  std::uintmax_t sent = 0;
  std::size_t at = 2;
  for (; at < lines.size() && lines[at].starts_with("{\"phase\":\"sending\""); ++at) {
    const std::size_t from = lines[at].find("\"sent\":") + 7;
    const std::uintmax_t now = std::stoull(lines[at].substr(from));
    EXPECT_GT(now, sent) << lines[at];
    EXPECT_LE(now, size) << lines[at];
    sent = now;
    EXPECT_EQ(lines[at], progressLine("sending", now, size));
  }
  ASSERT_EQ(lines.size(), at + 2) << text;
  EXPECT_EQ(lines[at], progressLine("waiting", size, size));
  EXPECT_EQ(lines[at + 1], "{\"phase\":\"posted\",\"sent\":" + std::to_string(size) +
                               ",\"total\":" + std::to_string(size) +
                               ",\"id\":\"1\",\"blog\":\"ada-photos.plinth.example\","
                               "\"url\":\"http://ada-photos.plinth.example/post/1\"}");
  // The stream is the caller's: standard output still has the result.
  EXPECT_EQ(outcome.out, "Posted 1 photo to ada-photos.plinth.example as post 1\n");
}

// A post that fails ends the stream with its exit status and the command's error messages, the
// very words standard error shows after "marigold: ".
TEST_F(ProgressStreamTest, FailureEndsWithTheCommandsOwnWords) {
  const std::string photo = writePhoto("photo.jpg");
  const std::string other = writePhoto("other.jpg");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string password;
    int postStatus;
    int exitCode;
    // The lines before the last, by phase; the sending lines, as many as the network's writes,
    // are checked in the test above.
    std::vector<std::string> phases;
    std::string errorHas;
  };
  const Case kCases[] = {
      {"service error",
       {photo},
       "secret pass",
       500,
       1,
       {"preparing", "contacting", "waiting"},
       "500"},
      {"password refused",
       {photo},
       "wrong",
       0,
       1,
       {"preparing"},
       "There was a problem logging in."},
      {"usage: a link with two photos",
       {"--link", "https://example.com/", photo, other},
       "secret pass",
       0,
       2,
       {},
       "--link: a link can only go with a single photo"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator([&](sim::SimOptions& o) { o.faults.postStatus = c.postStatus; });
    const fs::path stream = home_.path() / (std::string("progress-") + c.name);
    std::vector<std::string> args = {"post",          "--user", "ada", "--password-stdin",
                                     "--progress-fd", "7"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramOutcome outcome = run(args, {.input = c.password, .outputs = {{7, stream}}});
    EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
    const std::vector<std::string> lines = linesOf(readFile(stream));
    ASSERT_FALSE(lines.empty());
    std::vector<std::string> phases;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      const std::string phase = lines[i].substr(10, lines[i].find('"', 10) - 10);
      if (phase != "sending" && (phases.empty() || phases.back() != phase)) {
        phases.push_back(phase);
      }
    }
    EXPECT_EQ(phases, c.phases);
    // The last line, byte for byte, from the error text standard error shows.
    const std::string& last = lines.back();
    const std::size_t errorAt = last.find(",\"error\":\"");
    ASSERT_NE(errorAt, std::string::npos) << last;
    const std::string error = last.substr(errorAt + 10, last.size() - errorAt - 12);
    std::string unescaped;
    for (std::size_t i = 0; i < error.size(); ++i) {
      if (error[i] == '\\' && i + 1 < error.size() && error[i + 1] == 'n') {
        unescaped += '\n';
        ++i;
      } else if (error[i] == '\\' && i + 1 < error.size()) {
        unescaped += error[++i];
      } else {
        unescaped += error[i];
      }
    }
    EXPECT_NE(unescaped.find(c.errorHas), std::string::npos) << last;
    EXPECT_NE(outcome.err.find("marigold: " + unescaped + "\n"), std::string::npos)
        << outcome.err << "\n"
        << last;
    // The counts as the line before the last left them (none before an upload).
    const std::string before =
        lines.size() == 1 ? progressLine("failed", 0, 0) : lines[lines.size() - 2];
    const std::string counts = before.substr(before.find(",\"sent\""));
    EXPECT_EQ(last, "{\"phase\":\"failed\"" + counts.substr(0, counts.size() - 1) + ",\"exit\":" +
                        std::to_string(c.exitCode) + ",\"error\":\"" + error + "\"}");
  }
}

// A descriptor that cannot carry the stream is refused before anything is done.
TEST_F(ProgressStreamTest, UnusableDescriptorIsRefused) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    const char* fd;
    std::string error;
  };
  const Case kCases[] = {
      {"1", "marigold: --progress-fd 1: give a descriptor of its own, 3 or above\n"},
      {"200", "marigold: --progress-fd 200: the descriptor is not open for writing\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.fd);
    const ProgramOutcome outcome =
        run({"post", "--user", "ada", "--password-stdin", "--progress-fd", c.fd, photo},
            {.input = "secret pass"});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, c.error);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(sim_->state().posts().empty());
  }
}

}  // namespace
}  // namespace marigold
