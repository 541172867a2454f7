#pragma once

#include "app/mainwindow.h"
#include "appcore/programvalues.h"
#include "faketransferclient.h"
#include "recordingfeedback.h"
#include "widgetlookup.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace quendle::testing {

// A main window on fakes, its page file in a temporary directory, the address 192.0.2.7.
class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { window = makeWindow(ftp); }

    std::unique_ptr<MainWindow> makeWindow(TransferClient& client)
    {
        return std::make_unique<MainWindow>(feedback, client, values, dir.path(),
                                            [] { return QStringLiteral("192.0.2.7"); });
    }

    QLineEdit* field(const char* name) { return control<QLineEdit>(*window, name); }
    QTimer* timer() { return control<QTimer>(*window, "Timer1"); }

    void fillLogin()
    {
        field("Host")->setText("ftp.example.org");
        field("UserName")->setText("me");
        field("Password")->setText("pw");
    }

    void tick(int times)
    {
        for (int i = 0; i < times; ++i)
            window->Timer1_Timer();
    }

    RecordingFeedback feedback;
    FakeTransferClient ftp;
    ProgramValues values;
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

} // namespace quendle::testing
