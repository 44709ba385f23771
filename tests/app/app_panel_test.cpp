// The output location panel and the window's behaviour: dragging and keeping on top.
#include "folder_list.h"
#include "form_controls.h"
#include "platform.h"
#include "program_folder.h"
#include "scripted_presenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>

namespace {

// A drop arrives after the drag entered the box, which makes the box the drop's target.
void dropOn(QWidget *target, const QString &path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

void touch(const QString &path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// A mouse event at a point of the screen, delivered to `target` in its own coordinates, as the
// window system delivers it to the control that holds the press.
void mouse(QWidget *target, QEvent::Type type, QPoint global, Qt::MouseButton button) {
    const QPointF local = target->mapFromGlobal(QPointF(global));
    QMouseEvent event(type, local, QPointF(global), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button),
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<Form1> form;

    // The outer width: the frame the window system draws counts in.
    // The width the program set, held as the window's least and greatest size alike.
    bool hasWidth(int twips) const {
        const int pixels = form->twipsToPixels(twips);
        return form->width() == pixels && form->minimumWidth() == pixels &&
               form->maximumWidth() == pixels;
    }
    bool expanded() const { return hasWidth(Form1::kExpandedWidth); }
    bool collapsed() const { return hasWidth(Form1::kCollapsedWidth); }

  private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        form = folder->makeWindow(std::make_shared<ScriptedPresenter>());
        QVERIFY(form->Load(false));
        form->show();
        QDir(folder->path()).mkpath("docs/inner");
        touch(folder->path("docs/report.doc"));
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
    }
    void cleanup() {
        form.reset();
        folder.reset();
    }

    void browseWithAFileMovesTheListsToItsFolder() {
        QVERIFY(collapsed());
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/report.doc"));
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), folder->path("docs/report.doc"));
        control<QPushButton>(*form, "Command2")->click();
        QVERIFY(expanded());
        QCOMPARE(control<FolderList>(*form, "Dir1")->path(), folder->path("docs"));
        control<QLineEdit>(*form, "Text2")->setText("secret");
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(),
                 folder->path("docs/Tolvex")); // nothing until OK
        control<QPushButton>(*form, "OK_BOT")->click();
        QVERIFY(collapsed());
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/secret"));
        // The location is the user's own now: a later drop leaves it.
        touch(folder->path("docs/inner/other.txt"));
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/inner/other.txt"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/secret"));
    }

    void browseWithAFolderLeavesTheListsAlone() {
        control<QCheckBox>(*form, "lzh_ch")->setChecked(true);
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs"));
        const QString before = control<FolderList>(*form, "Dir1")->path();
        control<QPushButton>(*form, "Command2")->click();
        QVERIFY(expanded());
        QCOMPARE(control<FolderList>(*form, "Dir1")->path(), before);
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("Tolvex"));
    }

    void okWithoutTouchingTheListsUsesTheCurrentFolder() {
        control<QPushButton>(*form, "Command2")->click();
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("Tolvex"));
    }

    void okAtTheRootDoublesTheSeparator() {
        control<QPushButton>(*form, "Command2")->click();
        QVERIFY(control<FolderList>(*form, "Dir1")->setPath("/"));
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(),
                 QString("//Tolvex")); // the system reads it as /Tolvex
    }

    void choosingAFolderInTheList() {
        control<QPushButton>(*form, "Command2")->click();
        QVERIFY(control<FolderList>(*form, "Dir1")->setPath(folder->path("docs")));
        const auto items =
            control<FolderList>(*form, "Dir1")->findItems("inner", Qt::MatchEndsWith);
        QCOMPARE(items.size(), 1);
        emit control<FolderList>(*form, "Dir1")->itemActivated(items[0]);
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/inner/Tolvex"));
        // Ancestors are listed above: going up works the same way.
        emit control<FolderList>(*form, "Dir1")
            ->itemActivated(control<FolderList>(*form, "Dir1")->item(0));
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), QString("//Tolvex"));
    }

    void unreadableVolumeKeepsTheListsUsable() {
        control<QPushButton>(*form, "Command2")->click();
        const QString before = control<FolderList>(*form, "Dir1")->path();
        control<QComboBox>(*form, "Drive1")->addItem("/no/such/volume");
        control<QComboBox>(*form, "Drive1")->setCurrentText("/no/such/volume");
        form->Drive1Change();
        QCOMPARE(control<FolderList>(*form, "Dir1")->path(), before);
        QVERIFY(control<FolderList>(*form, "Dir1")->count() > 0);
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("Tolvex"));
    }

    void dropsAfterOkAndAfterCancel() {
        touch(folder->path("docs/inner/other.txt"));
        control<QPushButton>(*form, "Command2")->click();
        control<QPushButton>(*form, "OK_BOT")->click();
        const QString chosen = control<QLineEdit>(*form, "Text4")->text();
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/report.doc"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), chosen);

        control<QPushButton>(*form, "Command2")->click();
        control<QPushButton>(*form, "Can_BOT")->click();
        QVERIFY(collapsed());
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/inner/other.txt"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/inner/Tolvex"));
    }

    void defaultButtonGoesBackBesideTheInput() {
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/report.doc"));
        control<QPushButton>(*form, "Command2")->click();
        control<QPushButton>(*form, "OK_BOT")->click();
        control<QPushButton>(*form, "Command2")->click();
        control<QLineEdit>(*form, "Text2")->setText("again");
        control<QPushButton>(*form, "Command3")->click();
        QVERIFY(expanded()); // the panel stays open
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/again"));
        // With no file in the input box the output box keeps its text.
        control<QLineEdit>(*form, "Text1")->setText(folder->path("docs"));
        control<QLineEdit>(*form, "Text2")->setText("x");
        control<QPushButton>(*form, "Command3")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/again"));
        // The location is beside the input again: a drop moves it.
        dropOn(control<QLineEdit>(*form, "Text1"), folder->path("docs/report.doc"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("docs/x"));
    }

    void theFolderListShowsWholeRows() {
        QDir(folder->path()).mkpath("a/b/c/d/e/f");
        control<FolderList>(*form, "Dir1")->setPath(folder->path("a/b/c"));
        control<QPushButton>(*form, "Command2")->click();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const int row = control<FolderList>(*form, "Dir1")->sizeHintForRow(0);
        QVERIFY(row > 0);
        QVERIFY(control<FolderList>(*form, "Dir1")->count() * row >
                control<FolderList>(*form, "Dir1")->viewport()->height()); // it scrolls
        QCOMPARE(control<FolderList>(*form, "Dir1")->viewport()->height() % row, 0);
        QVERIFY(control<FolderList>(*form, "Dir1")->viewport()->height() / row >= 4);
        // Scrolled to the end, the last folder is shown whole too.
        control<FolderList>(*form, "Dir1")->scrollToBottom();
        const QRect last =
            control<FolderList>(*form, "Dir1")
                ->visualItemRect(control<FolderList>(*form, "Dir1")
                                     ->item(control<FolderList>(*form, "Dir1")->count() - 1));
        QCOMPARE(last.bottom(), control<FolderList>(*form, "Dir1")->viewport()->rect().bottom());
    }

    void theFrameBorderRunsAboveTheDisguiseButtons() {
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QStyleOptionGroupBox option;
        option.initFrom(control<QGroupBox>(*form, "Frame1"));
        option.text = control<QGroupBox>(*form, "Frame1")->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.lineWidth = 1;
        const QStyle *style = control<QGroupBox>(*form, "Frame1")->style();
        const QRect frame =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame,
                                  control<QGroupBox>(*form, "Frame1"));
        const QRect caption =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                  control<QGroupBox>(*form, "Frame1"));
        const QRect first = control<QRadioButton>(*form, "inpmode_0")->geometry();
        QVERIFY2(
            frame.top() < first.top(),
            qPrintable(
                QString("border at %1, first button at %2").arg(frame.top()).arg(first.top())));
        QVERIFY(caption.bottom() < first.top());
        QVERIFY(!caption.intersects(first));
        // Every disguise button lies inside the frame.
        for (int kind = 0; kind < tolvex::kKindCount; ++kind)
            QVERIFY(frame.contains(
                control<QRadioButton>(*form, QStringLiteral("inpmode_%1").arg(kind))->geometry()));
    }

    void draggingByALabelKeepsThePressedPointUnderThePointer() {
        QWidget *source = control<QLabel>(*form, "label_1");
        const QPoint start = form->pos();
        const QPoint press = source->mapToGlobal(QPoint(10, 5));
        mouse(source, QEvent::MouseButtonPress, press, Qt::LeftButton);
        mouse(source, QEvent::MouseMove, press + QPoint(30, 20), Qt::LeftButton);
        QCOMPARE(form->pos(), start + QPoint(30, 20));
        QCOMPARE(source->mapToGlobal(QPoint(10, 5)), press + QPoint(30, 20));
        mouse(source, QEvent::MouseMove, press + QPoint(-5, 40), Qt::LeftButton);
        QCOMPARE(form->pos(), start + QPoint(-5, 40));
        mouse(source, QEvent::MouseButtonRelease, press + QPoint(-5, 40), Qt::LeftButton);
        mouse(source, QEvent::MouseMove, press + QPoint(100, 100), Qt::NoButton);
        QCOMPARE(form->pos(), start + QPoint(-5, 40)); // moving without a press does nothing
    }

    void rightButtonFrameAndSurfaceDragToo() {
        for (QWidget *source : {static_cast<QWidget *>(control<QGroupBox>(*form, "Frame1")),
                                static_cast<QWidget *>(form.get()),
                                static_cast<QWidget *>(control<QLabel>(*form, "label_0"))}) {
            const QPoint start = form->pos();
            const QPoint press = source->mapToGlobal(QPoint(3, 3));
            mouse(source, QEvent::MouseButtonPress, press, Qt::RightButton);
            mouse(source, QEvent::MouseMove, press + QPoint(7, 9), Qt::RightButton);
            mouse(source, QEvent::MouseButtonRelease, press + QPoint(7, 9), Qt::RightButton);
            QCOMPARE(form->pos(), start + QPoint(7, 9));
        }
    }

    void controlsNeverStartADrag() {
        const QPoint start = form->pos();
        for (QWidget *pressed : {static_cast<QWidget *>(control<QLineEdit>(*form, "Text1")),
                                 static_cast<QWidget *>(control<QPushButton>(*form, "Command2")),
                                 static_cast<QWidget *>(control<QCheckBox>(*form, "Check2")),
                                 static_cast<QWidget *>(control<QRadioButton>(*form, "inpmode_3")),
                                 static_cast<QWidget *>(control<FolderList>(*form, "Dir1"))}) {
            QTest::mousePress(pressed, Qt::LeftButton, {}, QPoint(4, 4));
            mouse(form.get(), QEvent::MouseMove, pressed->mapToGlobal(QPoint(40, 40)),
                  Qt::LeftButton);
            QTest::mouseRelease(pressed, Qt::LeftButton, {}, QPoint(4, 4));
        }
        QCOMPARE(form->pos(), start);
    }

    void keepOnTopFollowsCheck1() {
        QVERIFY(platform::isOnTop(form.get()));
        const QPoint at = form->pos();
        control<QCheckBox>(*form, "Check1")->click();
        QVERIFY(!platform::isOnTop(form.get()));
        control<QCheckBox>(*form, "Check1")->click();
        QVERIFY(platform::isOnTop(form.get()));
        QCOMPARE(form->pos(), at); // neither moved nor resized
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(PanelTest)
#include "app_panel_test.moc"
