// The window's commands, each handed to the workflow in one line, and what the workflow asks of
// the window around a message and a job.
#include "form1.h"
#include "platform.h"

#include <QCheckBox>
#include <QRadioButton>

int Form1::ShowMessage(const texts::Text &prompt, int style, const texts::Text &title) {
    return m_workflow.ShowMessage(prompt, style, title);
}

void Form1::StartCommand() {
    m_workflow.StartCommand({Text3->text(), Text1->text(), Text4->text(), Text2->text(),
                             static_cast<int16_t>(selectedKind()), m_mode, lzh_ch->isChecked(),
                             strong_ch->isChecked()});
}

QWidget *Form1::beforeMessage() {
    show();
    platform::takeOffTop(this);
    return this;
}

void Form1::afterMessage() {
    if (Check1->isChecked())
        platform::putOnTop(this);
}

void Form1::hideForJob() {
    hide();
}

void Form1::showAfterJob() {
    show();
    if (Check1->isChecked())
        platform::putOnTop(this);
}
