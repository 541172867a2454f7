#include "address/localaddress.h"
#include "app/mainwindow.h"
#include "appcore/pagelocation.h"
#include "appcore/programvalues.h"
#include "ftploader/loadedtransferclient.h"
#include "page/filesizelimit.h"
#include "ui/look.h"
#include "ui/qtfeedback.h"

#include <QApplication>
#include <QStyleFactory>

namespace {

// Lives for the whole process, before and after any window.
quendle::ProgramValues Module1;

} // namespace

int main(int argc, char* argv[])
{
    quendle::failWritesPastFileSizeLimit();
    QApplication app(argc, argv);
    // Wayland desktops show the icon of the desktop entry named here, not the window's own.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUENDLE_APP_ID));
    // Fusion draws every control from the palette, so the program's colours show on any desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    quendle::QtFeedback feedback;
    quendle::LoadedTransferClient ftp(
        quendle::transferModulePath(QCoreApplication::applicationDirPath()));
    const QString pageDirectory =
        quendle::pageDirectory(QCoreApplication::applicationDirPath(), quendle::userDataHome());
    auto* Form1 =
        new quendle::MainWindow(feedback, ftp, Module1, pageDirectory, &quendle::localAddress);
    Form1->setAttribute(Qt::WA_DeleteOnClose);
    quendle::look::centreOnScreen(Form1);
    Form1->show();
    return app.exec();
}
