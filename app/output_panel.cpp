// The output location panel: a folder and a name for the output, chosen beside the main area.
#include "folder_list.h"
#include "form1.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

std::optional<QString> Form1::inputFolder() const {
    // Only an existing file counts; the folder is what is left after cutting as many characters
    // as the dropped name has, even if the box was edited since.
    if (!QFileInfo(Text1->text()).isFile())
        return std::nullopt;
    return Text1->text().left(Text1->text().size() - m_droppedName.size());
}

void Form1::Command2Click() {
    setWidthTwips(kExpandedWidth);
    m_customLocation = true;
    if (const auto folder = inputFolder())
        Dir1->setPath(*folder);
}

void Form1::Command3Click() {
    m_customLocation = false;
    if (const auto folder = inputFolder())
        Text4->setText(*folder + Text2->text());
}

void Form1::OkBotClick() {
    setWidthTwips(kCollapsedWidth);
    Text4->setText(m_currentFolder + u'/' + Text2->text());
}

void Form1::CanBotClick() {
    setWidthTwips(kCollapsedWidth);
    m_customLocation = false;
}

void Form1::fillDrives() {
    const QSignalBlocker quiet(Drive1);
    Drive1->clear();
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && !roots.contains(volume.rootPath()))
            roots << volume.rootPath();
    roots.sort();
    Drive1->addItems(roots);
    // The volume that holds the list's folder is the one shown.
    Drive1->setCurrentText(QStorageInfo(Dir1->path()).rootPath());
}

void Form1::Drive1Change() {
    // A volume that cannot be read leaves the lists where they were.
    if (!Dir1->setPath(Drive1->currentText()) || !QFileInfo(Drive1->currentText()).isReadable()) {
        const QSignalBlocker quiet(Drive1);
        Drive1->setCurrentText(QStorageInfo(Dir1->path()).rootPath());
    }
}

void Form1::Dir1Change() {
    m_currentFolder = Dir1->path();
}
