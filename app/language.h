// The language the interface speaks. The program's own texts are written in Japanese, which is
// the source and the default; other languages come from a Qt Linguist catalogue carried inside
// the program. The toolkit's standard texts (the buttons of message boxes) come from Qt's own
// translations and speak the same language as the rest of the window.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QCoreApplication;

namespace language {

// The languages the window's own texts exist in, as two-letter codes, Japanese first.
QStringList interfaceLanguages();

// The user's interface language among `available`: TOLVEX_LANGUAGE when it names one (an
// explicit choice), else as gettext reads the environment: LANGUAGE (a colon list, heeded
// unless the locale is C or POSIX), then the first set of LC_ALL, LC_MESSAGES and LANG.
// Japanese when none of them names an available language, the C and POSIX locales included.
QString chooseLanguage(const QProcessEnvironment &environment, const QStringList &available);

// Loads Qt's own translation for `language` into the application; false when the system has
// none (the standard buttons then stay in Qt's English). The translator lives as long as `app`.
bool installToolkitTranslation(QCoreApplication &app, const QString &language);

// Loads the program's own catalogue for `language` (nothing to load for Japanese).
bool installInterfaceTranslation(QCoreApplication &app, const QString &language);

} // namespace language
