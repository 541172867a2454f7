#include "ui/qtfeedback.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quendle;

namespace {

struct SeenBox
{
    QString title, text, details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool modal = false;
};

// Shows a message through the real message box and reads it back before pressing its OK.
SeenBox show(const QString& text, Feedback::Icon icon, const QString& details = {})
{
    SeenBox seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        seen = {box->windowTitle(),
                box->text(),
                box->detailedText(),
                box->icon(),
                static_cast<int>(box->buttons().size()),
                box->isModal()};
        box->button(QMessageBox::Ok)->click();
    });
    QtFeedback().message(text, icon, details);
    return seen;
}

TEST(QtFeedback, MessagesAreModalBoxesCaptionedWithTheTitleAndOnlyOk)
{
    const std::pair<Feedback::Icon, QMessageBox::Icon> icons[] = {
        {Feedback::Icon::None, QMessageBox::NoIcon},
        {Feedback::Icon::Information, QMessageBox::Information},
        {Feedback::Icon::Warning, QMessageBox::Warning},
        {Feedback::Icon::Critical, QMessageBox::Critical},
    };
    for (const auto& [icon, boxIcon] : icons) {
        const SeenBox seen = show("File Transferred!", icon);
        EXPECT_EQ(seen.title, "Quendle IP Publisher");
        EXPECT_EQ(seen.text, "File Transferred!");
        EXPECT_EQ(seen.icon, boxIcon);
        EXPECT_EQ(seen.buttons, 1);
        EXPECT_TRUE(seen.modal);
        EXPECT_TRUE(seen.details.isEmpty());
    }
}

TEST(QtFeedback, TheReasonGoesIntoTheDetails)
{
    const SeenBox seen = show("Unable to transfer to remote system", Feedback::Icon::Warning,
                              "550 No such file or directory.");
    EXPECT_EQ(seen.text, "Unable to transfer to remote system");
    EXPECT_EQ(seen.details, "550 No such file or directory.");
}

TEST(QtFeedback, QuestionsOfferYesAndNoAndEscapeMeansNo)
{
    // Each answer is given to the real box: its Yes, its No, and the Escape key.
    for (const int answer : {0, 1, 2}) {
        SeenBox seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            seen = {box->windowTitle(),
                    box->text(),
                    {},
                    box->icon(),
                    static_cast<int>(box->buttons().size()),
                    box->isModal()};
            EXPECT_TRUE(box->button(QMessageBox::Yes) && box->button(QMessageBox::No));
            if (answer == 0)
                box->button(QMessageBox::Yes)->click();
            else if (answer == 1)
                box->button(QMessageBox::No)->click();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        EXPECT_EQ(QtFeedback().question("Trust this server?"), answer == 0) << answer;
        EXPECT_EQ(seen.title, "Quendle IP Publisher");
        EXPECT_EQ(seen.text, "Trust this server?");
        EXPECT_EQ(seen.icon, QMessageBox::Question);
        EXPECT_EQ(seen.buttons, 2);
        EXPECT_TRUE(seen.modal);
    }
}

TEST(QtFeedback, BusyShowsAndRestoresTheWaitCursor)
{
    QtFeedback feedback;
    feedback.busy(true);
    ASSERT_TRUE(QApplication::overrideCursor());
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    feedback.busy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
