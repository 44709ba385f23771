// The user's private folder for transient files that hold plaintext (the temporary archive of a
// compressed encryption), and one fresh folder inside it per job. The output folder may be shared
// (/tmp, a group folder), so nothing of the plaintext is ever staged there.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>
#include <utility>

namespace privatefolder {

// Where the private folder belongs: $XDG_RUNTIME_DIR/tolvex when runtimeDir is absolute and
// names an existing folder (not a link) owned by this user that neither group nor others may
// write; else cacheHome/tolvex when cacheHome is absolute; else home/.cache/tolvex (the
// password database's home when home is not absolute either). Values are as the environment
// has them, empty when unset.
QByteArray choose(const QByteArray &runtimeDir, const QByteArray &cacheHome,
                  const QByteArray &home);

// Makes the folder (parents too, new ones 0700) and checks it on an opened descriptor: a
// folder, not a link, owned by this user; any other mode than 0700 is set back to 0700. Nothing
// when the folder cannot be made or is not ours.
std::optional<QByteArray> secure(const QByteArray &folder);

// The private folder chosen from this process's environment and secured.
std::optional<QByteArray> fromEnvironment();

// A fresh folder (0700) of one job inside a private folder, removed with all it holds when the
// object goes, whatever the job's outcome.
class JobFolder {
  public:
    // Nothing when the private folder is not safe or no folder can be made in it.
    static std::optional<JobFolder> make(const QByteArray &privateFolder);
    static std::optional<JobFolder> make() {
        const auto folder = fromEnvironment();
        return folder ? make(*folder) : std::nullopt;
    }

    JobFolder(JobFolder &&other) noexcept : m_path(std::exchange(other.m_path, {})) {}
    // The folder held before goes with the moved-from object.
    JobFolder &operator=(JobFolder &&other) noexcept {
        std::swap(m_path, other.m_path);
        return *this;
    }
    JobFolder(const JobFolder &) = delete;
    ~JobFolder();

    QString path() const { return QFile::decodeName(m_path); }
    // The temporary archive's place.
    QString archive() const { return path() + QStringLiteral("/temp.lzh"); }

  private:
    explicit JobFolder(QByteArray path) : m_path(std::move(path)) {}
    QByteArray m_path;
};

} // namespace privatefolder
