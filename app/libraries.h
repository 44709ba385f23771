// The functions the program takes from the codec library and the archiver library. Each is
// bound by library file name and function name at its own first call and kept for the run.
// A function that cannot be bound gives nothing, and the caller decides what that means.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

class Libraries {
  public:
    Libraries(QString codecFile, QString archiverFile, QString programFolder);
    ~Libraries();
    Libraries(const Libraries &) = delete;
    Libraries &operator=(const Libraries &) = delete;

    std::optional<int32_t> MakeCode(const QString &source, const QString &outputBase,
                                    int32_t keyCode, int32_t mode, int32_t kind,
                                    int32_t bufferSize);
    std::optional<uint32_t> FindLzh();
    std::optional<uint32_t> GetMemDat(uint32_t index);
    std::optional<int32_t> Unlha(const QString &commandLine);
    std::optional<int32_t> UnlhaGetRunning();

    const QString &codecFile() const { return m_codecFile; }

  private:
    void *bind(const QString &file, const char *function);

    QString m_codecFile;
    QString m_archiverFile;
    QString m_programFolder;
    std::map<std::pair<QString, std::string>, void *> m_bound;
    std::map<QString, void *> m_loaded;
};
