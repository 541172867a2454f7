#include "app/mainwindow.h"

#include "appcore/programvalues.h"
#include "ftp/transferclient.h"
#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"
#include "publish/serverconnection.h"
#include "publish/uploadpage.h"
#include "ui/feedback.h"
#include "ui/labelbutton.h"
#include "ui/look.h"
#include "ui/resultmessages.h"
#include "ui/waitforwork.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QTimer>

namespace quendle {

namespace {

constexpr double kLargeButton = 9.75;
constexpr double kSmallButton = 8.25;
// Rendered at build time from the same drawing as the installed icons.
const QString kWindowIcon = QStringLiteral(":/quendle/quendle-32.png");

// Masks each character of the password with one asterisk.
class AsteriskMask : public QProxyStyle
{
public:
    explicit AsteriskMask(QObject* owner) { setParent(owner); }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

} // namespace

// Marks a connect or an upload, with its message, as in progress for as long as it lives.
class MainWindow::Busy
{
public:
    explicit Busy(MainWindow* window) : m_window(window) { ++m_window->m_busy; }
    ~Busy() { --m_window->m_busy; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    MainWindow* m_window;
};

MainWindow::MainWindow(Feedback& feedback, TransferClient& ftp, ProgramValues& values,
                       const QString& pageDirectory, std::function<QString()> wsck)
    : m_feedback(feedback), ftp(ftp), wsck(std::move(wsck)), m_values(values),
      m_pagePath(pageFilePath(pageDirectory))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kProductTitle);
    setWindowIcon(QIcon(kWindowIcon));
    setFixedSize(389, 450);
    look::paint(this, look::kNavy, look::kWhite);
    setFont(look::windowFont());
    buildControls();
    Form_Load();
    connectHandlers();
}

QGroupBox* MainWindow::frame(const char* name, const QString& caption, const QRect& geometry)
{
    auto* box = new QGroupBox(caption, this);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    look::paint(box, look::kDarkBlue, look::kWhite);
    return box;
}

QLabel* MainWindow::label(const char* name, const QString& caption, QWidget* container,
                          const QRect& geometry)
{
    auto* text = new QLabel(caption, container);
    text->setObjectName(QLatin1String(name));
    text->setGeometry(geometry);
    look::setTextColour(text, look::kWhite);
    return text;
}

QLineEdit* MainWindow::lineEdit(const char* name, QWidget* container, const QRect& geometry)
{
    auto* field = new QLineEdit(container);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(geometry);
    look::paintField(field);
    return field;
}

LabelButton* MainWindow::labelButton(const char* name, const QString& caption, double points,
                                     QWidget* container, const QRect& geometry,
                                     const QString& tooltip)
{
    auto* button = new LabelButton(caption, points, container);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setToolTip(tooltip);
    return button;
}

void MainWindow::buildControls()
{
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(2, 4, 382, 411);
    Label1->setFrameStyle(QFrame::Box | QFrame::Plain);
    look::paint(Label1, look::kDarkBlue, look::kBlack);

    Frame2 = frame("Frame2", QStringLiteral("Current IP address:"), {10, 8, 364, 45});
    label("Label15", QStringLiteral("HTTP://"), Frame2, {5, 17, 45, 17});
    Text4 = lineEdit("Text4", Frame2, {50, 14, 306, 19});

    Frame1 = frame("Frame1", QStringLiteral("Connection Options:"), {8, 57, 367, 174});
    label("Label6", QStringLiteral("Host:"), Frame1, {6, 20, 25, 13});
    Host = lineEdit("Host", Frame1, {74, 16, 197, 19});
    label("Label5", QStringLiteral("Username:"), Frame1, {6, 44, 51, 13});
    UserName = lineEdit("UserName", Frame1, {74, 40, 197, 19});
    label("Label4", QStringLiteral("Password:"), Frame1, {6, 68, 49, 13});
    Password = lineEdit("Password", Frame1, {74, 64, 197, 19});
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyle(new AsteriskMask(Password));
    label("Label14", QStringLiteral("Email:"), Frame1, {7, 94, 56, 13});
    Text3 = lineEdit("Text3", Frame1, {74, 86, 197, 19});
    Anonymous = new QCheckBox(QStringLiteral("Anonymous"), Frame1);
    Anonymous->setObjectName(QStringLiteral("Anonymous"));
    Anonymous->setGeometry(7, 119, 81, 17);
    look::paint(Anonymous, look::kDarkBlue, look::kWhite);
    look::setTextColour(
        label("Label11", QStringLiteral("Refresh every"), Frame1, {98, 120, 71, 21}), look::kGreen);
    Text2 = new QLineEdit(QStringLiteral("2"), Frame1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(169, 117, 22, 19);
    Text2->setPalette(QGuiApplication::palette()); // the platform's own field colours
    look::setTextColour(label("Label12", QStringLiteral("minutes"), Frame1, {194, 120, 40, 18}),
                        look::kGreen);
    label("Label3", QStringLiteral("Remote Directory:"), Frame1, {9, 139, 63, 29})
        ->setWordWrap(true);
    ServerURL = lineEdit("ServerURL", Frame1, {76, 143, 287, 19});
    ServerURL->setText(QStringLiteral("/"));
    Label10 = labelButton("Label10", QStringLiteral("Connect"), kLargeButton, Frame1,
                          {288, 17, 63, 25}, QStringLiteral("Click to Connect to Server"));
    Label13 = labelButton("Label13", QStringLiteral("Disconnect"), kSmallButton, Frame1,
                          {284, 41, 72, 16}, {});

    Frame3 = frame("Frame3", QStringLiteral("Web Page:"), {9, 232, 367, 174});
    Text1 = new QPlainTextEdit(Frame3);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(9, 16, 353, 152);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTabChangesFocus(true);
    look::paintField(Text1);

    Label16 = labelButton("Label16", QStringLiteral("Link/META Editor"), kSmallButton, this,
                          {115, 426, 111, 19}, {});
    Label9 = labelButton("Label9", QStringLiteral("Save"), kLargeButton, this, {230, 424, 40, 19},
                         QStringLiteral("Click to Save Web Page"));
    Label8 = labelButton("Label8", QStringLiteral("Publish"), kLargeButton, this,
                         {277, 424, 57, 19}, QStringLiteral("Click to Upload Web Page"));
    Label7 = labelButton("Label7", QStringLiteral("EXIT"), kLargeButton, this, {340, 423, 37, 16},
                         QStringLiteral("Click to Exit program"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    // Mouse events over a control stay with that control: only the window's uncovered surface,
    // the surface of "Connection Options:" and the hover buttons react to the pointer.
    for (QWidget* child : findChildren<QWidget*>())
        child->setAttribute(Qt::WA_NoMousePropagation);
    for (QWidget* tracked : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame1),
                             static_cast<QWidget*>(Label7), static_cast<QWidget*>(Label8),
                             static_cast<QWidget*>(Label9), static_cast<QWidget*>(Label10)})
        tracked->setMouseTracking(true);
    Frame1->installEventFilter(this);

    QWidget* order[] = {Text1, Host, UserName, Password, Anonymous, ServerURL, Text2, Text3, Text4};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Text1->setFocus();
}

void MainWindow::connectHandlers()
{
    // Connected only after the design values and Form_Load are in place, so that filling the
    // fields runs no change handler.
    connect(Text2, &QLineEdit::textChanged, this, &MainWindow::Text2_Change);
    connect(Text3, &QLineEdit::textChanged, this, &MainWindow::Text3_Change);
    connect(Timer1, &QTimer::timeout, this, &MainWindow::Timer1_Timer);
    connect(Label7, &LabelButton::clicked, this, &MainWindow::Label7_Click);
    connect(Label8, &LabelButton::clicked, this, &MainWindow::Label8_Click);
    connect(Label9, &LabelButton::clicked, this, &MainWindow::Label9_Click);
    connect(Label10, &LabelButton::clicked, this, &MainWindow::Label10_Click);
    connect(Label13, &LabelButton::clicked, this, &MainWindow::Label13_Click);
    connect(Label16, &LabelButton::clicked, this, &MainWindow::Label16_Click);
    connect(Label7, &LabelButton::mouseMoved, this, &MainWindow::Label7_MouseMove);
    connect(Label8, &LabelButton::mouseMoved, this, &MainWindow::Label8_MouseMove);
    connect(Label9, &LabelButton::mouseMoved, this, &MainWindow::Label9_MouseMove);
    connect(Label10, &LabelButton::mouseMoved, this, &MainWindow::Label10_MouseMove);
}

void MainWindow::Form_Load()
{
    Text4->setText(wsck());
    m_values.refresh.setInterval(Text2->text());
    Text1->setPlainText(pagePreview(Text4->text(), Text3->text()));
}

void MainWindow::Text3_Change()
{
    Text1->setPlainText(pagePreview(Text4->text(), Text3->text()));
}

void MainWindow::Text2_Change()
{
    m_values.refresh.setInterval(Text2->text());
    m_values.refresh.restart();
}

void MainWindow::Label9_Click()
{
    m_values.banner = defaultBanner();
    if (const auto written =
            replaceFile(m_pagePath, onlinePage(Text4->text(), Text3->text(), m_values.banner));
        !written) {
        Busy busy(this);
        m_feedback.message(written.error(), Feedback::Icon::Warning);
    }
}

void MainWindow::uploadTo(const QString& remoteDirectory)
{
    Busy busy(this);
    showResult(m_feedback, waitForWork(m_feedback, [&] {
                   return UploadPage(ftp, remoteDirectory, m_pagePath);
               }));
}

void MainWindow::Label8_Click()
{
    uploadTo(ServerURL->text());
}

void MainWindow::Form_DblClick()
{
    uploadTo(kQuickUploadDirectory);
}

void MainWindow::Label10_Click()
{
    Busy busy(this);
    const ServerLogin login{Host->text(), UserName->text(), Password->text()};
    ConnectResult result = connectToServer(
        ftp, login, [&](const auto& logInNow) { return waitForWork(m_feedback, logInNow); });
    if (result.status == ConnectResult::Status::MissingField) {
        // Nothing was started, so a running refresh goes on.
        showResult(m_feedback, result);
        return;
    }
    if (result.status == ConnectResult::Status::Untrusted) {
        const ConnectResult untrusted = result;
        result = m_feedback.question(untrusted.text)
                     ? waitForWork(m_feedback, [&] { return logInTrusting(ftp, login, untrusted); })
                     : refuseServer(untrusted);
    }
    showResult(m_feedback, result);
    if (result.status == ConnectResult::Status::Connected)
        Timer1->start();
    else
        Timer1->stop();
}

void MainWindow::Label13_Click()
{
    Busy busy(this);
    showResult(m_feedback, waitForWork(m_feedback, [&] {
                   return publishOfflinePage(ftp, ServerURL->text(), m_pagePath, Text3->text());
               }));
    waitForWork(m_feedback, [&] { return ftp.disconnect(); });
    Timer1->stop();
}

void MainWindow::Timer1_Timer()
{
    if (!m_values.refresh.tick(m_busy > 0))
        return;
    uploadTo(ServerURL->text());
    m_values.refresh.restart();
}

void MainWindow::Label7_Click()
{
    close();
}

void MainWindow::Label16_Click()
{
    // One editor at a time; it is not a child of this window, so it stays open when this one
    // closes.
    if (!m_editor) {
        m_editor = new LinkEditor(m_feedback, m_values, m_pagePath);
        look::centreOnScreen(m_editor);
    }
    m_editor->show();
    m_editor->raise();
    m_editor->activateWindow();
}

void MainWindow::Label10_MouseMove()
{
    look::setTextColour(Label10, look::kYellow);
}

void MainWindow::Label9_MouseMove()
{
    look::setTextColour(Label9, look::kYellow);
    for (QWidget* other : {Label7, Label8, Label10})
        look::setTextColour(other, look::kGreen);
}

void MainWindow::Label8_MouseMove()
{
    look::setTextColour(Label8, look::kYellow);
    for (QWidget* other : {Label7, Label9, Label10})
        look::setTextColour(other, look::kGreen);
}

void MainWindow::Label7_MouseMove()
{
    look::setTextColour(Label7, look::kYellow);
    for (QWidget* other : {Label8, Label9, Label10})
        look::setTextColour(other, look::kGreen);
}

void MainWindow::Form_MouseMove()
{
    for (QWidget* button : {Label9, Label7, Label8, Label10})
        look::setTextColour(button, look::kGreen);
}

void MainWindow::Frame1_MouseMove()
{
    look::setTextColour(Label10, look::kGreen);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    Form_MouseMove();
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        Form_DblClick();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Frame1 && event->type() == QEvent::MouseMove)
        Frame1_MouseMove();
    return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_busy > 0) {
        event->ignore();
        return;
    }
    // The refresh ends with the window.
    Timer1->stop();
    event->accept();
}

} // namespace quendle
