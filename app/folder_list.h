// A folder list as the classic folder list box shows one: the current folder's ancestors from
// the root down, the current folder open, and its subfolders below it. Double-clicking an entry
// (or pressing Enter on it) makes it the current folder.
#pragma once

#include <QListWidget>

class FolderList : public QListWidget {
    Q_OBJECT
  public:
    explicit FolderList(QWidget *parent);

    // The current folder, spelled without a trailing separator except for the root.
    QString path() const { return m_path; }
    // Shows the folder; false (and no change) when it is not a readable folder.
    bool setPath(const QString &folder);
    // Cuts the list's height down to a whole number of rows, so no row is shown cut in half.
    void fitWholeRows();

  signals:
    void pathChanged(const QString &path);

  private:
    void refill();
    QString m_path;
};
