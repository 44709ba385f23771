// The settings file's keys, read and written, and the window's side of them: applied at
// start-up, saved at shutdown and once the window first stands in its place.
#include "settings.h"
#include "form1.h"
#include "ini.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMoveEvent>
#include <QShowEvent>
#include <cmath>

namespace settings {
namespace {

const QString kFileName = QStringLiteral("Save.ini");
const QString kSaveSection = QStringLiteral("Save");
const QString kPosSection = QStringLiteral("Pos");
const QString kSaveKey = QStringLiteral("Save");
const QString kTopKey = QStringLiteral("Top");
const QString kLeftKey = QStringLiteral("Left");
const QString kLzhKey = QStringLiteral("Lzh");
const QString kTopmostKey = QStringLiteral("TOPMOST");
const QString kStrongKey = QStringLiteral("Strong");

// A setting as a number; nothing when the text is empty or no number (a hand-edited file).
std::optional<double> number(const QString &text) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// A check box's saved value: outside 0 to 1 counts as 1.
std::optional<bool> checkValue(const QString &text) {
    const auto v = number(text);
    if (!v)
        return std::nullopt;
    if (*v < 0 || *v > 1)
        return true;
    return std::nearbyint(*v) == 1;
}

// A position as the shortest text that reads back as the same float.
QString shortest(float v) {
    return QString::number(static_cast<double>(v), 'g', 9);
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

QString filePath(const QString &programFolder) {
    return ini::IniPath(ini::SettingsFolder(programFolder)) + kFileName;
}

Saved read(const QString &file) {
    Saved saved;
    saved.save = checkValue(ini::ReadIni(file, kSaveSection, kSaveKey));
    saved.top = number(ini::ReadIni(file, kPosSection, kTopKey));
    saved.left = number(ini::ReadIni(file, kPosSection, kLeftKey));
    saved.lzh = checkValue(ini::ReadIni(file, kSaveSection, kLzhKey));
    saved.topmost = checkValue(ini::ReadIni(file, kSaveSection, kTopmostKey));
    saved.strong = checkValue(ini::ReadIni(file, kSaveSection, kStrongKey));
    return saved;
}

void writeSave(const QString &file, bool save) {
    ini::WriteIni(file, kSaveSection, kSaveKey, flag(save));
}

void writePosition(const QString &file, float topTwips, float leftTwips) {
    ini::WriteIni(file, kPosSection, kTopKey, shortest(topTwips));
    ini::WriteIni(file, kPosSection, kLeftKey, shortest(leftTwips));
}

void writeChoices(const QString &file, bool lzh, bool topmost, bool strong) {
    ini::WriteIni(file, kSaveSection, kLzhKey, flag(lzh));
    ini::WriteIni(file, kSaveSection, kTopmostKey, flag(topmost));
    ini::WriteIni(file, kSaveSection, kStrongKey, flag(strong));
}

} // namespace settings

QString Form1::settingsFile() const {
    return settings::filePath(m_config.programFolder);
}

void Form1::SaveSettings() {
    const QString file = settingsFile();
    settings::writeSave(file, Check2->isChecked());
    if (!Check2->isChecked())
        return;
    // On a first start the window has no position of its own until it is shown or moved.
    if (m_firstPosition != FirstPosition::WhenShown || testAttribute(Qt::WA_Moved))
        savePosition();
    // The strong choice for encryption, whatever the box shows for a decrypted input.
    settings::writeChoices(file, lzh_ch->isChecked(), Check1->isChecked(), m_strongChosen);
}

void Form1::savePosition() {
    settings::writePosition(settingsFile(), std::round(pixelsToTwips(frameGeometry().top())),
                            std::round(pixelsToTwips(frameGeometry().left())));
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
    const settings::Saved saved = settings::read(file);
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
