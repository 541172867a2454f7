#pragma once

#include <QLabel>

namespace quendle {

// A label used as a button: it reports clicks and, when tracking is on, pointer moves over it.
class LabelButton : public QLabel
{
    Q_OBJECT
public:
    LabelButton(const QString& caption, double points, QWidget* parent);

signals:
    void clicked();
    void mouseMoved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

} // namespace quendle
