// The functions the program takes from the codec library and the archiver library. Each is
// bound by library file and function name at its own first call and kept for the run. A bare
// file name is loaded from the program's folder until start-up chooses the codec library's file
// (chooseCodecFile); a function that cannot be bound gives nothing, and the caller decides what
// that means.
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

    // Start-up's choice of the codec library: the file beside the program when a regular file
    // of that name is there, else the one in fallbackFolder (the working folder). The copy
    // beside the program comes first because it is the one installed with it; a library in
    // whatever folder the program was started from must not stand in for it. From then on
    // exactly the chosen file is loaded, and a bare archiver name from the chosen file's folder,
    // where the codec library itself looks for the archiver first. False, with nothing changed,
    // when neither folder holds one.
    bool chooseCodecFile(const QString &fallbackFolder);

    const QString &codecFile() const { return m_codecFile; }

  private:
    void *bind(const QString &file, const char *function);

    QString m_codecFile;
    QString m_archiverFile;
    QString m_programFolder;
    std::map<std::pair<QString, std::string>, void *> m_bound;
    std::map<QString, void *> m_loaded;
};
