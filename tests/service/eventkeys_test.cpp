#include "service/configreader.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quendle;

namespace {

const QByteArray kTarget = "[target home]\nhost = h\nuser = a\npassword = p\n";

class EventKeysTest : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& text,
                  QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ExeOwner)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        file.setPermissions(permissions);
        return file.fileName();
    }

    QTemporaryDir dir;
};

TEST_F(EventKeysTest, ReadBackHooksAndNotify)
{
    const QString hook = write("hook", "#!/bin/sh\n");
    const QString token = write("token", "t0ken\n", QFile::ReadOwner | QFile::WriteOwner);
    const QString path =
        write("full.conf", kTarget + "url = https://www.example.org/quendle.htm\n[hooks]\n" +
                               "on_change = " + hook.toUtf8() + " \"two words\" $HOME\n" +
                               "on_failure = " + hook.toUtf8() + "\n[notify]\n" +
                               "url = http://127.0.0.1:8080/topic\ntoken_file = " + token.toUtf8() +
                               "\n");
    const auto read = readSettings(path);
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    const auto& settings = std::get<PublisherSettings>(read);
    EXPECT_EQ(settings.targets[0].readBackUrl, "https://www.example.org/quendle.htm");
    EXPECT_EQ(settings.hooks.onChange, hook + " \"two words\" $HOME");
    EXPECT_EQ(settings.hooks.onFailure, hook);
    EXPECT_EQ(settings.notify.url, "http://127.0.0.1:8080/topic");
    EXPECT_EQ(settings.notify.token, "t0ken");
    for (const QByteArray url :
         {"http://[::1]:8080/t", "http://localhost/t", "https://n.example/"}) {
        const QString other = write("other.conf", kTarget + "[notify]\nurl = " + url +
                                                      "\ntoken_file = " + token.toUtf8() + "\n");
        EXPECT_TRUE(std::holds_alternative<PublisherSettings>(readSettings(other))) << url.data();
    }
}

TEST_F(EventKeysTest, BadValuesAreNamed)
{
    const QString plain = write("plain", "#!/bin/sh\n", QFile::ReadOwner | QFile::WriteOwner);
    const QString token = write("token", "t0ken\n", QFile::ReadOwner | QFile::ReadGroup);
    const QString ownToken = write("own", "t0ken\n", QFile::ReadOwner);
    struct Row
    {
        QByteArray text;
        QString error;
    };
    const Row rows[] = {
        {"url = ftp://www.example.org/\n",
         "5: [target home] url: must be an http:// or https:// address"},
        {"[hooks]\non_change = hook.sh --now\n",
         "6: [hooks] on_change: must be the absolute path of a program, then its arguments"},
        {"[hooks]\non_failure = \"\"\n",
         "6: [hooks] on_failure: must be the absolute path of a program, then its arguments"},
        {"[hooks]\non_failure = " + plain.toUtf8() + "\n",
         "6: [hooks] on_failure: " + plain + " is not a program that can be run"},
        {"[notify]\ntoken_file = " + ownToken.toUtf8() + "\n",
         "5: [notify] url: required key is missing"},
        {"[notify]\nurl = https://n.example/t\ntoken_file = " + token.toUtf8() + "\n",
         "7: [notify] token_file: " + token +
             " can be read or changed by group or others, and it holds a token; run chmod 600 " +
             token},
        // A token goes in clear over http:// only to this machine.
        {"[notify]\nurl = http://127.0.0.1.example.net/t\ntoken_file = " + ownToken.toUtf8() + "\n",
         "7: [notify] token_file: the token would go in clear to 127.0.0.1.example.net over "
         "http://: make url https:// (plain http:// only to this machine: 127.0.0.0/8, ::1, "
         "localhost)"},
    };
    for (const Row& row : rows) {
        const QString path = write("bad.conf", kTarget + row.text);
        const auto read = readSettings(path);
        ASSERT_TRUE(std::holds_alternative<ConfigErrors>(read)) << row.text.toStdString();
        EXPECT_EQ(std::get<ConfigErrors>(read).messages.join('\n').toStdString(),
                  (path + ":" + row.error).toStdString());
    }
}

} // namespace
