#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// Colours, fonts and placement shared by the program's two windows.
namespace quendle::look {

inline const QColor kNavy(0, 0, 128);
inline const QColor kDarkBlue(0, 0, 192);
inline const QColor kBlack(0, 0, 0);
inline const QColor kGreen(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kWhite(255, 255, 255);

// Background and text colour of a window, frame, label or check box.
void paint(QWidget* widget, const QColor& background, const QColor& text);
// Text colour only; the background stays transparent.
void setTextColour(QWidget* widget, const QColor& text);
// Green text on black, as every field of the program shows it.
void paintField(QWidget* field);

// The windows' regular face at the given size (8.25 points for most text).
QFont windowFont(double points = 8.25);

// The bold face of the label buttons; a sans-serif substitute where the family is missing.
QFont labelButtonFont(double points);

void centreOnScreen(QWidget* window);

} // namespace quendle::look
