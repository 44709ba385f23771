// The settings file, Save.ini: whether to save at all, the window's position (in twips),
// compression, keep on top and the strong choice. Every key is read and written here.
#pragma once

#include <QString>
#include <optional>

namespace settings {

// Where the settings file of the program in `programFolder` lives (see ini::SettingsFolder).
QString filePath(const QString &programFolder);

// The saved settings as the window applies them; a value missing or unreadable in the file is
// nothing, and the control keeps what start-up gave it.
struct Saved {
    std::optional<bool> save;
    std::optional<double> top;  // twips
    std::optional<double> left; // twips
    std::optional<bool> lzh;
    std::optional<bool> topmost;
    std::optional<bool> strong;
};
Saved read(const QString &file);

// Each writes its keys one at a time, leaving the rest of the file as it was; a file that cannot
// be written is left alone.
void writeSave(const QString &file, bool save);
void writePosition(const QString &file, float topTwips, float leftTwips);
void writeChoices(const QString &file, bool lzh, bool topmost, bool strong);

} // namespace settings
