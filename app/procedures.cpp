// The design-named procedures that the workflow carries out, each handed over in one line, and
// what the workflow asks of the window around a message and a job.
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

int Form1::EncryptFile(const QString &input, const QString &outputBase, int32_t keyCode, int mode,
                       int16_t kind) {
    return m_workflow.EncryptFile(input, outputBase, keyCode, mode, kind, lzh_ch->isChecked());
}

int Form1::DecryptFile(const QString &input, const QString &outputBase, int32_t keyCode, int mode,
                       int16_t /*kind: the engine recognises the disguise itself*/) {
    return m_workflow.DecryptFile(input, outputBase, keyCode, mode);
}

int32_t Form1::GetBufferSize(const QString &path) {
    return m_workflow.GetBufferSize(path);
}

bool Form1::WaitUnlhaFree() {
    return m_workflow.WaitUnlhaFree();
}

int16_t Form1::PackLzh(const QString &input, const QString &archive) {
    return m_workflow.PackLzh(input, archive);
}

int16_t Form1::UnpackLzh(const QString &archive) {
    return m_workflow.UnpackLzh(archive);
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
