#include "service/configreader.h"

#include "service/settingkeys.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace quendle {

using namespace settingkeys;

namespace {

constexpr qint64 kLargestFile = 1024 * 1024;
constexpr qsizetype kProblemsShown = 20;

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("something else");
}

// What the name of a key looks like. Anything else before an = is more likely a password that
// lost its "password =" (one holding an =) than a misspelt key, and is not shown.
bool looksLikeKey(const QString& name)
{
    return name.size() <= 32 && std::all_of(name.begin(), name.end(), [](QChar c) {
               return (c >= u'a' && c <= u'z') || c == u'_';
           });
}

// An XDG base directory: the variable when it holds an absolute path, else the fallback below
// the home directory.
QString baseDirectory(const char* variable, const char* belowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(belowHome);
}

class Reader
{
public:
    Reader(const QString& path, bool openToOthers) : m_facts{path, openToOthers}
    {
        m_settings.configFile = path;
    }

    void readLine(const QString& line, int number)
    {
        m_line = number;
        const QString text = line.trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')) ||
            text.startsWith(QLatin1Char(';')))
            return;
        if (text.startsWith(QLatin1Char('[')))
            startSection(text);
        else
            readKey(text);
    }

    void problem(int line, const QString& key, const QString& message)
    {
        problemIn(line, m_title, key, message);
    }

    std::variant<PublisherSettings, ConfigErrors> finish()
    {
        finishSection();
        for (const FileProblem& found : checkWholeFile(m_settings, m_keyLines))
            problemIn(found.line, found.section, found.key, found.message);
        if (m_unshown > 0)
            m_errors << QStringLiteral("%1: and %2 more problem%3")
                            .arg(m_facts.path)
                            .arg(m_unshown)
                            .arg(m_unshown == 1 ? "" : "s");
        if (!m_errors.isEmpty())
            return ConfigErrors{m_errors};
        return m_settings;
    }

private:
    void problemIn(int line, const QString& section, const QString& key, const QString& message)
    {
        // A file of junk would otherwise bury the first problems, which are usually the point.
        if (m_errors.size() >= kProblemsShown) {
            ++m_unshown;
            return;
        }
        QString where = m_facts.path + QLatin1Char(':');
        if (line > 0)
            where += QString::number(line) + QLatin1Char(':');
        QString what;
        if (!section.isEmpty())
            what = QStringLiteral("[%1]").arg(section);
        if (!key.isEmpty())
            what += (what.isEmpty() ? QString() : QStringLiteral(" ")) + key;
        m_errors << QStringLiteral("%1 %2%3").arg(
            where, what.isEmpty() ? QString() : what + QStringLiteral(": "), message);
    }

    void startSection(const QString& text)
    {
        finishSection();
        m_rule = nullptr;
        m_title.clear();
        if (!text.endsWith(QLatin1Char(']'))) {
            problem(m_line, {}, QStringLiteral("a section line must end with ]"));
            m_title = text.mid(1); // its keys are not reported one by one
            return;
        }
        const QString inside = text.mid(1, text.size() - 2).trimmed();
        const auto blankAt =
            std::find_if(inside.begin(), inside.end(), [](QChar c) { return c.isSpace(); });
        const qsizetype blank = blankAt == inside.end() ? -1 : blankAt - inside.begin();
        const QString kind = blank < 0 ? inside : inside.left(blank);
        const QString name = blank < 0 ? QString() : inside.mid(blank + 1).trimmed();
        m_title = name.isEmpty() ? kind : kind + QLatin1Char(' ') + name;
        const SectionRule* rule = nullptr;
        for (const SectionRule& candidate : sectionRules())
            if (candidate.name == kind)
                rule = &candidate;
        if (!rule)
            return problem(m_line, {}, QStringLiteral("unknown section"));
        if (!rule->open && !name.isEmpty())
            return problem(m_line, {}, QStringLiteral("this section takes no name"));
        if (rule->open && name.isEmpty())
            return problem(m_line, {},
                           QStringLiteral("this section needs a name: [%1 NAME]").arg(kind));
        if (const int first = m_sectionLines.value(m_title))
            return problem(
                m_line, {},
                QStringLiteral("the section appears twice (first on line %1)").arg(first));
        m_sectionLines.insert(m_title, m_line);
        m_rule = rule;
        m_sectionLine = m_line;
        m_keysGiven.clear();
        if (rule->open)
            rule->open(m_settings, name);
    }

    void readKey(const QString& text)
    {
        if (m_title.isEmpty())
            return problem(m_line, {}, QStringLiteral("a key outside any [section]"));
        if (!m_rule)
            return; // the section itself was reported
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        // The line is not shown: it may be a password that lost its key.
        if (equals < 0)
            return problem(m_line, {}, QStringLiteral("expected key = value"));
        const QString key = text.left(equals).trimmed();
        const QString value = text.mid(equals + 1).trimmed();
        if (key.isEmpty())
            return problem(m_line, {}, QStringLiteral("a value without a key"));
        const KeyRule* rule = nullptr;
        for (const KeyRule& candidate : m_rule->keys)
            if (candidate.key == key)
                rule = &candidate;
        if (!rule) {
            if (!looksLikeKey(key))
                return problem(m_line, {},
                               QStringLiteral("an unknown key, not shown: it may be part of a "
                                              "password that lost its key"));
            return problem(m_line, key, QStringLiteral("unknown key"));
        }
        const QString lineKey = m_rule->name + QLatin1Char('.') + key;
        if (m_keysGiven.contains(key) && !rule->repeatable)
            return problem(m_line, key,
                           QStringLiteral("given twice in this section (first on line %1)")
                               .arg(m_keyLines.value(lineKey)));
        m_keysGiven.insert(key);
        m_keyLines.insert(lineKey, m_line);
        if (const auto applied = rule->apply(m_settings, value, m_facts); !applied)
            problem(m_line, key, applied.error());
    }

    void finishSection()
    {
        if (!m_rule)
            return;
        for (const KeyRule& key : m_rule->keys)
            if (key.required && !m_keysGiven.contains(key.key))
                problem(m_sectionLine, key.key, QStringLiteral("required key is missing"));
        if (m_rule->finish)
            if (const auto found = m_rule->finish(m_keysGiven))
                problem(m_sectionLine, found->key, found->message);
        if (m_rule->check)
            for (const SectionProblem& found : m_rule->check(m_settings, m_keysGiven))
                problem(m_keysGiven.contains(found.key)
                            ? m_keyLines.value(m_rule->name + QLatin1Char('.') + found.key)
                            : m_sectionLine,
                        found.key, found.message);
        m_rule = nullptr;
    }

    FileFacts m_facts;
    PublisherSettings m_settings;
    QStringList m_errors;
    qsizetype m_unshown = 0; // problems past the first kProblemsShown
    int m_line = 0;
    const SectionRule* m_rule = nullptr; // null outside a section or in a bad one
    QString m_title;                     // "page", "target home"
    int m_sectionLine = 0;
    QSet<QString> m_keysGiven;
    QHash<QString, int> m_sectionLines; // title -> line
    QHash<QString, int> m_keyLines;     // "section.key" -> line
};

} // namespace

QString defaultConfigPath()
{
    return baseDirectory("XDG_CONFIG_HOME", ".config") + QStringLiteral("/quendle/publish.conf");
}

QString defaultPageFile()
{
    return baseDirectory("XDG_STATE_HOME", ".local/state") + QStringLiteral("/quendle/quendle.htm");
}

std::variant<PublisherSettings, ConfigErrors> readSettings(const QString& path)
{
    const auto refused = [&path](const QString& why) {
        return ConfigErrors{{QStringLiteral("%1: %2").arg(path, why)}};
    };
    // Opened as password_file is: a named pipe would block the open and a terminal take over
    // the program; both are refused below, once the file is open.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return refused(
            QStringLiteral("cannot read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    QFile file;
    file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat facts
    {
    };
    if (::fstat(file.handle(), &facts) != 0)
        return refused(
            QStringLiteral("cannot read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISREG(facts.st_mode))
        return refused(QStringLiteral("not a regular file (%1)").arg(kindOf(facts.st_mode)));
    // /proc and a file that grows while it is read may report a size other than what comes.
    const QByteArray bytes = file.read(kLargestFile + 1);
    if (facts.st_size > kLargestFile || bytes.size() > kLargestFile)
        return refused(QStringLiteral("larger than 1 MiB, too large for a configuration"));
    Reader reader(path, (facts.st_mode & 077) != 0);
    int number = 0;
    for (QByteArray line : bytes.split('\n')) {
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8(line);
        if (utf8.hasError())
            reader.problem(number, {}, QStringLiteral("the line is not UTF-8 text"));
        else
            reader.readLine(text, number);
    }
    return reader.finish();
}

} // namespace quendle
