// Mode and input selection: the mode buttons, the compression and strong switches and the drop
// handler.
#include "form1.h"
#include "language.h"
#include "rules.h"
#include "strong_jobs.h"
#include "texts.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

void Form1::Option1Click(int index) {
    Text1->setText(texts::kDropPrompt.shown());
    const bool decrypt = index == 1;
    m_mode = decrypt ? rules::Mode::Decrypt : rules::Mode::Encrypt;
    // The disguise and the compression choice keep their values while disabled.
    Frame1->setEnabled(!decrypt);
    for (QRadioButton *button : inpmode)
        button->setEnabled(!decrypt);
    lzh_ch->setEnabled(!decrypt);
    // Decrypting, the input says whether it is strong; encrypting, the user's choice is back.
    if (decrypt)
        recogniseInput();
    else
        showStrong(m_strongChosen);
    label[7]->setVisible(decrypt);
    setCaption(label[1], rules::inputLabel(!decrypt && lzh_ch->isChecked()));
    setCaption(label[2], rules::outputLabel(m_mode));
}

void Form1::LzhChChange() {
    setCaption(label[1], rules::inputLabel(lzh_ch->isChecked()));
    Text1->setText(texts::kDropPrompt.shown());
}

void Form1::StrongChChange() {
    if (m_mode == rules::Mode::Encrypt)
        m_strongChosen = strong_ch->isChecked();
    else if (!m_recognising)
        m_passphraseChosen = strong_ch->isChecked();
    Text3->setPassphraseMode(strong_ch->isChecked());
    setCaption(label[5], strong_ch->isChecked() ? texts::kPassphraseLabel : texts::kKeyLabel);
    setCaption(label[4], strong_ch->isChecked() ? texts::kPassphraseHint : texts::kKeyHint);
}

void Form1::showStrong(bool strong) {
    // A change of the box runs StrongChChange; the same state changes nothing.
    strong_ch->setChecked(strong);
}

void Form1::recogniseInput() {
    // A file of version 1 says it needs a passphrase; any other leaves the user's choice.
    strong::Preamble preamble;
    const QFileInfo input(Text1->text());
    const bool version1 =
        input.isFile() && strong::probeStrongFile(QFile::encodeName(input.filePath()).toStdString(),
                                                  preamble) == strong::Status::Ok;
    m_recognising = true;
    showStrong(version1 || m_passphraseChosen);
    m_recognising = false;
}

void Form1::Text1Drop(const QStringList &paths) {
    if (paths.isEmpty())
        return;
    m_droppedPath = paths.first();
    const bool encrypting = m_mode == rules::Mode::Encrypt;
    const bool folderClause = encrypting && lzh_ch->isChecked();
    // Any existing file counts, hidden and read-only ones included; a folder does not.
    const QFileInfo info(m_droppedPath);
    m_droppedName = info.isFile() ? info.fileName() : QString();

    const bool accepted =
        encrypting ? (!m_droppedName.isEmpty() || lzh_ch->isChecked()) : !m_droppedName.isEmpty();
    if (!accepted) {
        ShowMessage(encrypting ? texts::kDropAFileUncompressed : texts::kDropAFile,
                    rules::kIconExclamation, texts::kError);
        setCaption(label[1], rules::inputLabel(folderClause));
        return;
    }
    Text1->setText(m_droppedPath);
    if (!m_customLocation)
        Text4->setText(rules::splitPath(m_droppedPath).folder + Text2->text());
}
