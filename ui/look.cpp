#include "ui/look.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace quendle::look {

void paint(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Button, background); // what buttons and check boxes fill with
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget* widget, const QColor& text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
    widget->setAutoFillBackground(false);
}

void paintField(QWidget* field)
{
    // Starts from the platform's palette so that scroll bars keep their usual look.
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Base, kBlack);
    palette.setColor(QPalette::Text, kGreen);
    field->setPalette(palette);
}

QFont windowFont(double points)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    // Narrow sans-serif faces with similar widths, in case the original family is missing.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    // The substitutes run a little wider than the original bitmap face; narrowed slightly, the
    // field labels fit the boxes the layout gives them.
    if (!QFontInfo(font).family().startsWith(QLatin1String("MS Sans Serif")))
        font.setStretch(93);
    return font;
}

QFont labelButtonFont(double points)
{
    QFont font = windowFont(points);
    font.setBold(true);
    return font;
}

void centreOnScreen(QWidget* window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

} // namespace quendle::look
