#include "message.h"

#include "rules.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

int DialogPresenter::present(QWidget *window, const texts::Text &prompt, int style,
                             const texts::Text &title) {
    QMessageBox box(window);
    box.setWindowTitle(title.shown());
    // Lines are kept apart by a lone carriage return; on screen each is a line of its own.
    box.setText(prompt.shown().replace(u'\r', u'\n'));
    switch (style & 0xF0) {
    case rules::kIconStop:
        box.setIcon(QMessageBox::Critical);
        break;
    case rules::kIconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case rules::kIconExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case rules::kIconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }
    switch (style & 0x0F) {
    case rules::kOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case rules::kYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    // In front of every other window, as the user must answer before anything goes on.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.show();
    box.raise();
    box.activateWindow();
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return rules::kAnswerCancel;
    case QMessageBox::Yes:
        return rules::kAnswerYes;
    case QMessageBox::No:
        return rules::kAnswerNo;
    default:
        return rules::kAnswerOk;
    }
}

std::optional<QString> DialogPresenter::askPassphrase(QWidget *window, const texts::Text &prompt,
                                                      const texts::Text &title) {
    QInputDialog box(window);
    box.setWindowTitle(title.shown());
    box.setLabelText(prompt.shown().replace(u'\r', u'\n'));
    box.setTextEchoMode(QLineEdit::Password);
    box.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.show();
    box.raise();
    box.activateWindow();
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}
