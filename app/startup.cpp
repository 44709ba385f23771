// Start-up: one copy only, the libraries and Tolvex.dat (checked by the workflow), the
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
    const auto archiverFound = m_workflow.CheckLibraries(m_config.workingFolder);
    if (!archiverFound) {
        hide();
        return false;
    }
    m_archiverFound = *archiverFound;
    if (!m_archiverFound) {
        lzh_ch->hide();
        lzh_ch->setChecked(false);
        LzhChChange(); // runs even when the box was already clear
        lzh_lb->show();
        fitCaptions(); // the label is wider than the box it stands for
    }
    showCaption(texts::Text::verbatim(texts::kIdleCaption));
    m_mode = rules::Mode::Encrypt;
    m_customLocation = false;
    setWidthTwips(kCollapsedWidth);
    m_dragging = false;
    platform::putOnTop(this);
    m_currentFolder = m_config.programFolder;
    if (m_currentFolder.endsWith(u'/')) // the root folder: "" + "/temp" is "/temp"
        m_currentFolder.chop(1);
    // The panel's lists start at the program's folder without moving m_currentFolder.
    {
        const QSignalBlocker quiet(Dir1);
        Dir1->setPath(m_config.programFolder);
    }
    fillDrives();
    LoadSettings();
    return true;
}
