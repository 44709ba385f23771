#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace language {

namespace {

const QString kJapanese = QStringLiteral("ja");

// "ja_JP.UTF-8@x" -> "ja"; "C", "POSIX" and "C.UTF-8" name no language.
QString languageOf(const QString &locale) {
    QString code = locale.section(u'.', 0, 0).section(u'@', 0, 0).section(u'_', 0, 0).toLower();
    if (code == QLatin1String("c") || code == QLatin1String("posix"))
        return {};
    return code;
}

} // namespace

QStringList interfaceLanguages() { return {kJapanese}; }

QString chooseLanguage(const QProcessEnvironment &environment, const QStringList &available) {
    QString locale;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = environment.value(QLatin1String(name));
        if (!locale.isEmpty())
            break;
    }
    QStringList wanted;
    if (!languageOf(locale).isEmpty())
        wanted = environment.value(QStringLiteral("LANGUAGE")).split(u':', Qt::SkipEmptyParts);
    wanted << locale;
    for (const QString &entry : wanted) {
        const QString code = languageOf(entry);
        if (!code.isEmpty() && available.contains(code))
            return code;
    }
    return kJapanese;
}

bool installToolkitTranslation(QCoreApplication &app, const QString &language) {
    if (language == QLatin1String("en"))
        return true; // Qt's own texts are English
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_") + language,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace language
