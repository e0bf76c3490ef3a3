#include "ui_text.h"

#include <QRegularExpression>
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/translation.h"

namespace marigold::gui {
namespace {

QString filled(const std::string& translated, std::initializer_list<QString> arguments) {
  const QString text = QString::fromStdString(translated);
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
    const int index = next.unicode() - '1';
    if (text[i] == u'%' && next >= u'1' && next <= u'9' &&
        index < static_cast<int>(arguments.size())) {
      out += arguments.begin()[index];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "de_DE.UTF-8@euro" as QLocale reads it: "de_DE".
QString localeName(const char* name) {
  QString text = QString::fromLatin1(name);
  const qsizetype cut = text.indexOf(QRegularExpression("[.@]"));
  return cut < 0 ? text : text.left(cut);
}

}  // namespace

QString tr(const char* text, std::initializer_list<QString> arguments) {
  // gettext answers an empty text with the catalogue's header: empty stays empty.
  if (*text == '\0') return {};
  return filled(marigold::tr(text), arguments);
}

QString trn(const char* singular, const char* plural, unsigned long count,
            std::initializer_list<QString> arguments) {
  return filled(marigold::trn(singular, plural, count), arguments);
}

QLocale messagesLocale() {
  const char* messages = std::setlocale(LC_MESSAGES, nullptr);
  const QString raw = QString::fromLatin1(messages ? messages : "C");
  // gettext gives the English source under C and POSIX, whatever LANGUAGE says; not under C.UTF-8.
  if (raw.isEmpty() || raw == "C" || raw == "POSIX") return QLocale::c();
  // gettext reads LANGUAGE before the locale, as here.
  if (const char* languages = std::getenv("LANGUAGE")) {
    for (const QString& language : QString::fromLatin1(languages).split(':', Qt::SkipEmptyParts)) {
      const QLocale locale(localeName(language.toLatin1().constData()));
      if (locale.language() != QLocale::C) return locale;
    }
  }
  const QString chosen = localeName(messages);
  return chosen == "C" || chosen == "POSIX" ? QLocale::c() : QLocale(chosen);
}

QString byteSize(std::uint64_t bytes) {
  const QLocale locale = messagesLocale();
  constexpr double kMB = 1024.0 * 1024.0;
  if (static_cast<double>(bytes) < kMB) {
    return tr("%1 KB", {locale.toString(static_cast<qulonglong>((bytes + 1023) / 1024))});
  }
  const double megabytes = static_cast<double>(bytes) / kMB;
  const double tenths = static_cast<double>(static_cast<long long>(megabytes * 10.0 + 0.5)) / 10.0;
  const bool whole = tenths == static_cast<double>(static_cast<long long>(tenths));
  return tr("%1 MB", {locale.toString(tenths, 'f', whole ? 0 : 1)});
}

QString number(long long value) { return messagesLocale().toString(value); }

}  // namespace marigold::gui
