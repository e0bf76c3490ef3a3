#include "ui_text.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTextDocument>
#include <clocale>
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
  const QLocale language(QString::fromStdString(translationLanguage()));
  if (language.language() == QLocale::English || language.language() == QLocale::C) {
    return QLocale::c();
  }
  // The user's own variant of that language (de_AT, de_CH) where their settings name one, in the
  // order gettext reads them.
  QStringList named = QString::fromLocal8Bit(qgetenv("LANGUAGE")).split(':', Qt::SkipEmptyParts);
  if (const char* messages = std::setlocale(LC_MESSAGES, nullptr)) named << messages;
  for (const QString& name : named) {
    const QLocale locale(localeName(name.toLatin1().constData()));
    if (locale.language() == language.language()) return locale;
  }
  return language;
}

QtTranslations::QtTranslations() {
  const QLocale locale = messagesLocale();
  if (locale.language() == QLocale::C) return;
  if (translator_.load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&translator_);
  }
}

void showPlainText(QMessageBox& box) {
  box.setTextFormat(Qt::PlainText);
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) label->setTextFormat(Qt::PlainText);
  }
}

QString plainToolTip(const QString& text) {
  return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
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
