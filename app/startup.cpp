// Start-up: one copy only, the codec library and Tolvex.dat in the working directory, the
// archiver's presence, the window's initial state and the saved settings.
#include "form1.h"
#include "platform.h"
#include "rules.h"
#include "texts.h"

#include "folder_list.h"
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QSignalBlocker>

bool Form1::Load(bool anotherCopyRunning) {
    if (anotherCopyRunning) {
        ShowMessage(texts::kAlreadyRunning, rules::kOk, texts::kError);
        return false;
    }
    // Both files are looked for where the engine will open them: the working directory.
    for (const QString &name : {texts::kCodecLibraryFile, texts::kTemplateFile}) {
        if (!QFileInfo(m_config.workingFolder + u'/' + name).isFile()) {
            ShowMessage(texts::missingFile(name), rules::kIconStop, name);
            hide();
            return false;
        }
    }
    // The first call into the codec library: one that is there but cannot be loaded (damaged,
    // made for another system) is as good as missing, and is said so now rather than at START.
    const auto archiverVersion = libraries().FindLzh();
    if (!archiverVersion) {
        ShowMessage(texts::missingFile(texts::kCodecLibraryFile), rules::kIconStop,
                    texts::kCodecLibraryFile);
        hide();
        return false;
    }
    m_archiverFound = *archiverVersion != 0;
    if (!m_archiverFound) {
        lzh_ch->hide();
        lzh_ch->setChecked(false);
        LzhChChange(); // runs even when the box was already clear
        lzh_lb->show();
    }
    setWindowTitle(texts::kIdleCaption);
    m_mode = rules::Mode::Encrypt;
    CustomLocation = false;
    setWidthTwips(kCollapsedWidth);
    Dragging = false;
    platform::putOnTop(this);
    CurrentFolder = m_config.programFolder;
    if (CurrentFolder.endsWith(u'/')) // the root folder: "" + "/temp" is "/temp"
        CurrentFolder.chop(1);
    // The panel's lists start at the program's folder without moving CurrentFolder.
    {
        const QSignalBlocker quiet(Dir1);
        Dir1->setPath(m_config.programFolder);
    }
    fillDrives();
    LoadSettings();
    return true;
}
