#include "folder_list.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <algorithm>

namespace {
constexpr int kPathRole = Qt::UserRole;
}

FolderList::FolderList(QWidget *parent) : QListWidget(parent) {
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { setPath(item->data(kPathRole).toString()); });
}

bool FolderList::setPath(const QString &folder) {
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir())
        return false;
    // A folder that cannot be listed still becomes current: its ancestors stay reachable.
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    const bool changed = clean != m_path;
    m_path = clean;
    refill();
    if (changed)
        emit pathChanged(m_path);
    return true;
}

void FolderList::refill() {
    clear();
    QStringList chain;
    for (QDir dir(m_path);;) {
        chain.prepend(dir.absolutePath());
        if (!dir.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &folder : chain) {
        const QString name = folder == QLatin1String("/") ? folder : QFileInfo(folder).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, u' ') + name, this);
        item->setData(kPathRole, folder);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QStringList children =
        QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &child : children) {
        auto *item = new QListWidgetItem(QString(depth * 2, u' ') + child, this);
        item->setData(kPathRole,
                      m_path == QLatin1String("/") ? u'/' + child : m_path + u'/' + child);
    }
}

void FolderList::fitWholeRows() {
    const bool probe = count() == 0;
    if (probe)
        addItem(QStringLiteral("/"));
    const int row = sizeHintForRow(0);
    if (probe)
        delete takeItem(0);
    if (row <= 0)
        return;
    const int frame = 2 * frameWidth();
    const int rows = std::max(1, (height() - frame) / row);
    resize(width(), frame + rows * row);
}
