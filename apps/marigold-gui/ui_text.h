// The window's words and figures in the user's language: base/translation.h's tr and trn for Qt
// strings (the English text is the source; %1 to %9 filled in one pass, so an argument's own "%1"
// stays as it is), and sizes and counts written as the messages language writes numbers ("2,6 MB"
// in German, "2.6 MB" in English and under LC_ALL=C). Called as gui::tr inside widgets, whose own
// QObject::tr would otherwise be found first. Main thread only, after useTranslations.
#pragma once

#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <QTranslator>
#include <cstdint>
#include <initializer_list>

namespace marigold::gui {

QString tr(const char* text, std::initializer_list<QString> arguments = {});
QString trn(const char* singular, const char* plural, unsigned long count,
            std::initializer_list<QString> arguments = {});

// The locale whose number conventions match the language the texts are shown in (the one whose
// catalogue they come from, whatever languages LANGUAGE names before it), in the user's variant of
// it where LANGUAGE or LC_MESSAGES names one; C (English figures) when the texts are English.
QLocale messagesLocale();

// Qt's own texts (the command line's headings, the file dialog's buttons) in the language of
// messagesLocale, from Qt's translations where they are installed, else Qt's English. In use in
// the application, which must exist first, while it lives. Not copyable.
class QtTranslations {
 public:
  QtTranslations();
  QtTranslations(const QtTranslations&) = delete;
  QtTranslations& operator=(const QtTranslations&) = delete;

 private:
  QTranslator translator_;  // leaves the application when destroyed
};

// Shows the box's message and informative text as written, never as markup: they may quote a
// file's name or the service's words. Call after both texts are set.
void showPlainText(QMessageBox& box);

// A tooltip that shows `text` as written: Qt would take a tooltip that looks like markup (a file
// named "<b>x.jpg") for rich text.
QString plainToolTip(const QString& text);

// A size as the service's limit is written: 5,242,880 bytes is "5 MB", 1,024 bytes "1 KB", with
// the language's decimal sign ("4,7 MB").
QString byteSize(std::uint64_t bytes);
// A whole number as the language groups its digits.
QString number(long long value);

}  // namespace marigold::gui
