// How message boxes reach the user. The window's ShowMessage is the only caller; the real
// presenter shows a modal box, tests put in one that answers from a script.
#pragma once

#include "texts.h"

#include <optional>

class QWidget;

class MessagePresenter {
  public:
    virtual ~MessagePresenter() = default;
    // Shows one message and returns the answer (1 OK, 2 Cancel, 6 Yes, 7 No).
    virtual int present(QWidget *window, const texts::Text &prompt, int style,
                        const texts::Text &title) = 0;
    // Asks for a passphrase, shown as dots; nothing when the user cancels.
    virtual std::optional<QString> askPassphrase(QWidget *window, const texts::Text &prompt,
                                                 const texts::Text &title) = 0;
};

// A modal QMessageBox with the style's buttons and icon, brought to the foreground.
class DialogPresenter : public MessagePresenter {
  public:
    int present(QWidget *window, const texts::Text &prompt, int style,
                const texts::Text &title) override;
    std::optional<QString> askPassphrase(QWidget *window, const texts::Text &prompt,
                                         const texts::Text &title) override;
};
