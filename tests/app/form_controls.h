// The window's controls as a test reaches them: by their object names, the way an
// accessibility tool or a user script would, so the window keeps them to itself.
#pragma once

#include "folder_list.h"
#include "form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtGlobal>
#include <array>

struct FormControls {
    DropLineEdit *Text1;
    QLineEdit *Text2;
    KeyLineEdit *Text3;
    QLineEdit *Text4;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command3;
    QPushButton *OK_BOT;
    QPushButton *Can_BOT;
    std::array<QRadioButton *, 2> Option1;
    QCheckBox *lzh_ch;
    QCheckBox *strong_ch;
    QLabel *lzh_lb;
    QCheckBox *Check1;
    QCheckBox *Check2;
    QGroupBox *Frame1;
    std::array<QRadioButton *, tolvex::kKindCount> inpmode;
    std::array<QLabel *, 8> label;
    QComboBox *Drive1;
    FolderList *Dir1;
    std::array<QFrame *, 6> Line;
};

// Every control of the window; a name that no longer finds its control ends the test run,
// since every later check would be meaningless.
template <typename T> T *namedControl(const Form1 &form, const QString &name) {
    T *control = form.findChild<T *>(name);
    if (!control)
        qFatal("the window has no control named %s", qPrintable(name));
    return control;
}

inline FormControls controls(const Form1 &form) {
    FormControls c{};
    c.Text1 = namedControl<DropLineEdit>(form, QStringLiteral("Text1"));
    c.Text2 = namedControl<QLineEdit>(form, QStringLiteral("Text2"));
    c.Text3 = namedControl<KeyLineEdit>(form, QStringLiteral("Text3"));
    c.Text4 = namedControl<QLineEdit>(form, QStringLiteral("Text4"));
    c.Command1 = namedControl<QPushButton>(form, QStringLiteral("Command1"));
    c.Command2 = namedControl<QPushButton>(form, QStringLiteral("Command2"));
    c.Command3 = namedControl<QPushButton>(form, QStringLiteral("Command3"));
    c.OK_BOT = namedControl<QPushButton>(form, QStringLiteral("OK_BOT"));
    c.Can_BOT = namedControl<QPushButton>(form, QStringLiteral("Can_BOT"));
    for (int i = 0; i < 2; ++i)
        c.Option1[static_cast<size_t>(i)] =
            namedControl<QRadioButton>(form, QStringLiteral("Option1_%1").arg(i));
    c.lzh_ch = namedControl<QCheckBox>(form, QStringLiteral("lzh_ch"));
    c.strong_ch = namedControl<QCheckBox>(form, QStringLiteral("strong_ch"));
    c.lzh_lb = namedControl<QLabel>(form, QStringLiteral("lzh_lb"));
    c.Check1 = namedControl<QCheckBox>(form, QStringLiteral("Check1"));
    c.Check2 = namedControl<QCheckBox>(form, QStringLiteral("Check2"));
    c.Frame1 = namedControl<QGroupBox>(form, QStringLiteral("Frame1"));
    for (int i = 0; i < tolvex::kKindCount; ++i)
        c.inpmode[static_cast<size_t>(i)] =
            namedControl<QRadioButton>(form, QStringLiteral("inpmode_%1").arg(i));
    for (int i = 0; i < 8; ++i)
        c.label[static_cast<size_t>(i)] =
            namedControl<QLabel>(form, QStringLiteral("label_%1").arg(i));
    c.Drive1 = namedControl<QComboBox>(form, QStringLiteral("Drive1"));
    c.Dir1 = namedControl<FolderList>(form, QStringLiteral("Dir1"));
    for (int i = 0; i < 6; ++i)
        c.Line[static_cast<size_t>(i)] =
            namedControl<QFrame>(form, QStringLiteral("Line%1").arg(i + 1));
    return c;
}
