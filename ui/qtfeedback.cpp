#include "ui/qtfeedback.h"

#include "page/productsettings.h"

#include <QApplication>
#include <QMessageBox>

namespace quendle {

void QtFeedback::message(const QString& text, Icon icon, const QString& details)
{
    static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                   QMessageBox::Warning, QMessageBox::Critical};
    QMessageBox box(kIcons[static_cast<int>(icon)], kProductTitle, text, QMessageBox::Ok);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

bool QtFeedback::question(const QString& text)
{
    QMessageBox box(QMessageBox::Question, kProductTitle, text, QMessageBox::Yes | QMessageBox::No);
    // Trusting a server is never the answer a stray Enter gives.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtFeedback::beep()
{
    QApplication::beep();
}

void QtFeedback::busy(bool on)
{
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace quendle
