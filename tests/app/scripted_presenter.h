// Stands in for the message box: answers from a script and records every message, with what
// the window looked like at that moment.
#pragma once

#include "message.h"
#include "platform.h"
#include "rules.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

struct ShownMessage {
    QString text;
    int style;
    QString title;
    bool windowVisible;
    bool windowOnTop;
    QString windowTitle;
};

class ScriptedPresenter : public MessagePresenter {
  public:
    int present(QWidget *window, const texts::Text &prompt, int style,
                const texts::Text &title) override {
        shown.append({prompt.source(), style, title.source(), window->isVisible(),
                      platform::isOnTop(window), window->windowTitle()});
        if (whileShown)
            whileShown(prompt.source());
        if (!answers.isEmpty())
            return answers.takeFirst();
        // A question nobody scripted is a test that did not expect it.
        if ((style & 0x0F) != rules::kOk)
            unscriptedQuestions++;
        return (style & 0x0F) == rules::kYesNo      ? rules::kAnswerNo
               : (style & 0x0F) == rules::kOkCancel ? rules::kAnswerCancel
                                                    : rules::kAnswerOk;
    }
    // A passphrase question: recorded with the prompt, answered from `passphrases` (nothing,
    // the user's cancel, when the script has no more).
    std::optional<QString> askPassphrase(QWidget *, const texts::Text &prompt,
                                         const texts::Text &) override {
        asked << prompt.source();
        return passphrases.isEmpty() ? std::nullopt : passphrases.takeFirst();
    }
    QStringList texts() const {
        QStringList t;
        for (const auto &m : shown)
            t << m.text;
        return t;
    }

    // Looks at the world while a message is up, in the middle of the job that shows it.
    std::function<void(const QString &prompt)> whileShown;
    QList<int> answers;
    QList<std::optional<QString>> passphrases;
    QStringList asked;
    QList<ShownMessage> shown;
    int unscriptedQuestions = 0;
};
