#include "service/configreader.h"
#include "service/settingkeys.h"
#include "testftpserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::testing;

namespace {

const QString kSource = QStringLiteral(QUENDLE_SOURCE_DIR);

// systemd-analyze checks that the program and its man page exist: the unit is checked as
// installed, its program path pointing at the one just built and the man page found in the tree.
TEST(ServiceUnits, PassSystemdAnalyzeVerify)
{
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("runtime");
    QFile::setPermissions(dir.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir(dir.path()).mkpath("man/man1");
    QFile::copy(kSource + "/doc/quendle-publish.1", dir.filePath("man/man1/quendle-publish.1"));
    for (const QString& scope : {QString("user"), QString("system")}) {
        QByteArray unit =
            readWholeFile(kSource + "/dist/systemd/" + scope + "/quendle-publish.service");
        ASSERT_TRUE(unit.contains("/usr/bin/quendle-publish ")) << scope.toStdString();
        unit.replace("/usr/bin/quendle-publish ", QUENDLE_PUBLISH_PROGRAM " ");
        const QString path = dir.filePath(scope + "/quendle-publish.service");
        QDir(dir.path()).mkdir(scope);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(unit);
        file.close();

        QProcess verify;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
        environment.insert("MANPATH", dir.filePath("man"));
        verify.setProcessEnvironment(environment);
        // Without man installed the page cannot be looked up at all; the rest is still checked.
        const QString man = QStandardPaths::findExecutable("man").isEmpty() ? "--man=no" : "";
        verify.start("systemd-analyze", QStringList{"--" + scope, "verify", path} +
                                            (man.isEmpty() ? QStringList() : QStringList{man}));
        ASSERT_TRUE(verify.waitForFinished(60000));
        const QString output = verify.readAllStandardError() + verify.readAllStandardOutput();
        EXPECT_EQ(verify.exitCode(), 0) << scope.toStdString() << ": " << output.toStdString();
        EXPECT_FALSE(output.contains("quendle-publish.service")) << output.toStdString();
    }
}

// Every section and key the reader accepts is documented in the man page.
TEST(ManPage, DocumentsEverySectionAndKey)
{
    const QString page = QString::fromUtf8(readWholeFile(kSource + "/doc/quendle-publish.1"));
    ASSERT_FALSE(page.isEmpty());
    for (const settingkeys::SectionRule& section : settingkeys::sectionRules()) {
        EXPECT_TRUE(page.contains("[" + section.name)) << section.name.data();
        for (const settingkeys::KeyRule& key : section.keys)
            EXPECT_TRUE(page.contains(QRegularExpression(
                "^\\.TP\\n\\\\fB" + QRegularExpression::escape(key.key).replace("_", "\\\\?_") +
                    "\\\\fR",
                QRegularExpression::MultilineOption)))
                << section.name.data() << " " << key.key.data();
    }
}

} // namespace

namespace {

// The example in the README is a configuration a person can copy as it stands.
TEST(Readme, ItsExampleConfigurationIsRead)
{
    const QByteArray readme = readWholeFile(kSource + "/README.md");
    const qsizetype start = readme.indexOf("```ini\n");
    ASSERT_GE(start, 0);
    const qsizetype end = readme.indexOf("```", start + 7);
    QTemporaryDir dir;
    QFile file(dir.filePath("publish.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(readme.mid(start + 7, end - start - 7));
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const auto read = readSettings(file.fileName());
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    EXPECT_EQ(std::get<PublisherSettings>(read).targets[0].password, "s3cret");
}

} // namespace
