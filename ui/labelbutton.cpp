#include "ui/labelbutton.h"

#include "ui/look.h"

#include <QMouseEvent>

namespace quendle {

LabelButton::LabelButton(const QString& caption, double points, QWidget* parent)
    : QLabel(caption, parent)
{
    setFont(look::labelButtonFont(points));
    look::setTextColour(this, look::kGreen);
}

void LabelButton::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void LabelButton::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}

void LabelButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is not a second click.
    m_pressed = false;
    event->accept();
}

void LabelButton::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    emit mouseMoved();
}

} // namespace quendle
