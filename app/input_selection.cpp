// Mode and input selection: the mode buttons, the compression switch and the drop handler.
#include "form1.h"
#include "language.h"
#include "rules.h"
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
    label[7]->setVisible(decrypt);
    setCaption(label[1], rules::inputLabel(!decrypt && lzh_ch->isChecked()));
    setCaption(label[2], rules::outputLabel(m_mode));
}

void Form1::LzhChChange() {
    setCaption(label[1], rules::inputLabel(lzh_ch->isChecked()));
    Text1->setText(texts::kDropPrompt.shown());
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
