#pragma once

#include "editor/linkeditor.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

namespace quendle {

class Feedback;
class LabelButton;
class TransferClient;
struct ProgramValues;

// The main window. Its handlers read the fields, hand them to the page and FTP logic, and show
// the outcome through Feedback.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    // `pageDirectory` holds the page file (see pageDirectory() in page/pagelocation.h);
    // `wsck` tells the machine's address.
    MainWindow(Feedback& feedback, TransferClient& ftp, ProgramValues& values,
               const QString& pageDirectory, std::function<QString()> wsck);

    QString pagePath() const { return m_pagePath; }
    // The editor window while it is open, or null.
    LinkEditor* linkEditor() const { return m_editor; }

public slots:
    void Form_Load();
    void Form_DblClick();
    void Form_MouseMove();
    void Frame1_MouseMove();
    void Label7_Click();  // EXIT
    void Label8_Click();  // Publish
    void Label9_Click();  // Save
    void Label10_Click(); // Connect
    void Label13_Click(); // Disconnect
    void Label16_Click(); // Link/META Editor
    void Label7_MouseMove();
    void Label8_MouseMove();
    void Label9_MouseMove();
    void Label10_MouseMove();
    void Text2_Change();
    void Text3_Change();
    void Timer1_Timer();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Busy;
    void buildControls();
    void connectHandlers();
    LabelButton* labelButton(const char* name, const QString& caption, double points,
                             QWidget* container, const QRect& geometry, const QString& tooltip);
    QLineEdit* lineEdit(const char* name, QWidget* container, const QRect& geometry);
    QLabel* label(const char* name, const QString& caption, QWidget* container,
                  const QRect& geometry);
    QGroupBox* frame(const char* name, const QString& caption, const QRect& geometry);
    void uploadTo(const QString& remoteDirectory);

    Feedback& m_feedback;
    TransferClient& ftp;
    std::function<QString()> wsck;
    ProgramValues& m_values;
    QString m_pagePath;
    int m_busy = 0; // a connect, an upload or its message is in progress
    QPointer<LinkEditor> m_editor;

    QLabel* Label1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Host = nullptr;
    QLineEdit* UserName = nullptr;
    QLineEdit* Password = nullptr;
    QLineEdit* Text3 = nullptr;
    QCheckBox* Anonymous = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* ServerURL = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    LabelButton* Label7 = nullptr;
    LabelButton* Label8 = nullptr;
    LabelButton* Label9 = nullptr;
    LabelButton* Label10 = nullptr;
    LabelButton* Label13 = nullptr;
    LabelButton* Label16 = nullptr;
    QTimer* Timer1 = nullptr;
};

} // namespace quendle
