#include "settings/consumer_credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "config/service_constants.h"
#include "platform/home_directory.h"

namespace marigold {
namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

ConsumerCredentials unusable(std::string source, Message problem) {
  return {"", "", std::move(source), std::move(problem), {}};
}

// Visible ASCII only: a key or secret never holds anything else, and nothing read from the file
// then reaches a terminal or a log as a control character.
bool visibleASCII(std::string_view text) {
  for (const char c : text) {
    if (c < '!' || c > '~') return false;
  }
  return true;
}

// The path as a shell reads it back: in single quotes unless it is plain.
std::string shellWord(const std::string& path) {
  if (path.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+") ==
      std::string::npos) {
    return path;
  }
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

struct FileText {
  std::string text;
  Message problem;
  mode_t mode = 0;
};

Message unreadable(const std::string& name, int error) {
  return Message([name, error](const Rendering& say) {
    return say.tr("the file %1 cannot be read: %2", {name, say.systemError(error)});
  });
}

// The whole file, read only when it is a regular file of at most kMaxFileBytes. Opening does not
// wait: a pipe with no writer would otherwise hold the command up forever.
FileText readSmallRegularFile(const std::filesystem::path& path) {
  const std::string name = path.string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {"", unreadable(name, errno)};
  FileText result;
  struct stat about {};
  if (::fstat(fd, &about) != 0) {
    result.problem = unreadable(name, errno);
  } else if (!S_ISREG(about.st_mode)) {
    result.problem = Message(
        [name](const Rendering& say) { return say.tr("%1 is not a regular file", {name}); });
  } else if (static_cast<std::uint64_t>(about.st_size) > ConsumerCredentials::kMaxFileBytes) {
    result.problem = Message([name, size = std::to_string(about.st_size)](const Rendering& say) {
      return say.tr(
          "%1 is %2 bytes long; it should hold only the 'key = ...' and 'secret = ...' "
          "lines (at most 64 KiB)",
          {name, size});
    });
  } else {
    result.mode = about.st_mode;
    // One byte more than allowed tells a file that grew after fstat.
    std::string buffer(ConsumerCredentials::kMaxFileBytes + 1, '\0');
    std::size_t length = 0;
    while (length < buffer.size()) {
      const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result.problem = unreadable(name, errno);
        break;
      }
      if (n == 0) break;
      length += static_cast<std::size_t>(n);
    }
    if (result.problem.empty() && length > ConsumerCredentials::kMaxFileBytes) {
      result.problem = Message([name](const Rendering& say) {
        return say.tr(
            "%1 is longer than 64 KiB; it should hold only the 'key = ...' and 'secret = ...' "
            "lines",
            {name});
      });
    }
    if (result.problem.empty()) {
      buffer.resize(length);
      result.text = std::move(buffer);
    }
  }
  ::close(fd);
  return result;
}

ConsumerCredentials fromFile(const std::filesystem::path& path) {
  FileText file = readSmallRegularFile(path);
  if (!file.problem.empty()) return unusable(path.string(), std::move(file.problem));
  ConsumerCredentials credentials = ConsumerCredentials::fromText(file.text, path.string());
  if (credentials.problem.empty() && (file.mode & (S_IRWXG | S_IRWXO)) != 0) {
    credentials.warning = Message([mode = octal(file.mode), name = path.string(),
                                   word = shellWord(path.string())](const Rendering& say) {
      return say.tr(
          "the permissions %1 of %2 give other users access to your application's "
          "secret; make the file private with: chmod 600 %3",
          {mode, name, word});
    });
  }
  return credentials;
}

}  // namespace

std::filesystem::path ConsumerCredentials::configurationFile(const std::string& configurationHome) {
  return configurationFolder(configurationHome) / "application.conf";
}

ConsumerCredentials ConsumerCredentials::fromText(std::string_view text,
                                                  const std::string& source) {
  std::string key, secret;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::string content = trimmed(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    const auto equals = content.find('=');
    const std::string name =
        equals == std::string::npos ? content : trimmed(content.substr(0, equals));
    const std::string lineNumber = std::to_string(number);
    if (equals == std::string::npos || (name != "key" && name != "secret")) {
      return unusable(source, Message([source, lineNumber](const Rendering& say) {
                        return say.tr("%1 line %2: expected 'key = ...' or 'secret = ...'",
                                      {source, lineNumber});
                      }));
    }
    std::string value = trimmed(content.substr(equals + 1));
    if (!visibleASCII(value)) {
      const char* const wording =
          name == "key" ? translatable(
                              "%1 line %2: the key may hold only letters, digits and "
                              "punctuation (no spaces or control characters)")
                        : translatable(
                              "%1 line %2: the secret may hold only letters, digits and "
                              "punctuation (no spaces or control characters)");
      return unusable(source, Message([wording, source, lineNumber](const Rendering& say) {
                        return say.tr(wording, {source, lineNumber});
                      }));
    }
    (name == "key" ? key : secret) = std::move(value);
  }
  if (key.empty() || secret.empty()) {
    return unusable(source, Message([source](const Rendering& say) {
                      return say.tr("%1 must give both the key and the secret of your application",
                                    {source});
                    }));
  }
  return {key, secret, source, {}, {}};
}

ConsumerCredentials ConsumerCredentials::builtIn() {
  return {
      std::string(config::kConsumerKey), std::string(config::kConsumerSecret), "built-in", {}, {}};
}

ConsumerCredentials ConsumerCredentials::fromConfiguration(const Configuration& configuration) {
  const std::string& key = configuration.key;
  const std::string& secret = configuration.secret;
  if (!key.empty() || !secret.empty()) {
    if (key.empty() || secret.empty()) {
      return unusable(
          "environment", Message([](const Rendering& say) {
            return say.tr(
                "MARIGOLD_CONSUMER_KEY and MARIGOLD_CONSUMER_SECRET must be set together");
          }));
    }
    return {key, secret, "environment", {}, {}};
  }
  const std::filesystem::path file = configurationFile(configuration.configurationHome);
  // A file that is there but cannot be reached (a link to nowhere, a loop of links, a folder that
  // may not be searched) is the user's configuration all the same: reading it says what is wrong.
  std::error_code error;
  const auto entry = std::filesystem::symlink_status(file, error);
  if (entry.type() == std::filesystem::file_type::not_found) return builtIn();
  return fromFile(file);
}

std::string ConsumerCredentials::description(const Rendering& say) const {
  if (isBuiltIn()) return say.tr("the built-in Marigold application");
  if (!problem.empty()) return say.tr("none usable: %1", {problem.in(say)});
  if (source == "environment") return say.tr("your own application %1 (from environment)", {key});
  return say.tr("your own application %1 (from %2)", {key, source});
}

}  // namespace marigold
