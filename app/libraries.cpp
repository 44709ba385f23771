#include "libraries.h"

#include "platform.h"

#include <QFile>
#include <QFileInfo>

Libraries::Libraries(QString codecFile, QString archiverFile, QString programFolder)
    : m_codecFile(std::move(codecFile)), m_archiverFile(std::move(archiverFile)),
      m_programFolder(std::move(programFolder)) {}

Libraries::~Libraries() {
    for (auto &[file, library] : m_loaded)
        platform::unloadLibrary(library);
}

bool Libraries::chooseCodecFile(const QString &fallbackFolder) {
    QStringList candidates;
    if (m_codecFile.contains(u'/')) {
        candidates << m_codecFile;
    } else {
        if (!m_programFolder.isEmpty())
            candidates << m_programFolder + u'/' + m_codecFile;
        candidates << fallbackFolder + u'/' + m_codecFile;
    }
    for (const QString &candidate : candidates) {
        if (!QFileInfo(candidate).isFile())
            continue;
        m_codecFile = candidate;
        if (!m_archiverFile.contains(u'/'))
            m_archiverFile = QFileInfo(candidate).path() + u'/' + m_archiverFile;
        return true;
    }
    return false;
}

void *Libraries::bind(const QString &file, const char *function) {
    const auto key = std::make_pair(file, std::string(function));
    if (auto it = m_bound.find(key); it != m_bound.end() && it->second)
        return it->second;
    void *&library = m_loaded[file];
    if (!library)
        library = platform::loadLibrary(file, m_programFolder);
    void *address = platform::findFunction(library, function);
    if (address)
        m_bound[key] = address;
    return address;
}

std::optional<int32_t> Libraries::MakeCode(const QString &source, const QString &outputBase,
                                           int32_t keyCode, int32_t mode, int32_t kind,
                                           int32_t bufferSize) {
    using Fn = int32_t (*)(const char *, const char *, uint32_t, int32_t, int32_t, int32_t);
    auto fn = reinterpret_cast<Fn>(bind(m_codecFile, "MakeCode"));
    if (!fn)
        return std::nullopt;
    return fn(QFile::encodeName(source).constData(), QFile::encodeName(outputBase).constData(),
              uint32_t(keyCode), mode, kind, bufferSize);
}

std::optional<uint32_t> Libraries::FindLzh() {
    auto fn = reinterpret_cast<uint32_t (*)()>(bind(m_codecFile, "FindLzh"));
    if (!fn)
        return std::nullopt;
    return fn();
}

std::optional<uint32_t> Libraries::GetMemDat(uint32_t index) {
    auto fn = reinterpret_cast<uint32_t (*)(uint32_t)>(bind(m_codecFile, "GetMemDat"));
    if (!fn)
        return std::nullopt;
    return fn(index);
}

std::optional<int32_t> Libraries::Unlha(const QString &commandLine) {
    // The archiver's own declaration: int Unlha(HWND, LPCSTR, LPSTR, DWORD) on Windows.
    using Fn = int (*)(void *, const char *, char *, unsigned long);
    auto fn = reinterpret_cast<Fn>(bind(m_archiverFile, "Unlha"));
    if (!fn)
        return std::nullopt;
    char output[1] = {0};
    return fn(nullptr, QFile::encodeName(commandLine).constData(), output, 0);
}

std::optional<int32_t> Libraries::UnlhaGetRunning() {
    auto fn = reinterpret_cast<int (*)()>(bind(m_archiverFile, "UnlhaGetRunning"));
    if (!fn)
        return std::nullopt;
    return fn();
}
