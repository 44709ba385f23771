// A program folder of its own for each test: copies of the codec library, Tolvex.dat and,
// when asked, the archiver library, with the working directory set to it as the program runs.
#pragma once

#include "form1.h"
#include "scripted_presenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

class ProgramFolder {
  public:
    enum Parts { Codec = 1, Template = 2, Archiver = 4, All = 7 };

    explicit ProgramFolder(int parts = All) : m_oldWorking(QDir::currentPath()) {
        const QString bin = QStringLiteral(TOLVEX_BIN_DIR);
        if (parts & Codec)
            QFile::copy(bin + "/libHalvet_Tolvex.so", path("libHalvet_Tolvex.so"));
        if (parts & Template)
            QFile::copy(bin + "/Tolvex.dat", path("Tolvex.dat"));
        if (parts & Archiver)
            QFile::copy(bin + "/libunlha32.so", path("libunlha32.so"));
        QDir::setCurrent(m_dir.path());
    }
    ~ProgramFolder() { QDir::setCurrent(m_oldWorking); }

    QString path(const QString &name = {}) const {
        return name.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + name;
    }

    // A window bound to this folder's libraries, with a scripted presenter. The program is in
    // this folder too unless programFolder names another one.
    std::unique_ptr<Form1> makeWindow(std::shared_ptr<ScriptedPresenter> presenter,
                                      const QString &programFolder = {}) const {
        Form1::Config config;
        config.codecLibrary = QStringLiteral("libHalvet_Tolvex.so");
        config.archiverLibrary = QStringLiteral("libunlha32.so");
        config.programFolder = programFolder.isEmpty() ? m_dir.path() : programFolder;
        config.workingFolder = m_dir.path();
        return std::make_unique<Form1>(config, presenter);
    }

  private:
    QTemporaryDir m_dir;
    QString m_oldWorking;
};
