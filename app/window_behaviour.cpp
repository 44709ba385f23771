// Dragging the window by its surface, its labels and the disguise frame; keeping it on top.
#include "form1.h"
#include "platform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace {

// Whether a press at this point of the source lies on the source itself. A press that a
// control inside it let pass (an option button's margin, a disabled box) is the control's,
// not the surface's; the separator lines are drawn on the surface and count as surface.
bool pressedOnItself(QWidget *source, QPointF position, const std::array<QFrame *, 6> &lines) {
    QWidget *child = source->childAt(position.toPoint());
    return !child || std::find(lines.begin(), lines.end(), child) != lines.end();
}

// A Wayland client cannot move its window; the compositor moves it from the press on, as it
// does for a title bar. Nothing is said about it: the window simply follows the pointer.
bool movedBySystem(QWidget *window) {
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return false;
    QWindow *handle = window->windowHandle();
    return handle && handle->startSystemMove();
}

} // namespace

void Form1::BeginDrag(float x, float y) {
    m_dragging = true;
    m_dragX = x;
    m_dragY = y;
}

void Form1::DragMove(float x, float y) {
    if (!m_dragging)
        return;
    // The pressed control moves with the window, so the offset is the pointer's movement since
    // the last move, and the pressed point stays under the pointer.
    move(pos() + QPoint(twipsToPixels(int(std::lround(x - m_dragX))),
                        twipsToPixels(int(std::lround(y - m_dragY)))));
}

bool Form1::dragEvent(QEvent *event, QWidget *source) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const QPointF p = static_cast<QMouseEvent *>(event)->position();
        if ((qobject_cast<QLabel *>(source) || pressedOnItself(source, p, Line)) &&
            !movedBySystem(this))
            BeginDrag(pixelsToTwips(p.x()), pixelsToTwips(p.y()));
        return true;
    }
    case QEvent::MouseMove: {
        const QPointF p = static_cast<QMouseEvent *>(event)->position();
        DragMove(pixelsToTwips(p.x()), pixelsToTwips(p.y()));
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return true;
    default:
        return false;
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    auto *widget = qobject_cast<QWidget *>(watched);
    if (widget && (widget == Frame1 || qobject_cast<QLabel *>(widget)))
        return dragEvent(event, widget);
    return QWidget::eventFilter(watched, event);
}

// Presses on the window's own surface; controls that take the mouse (text boxes, buttons,
// check boxes, lists) never let their presses reach it.
void Form1::mousePressEvent(QMouseEvent *event) {
    dragEvent(event, this);
}
void Form1::mouseMoveEvent(QMouseEvent *event) {
    dragEvent(event, this);
}
void Form1::mouseReleaseEvent(QMouseEvent *event) {
    dragEvent(event, this);
}

void Form1::Check1Click() {
    if (Check1->checkState() == Qt::Checked)
        platform::putOnTop(this);
    else if (Check1->checkState() == Qt::Unchecked)
        platform::takeOffTop(this);
}
