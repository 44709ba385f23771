// The settings file: whether to save at all, the window's position, compression, keep on top.
#include "form1.h"
#include "ini.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMoveEvent>
#include <QShowEvent>
#include <cmath>

namespace {

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

QString shortest(float v) {
    return QString::number(double(v), 'g', 9);
}

} // namespace

QString Form1::settingsFile() const {
    return ini::IniPath(ini::SettingsFolder(m_config.programFolder)) + QStringLiteral("Save.ini");
}

void Form1::SaveSettings() {
    const QString file = settingsFile();
    const auto write = [&](const char *section, const char *key, const QString &value) {
        LastAnswer = ini::WriteIni(file, QLatin1String(section), QLatin1String(key), value);
    };
    write("Save", "Save", Check2->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (!Check2->isChecked())
        return;
    // On a first start the window has no position of its own until it is shown or moved.
    if (m_firstPosition != FirstPosition::WhenShown || testAttribute(Qt::WA_Moved))
        savePosition();
    write("Save", "Lzh", lzh_ch->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    write("Save", "TOPMOST", Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::savePosition() {
    const QString file = settingsFile();
    LastAnswer = ini::WriteIni(file, QStringLiteral("Pos"), QStringLiteral("Top"),
                               shortest(std::round(pixelsToTwips(frameGeometry().top()))));
    LastAnswer = ini::WriteIni(file, QStringLiteral("Pos"), QStringLiteral("Left"),
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
    const auto read = [&](const char *section, const char *key) {
        return ini::ReadIni(file, QLatin1String(section), QLatin1String(key));
    };
    // A value that is missing or no number leaves the control as start-up set it.
    if (const auto save = checkValue(read("Save", "Save"))) {
        LastAnswer = int(*save);
        Check2->setChecked(*save);
    }
    if (!Check2->isChecked())
        return;
    const auto top = number(read("Pos", "Top"));
    if (top)
        move(x(), twipsToPixels(int(std::lround(*top))));
    if (const auto left = number(read("Pos", "Left")))
        move(twipsToPixels(int(std::lround(*left))), y());
    if (const auto lzh = checkValue(read("Save", "Lzh"))) {
        LastAnswer = int(*lzh);
        // Without the archiver library compression stays off and hidden.
        if (m_archiverFound)
            lzh_ch->setChecked(*lzh);
    }
    if (const auto topmost = checkValue(read("Save", "TOPMOST"))) {
        LastAnswer = int(*topmost);
        Check1->setChecked(*topmost);
    }
}
