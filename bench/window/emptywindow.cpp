// An empty Qt window of the main window's size, shown the same way: the yardstick for the
// window's start-up time and memory. With --label it holds one line of text, which is what
// starting the font machinery costs any window that shows text.

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Empty window"));
    window.setFixedSize(389, 450);
    if (QApplication::arguments().contains(QStringLiteral("--label")))
        (new QLabel(QStringLiteral("Current IP address:"), &window))->move(10, 10);
    window.show();
    return app.exec();
}
