// The window's controls as a test reaches them: by their object names, the way an
// accessibility tool or a user script would, so the window keeps them to itself.
#pragma once

#include "folder_list.h"
#include "form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtGlobal>

// The window's control of that name and type; a name that no longer finds one ends the test
// run, since every later check would be meaningless.
template <typename T> T *control(const QWidget &form, const QString &name) {
    T *found = form.findChild<T *>(name);
    if (!found)
        qFatal("the window has no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}
