// The settings file: whether to save at all, the window's position, compression, keep on top.
#include "form1.h"
#include "ini.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMoveEvent>
#include <QShowEvent>
#include <cmath>

namespace {

QString shortest(float v) {
    return QString::number(static_cast<double>(v), 'g', 9);
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

QString Form1::settingsFile() const {
    return ini::IniPath(ini::SettingsFolder(m_config.programFolder)) + QStringLiteral("Save.ini");
}

void Form1::SaveSettings() {
    const QString file = settingsFile();
    m_workflow.WriteSetting(file, "Save", "Save", flag(Check2->isChecked()));
    if (!Check2->isChecked())
        return;
    // On a first start the window has no position of its own until it is shown or moved.
    if (m_firstPosition != FirstPosition::WhenShown || testAttribute(Qt::WA_Moved))
        savePosition();
    m_workflow.WriteSetting(file, "Save", "Lzh", flag(lzh_ch->isChecked()));
    m_workflow.WriteSetting(file, "Save", "TOPMOST", flag(Check1->isChecked()));
    // The choice for encryption, whatever the box shows for a decrypted input.
    m_workflow.WriteSetting(file, "Save", "Strong", flag(m_strongChosen));
}

void Form1::savePosition() {
    const QString file = settingsFile();
    m_workflow.WriteSetting(file, "Pos", "Top",
                            shortest(std::round(pixelsToTwips(frameGeometry().top()))));
    m_workflow.WriteSetting(file, "Pos", "Left",
                            shortest(std::round(pixelsToTwips(frameGeometry().left()))));
}

// On a first start the window system chooses where a new window goes; the position is written
// once the window stands there (and again at every shutdown).
void Form1::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    showTitle(); // the native window now exists
    if (m_firstPosition == FirstPosition::WhenShown)
        m_firstPosition = FirstPosition::WhenPlaced;
}

void Form1::moveEvent(QMoveEvent *event) {
    QWidget::moveEvent(event);
    if (m_firstPosition != FirstPosition::WhenPlaced || !isVisible())
        return;
    m_firstPosition = FirstPosition::NotWanted;
    if (Check2->isChecked())
        savePosition();
}

void Form1::LoadSettings() {
    const QString file = settingsFile();
    if (!QFileInfo(file).isFile()) {
        // Written without a position, so none is applied below: the window is not moved.
        m_firstPosition = FirstPosition::WhenShown;
        SaveSettings();
    }
    const SavedSettings saved = m_workflow.ReadSettings(file);
    // A value that is missing or no number leaves the control as start-up set it.
    if (saved.save)
        Check2->setChecked(*saved.save);
    if (!Check2->isChecked())
        return;
    if (saved.top)
        move(x(), twipsToPixels(static_cast<int>(std::lround(*saved.top))));
    if (saved.left)
        move(twipsToPixels(static_cast<int>(std::lround(*saved.left))), y());
    // Without the archiver library compression stays off and hidden.
    if (saved.lzh && m_archiverFound)
        lzh_ch->setChecked(*saved.lzh);
    if (saved.topmost)
        Check1->setChecked(*saved.topmost);
    if (saved.strong) {
        m_strongChosen = *saved.strong;
        if (m_mode == rules::Mode::Encrypt)
            showStrong(*saved.strong);
    }
}
