// The user's language for the texts people read: the window, the pane, the sheets and alerts, and
// the command line's messages and help. The English text as written is the source and the key;
// its translation comes from the "marigold" catalogue (GNU gettext) for the language the user
// chose with LANGUAGE, LC_ALL, LC_MESSAGES and LANG, as in other desktop programs, and is the text
// itself when there is none (always under LC_ALL=C). Placeholders are %1 to %9, so that a
// translation may put them in its own order. Log lines, JSON, what is sent to the service and file
// formats never go through here. Any thread once the host has called useTranslations.
#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace marigold {

inline constexpr const char* kTextDomain = "marigold";

// Chooses the user's language for messages (the rest of the locale is left as the host set it,
// so numbers in protocol text and JSON are not touched) and reads the catalogues from
// `catalogues` (a folder of LANG/LC_MESSAGES/marigold.mo). The language is the one the variables
// name whether or not the C library has that locale: when it lacks it, LANGUAGE is set to the
// languages chosen, for this process and the programs it starts. Called once by each host at
// start-up, before any other thread and before any text is translated.
void useTranslations(const std::filesystem::path& catalogues);

// The language the texts come in: the one its catalogue's header names ("de", "ja"), which is the
// first of the user's languages that has a catalogue; "en" when they are the English source (none
// of them has one, or LC_ALL=C). For what else should follow the texts' language (numbers, the
// lang of a page, the toolkit's own texts).
std::string translationLanguage();

// Marks a text for the catalogue where it is kept to be translated later, with tr(), where it is
// shown (a constant).
constexpr const char* translatable(const char* text) { return text; }

// The translation of `text`, with %1, %2, ... replaced by `arguments` in that order.
std::string tr(const char* text, std::initializer_list<std::string_view> arguments = {});

// The same for a text that counts: `singular` for one, `plural` otherwise in English; the
// catalogue holds as many forms as the language has. The count itself is one of the arguments.
std::string trn(const char* singular, const char* plural, unsigned long count,
                std::initializer_list<std::string_view> arguments = {});

// The system's description of errno value `code` (strerror) in the user's language, in UTF-8 like
// the texts above, for a message that quotes it.
std::string systemError(int code);

// `text` with %1 to %9 replaced by `arguments`; a placeholder without an argument stays as it is.
std::string fillPlaceholders(std::string_view text,
                             std::initializer_list<std::string_view> arguments);

// One of the two renderings of a message worded once: in English as written, for the log, JSON and
// files, or in the user's language, for what people read. Code that words a message for both
// takes one and says its texts through it, so the two cannot drift apart. Plain value.
class Rendering {
 public:
  static Rendering english() { return Rendering(false); }
  static Rendering usersLanguage() { return Rendering(true); }

  // As the free functions above, or the text itself with its placeholders filled (the English
  // plural for any count but one).
  std::string tr(const char* text, std::initializer_list<std::string_view> arguments = {}) const;
  std::string trn(const char* singular, const char* plural, unsigned long count,
                  std::initializer_list<std::string_view> arguments = {}) const;
  // The system's description of errno value `code` (strerror), in English or in the user's
  // language.
  std::string systemError(int code) const;

 private:
  explicit Rendering(bool translated) : translated_(translated) {}
  bool translated_;
};

// A message worded once and kept so that it can be rendered either way: in English for --json
// and the log, or in the user's language for people. Empty when there is none. Plain value.
class Message {
 public:
  Message() = default;
  // `words` says the message through the rendering it is given.
  explicit Message(std::function<std::string(const Rendering&)> words) : words_(std::move(words)) {}

  bool empty() const { return !words_; }
  std::string in(const Rendering& say) const { return words_ ? words_(say) : std::string(); }
  std::string english() const { return in(Rendering::english()); }
  std::string shown() const { return in(Rendering::usersLanguage()); }

 private:
  std::function<std::string(const Rendering&)> words_;
};

}  // namespace marigold
