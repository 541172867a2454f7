#include "appcore/numericvalue.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

using namespace quendle;

namespace {

struct Case
{
    const char* text;
    double value;
};

TEST(NumericValue, ReadsTheLeadingNumber)
{
    const Case cases[] = {
        {"2", 2},       {"2.5", 2.5},   {" 1 5", 15},  {"", 0},          {"abc", 0},
        {"-3", -3},     {"0.01", 0.01}, {"1E3", 1000}, {"1e3", 1000},    {"2,5", 2},
        {"\t1\n0", 10}, {"+4", 4},      {".5", 0.5},   {"1.2.3", 1.2},   {"7abc", 7},
        {"1e", 1},      {"1e+", 1},     {"2E-1", 0.2}, {"- 3", -3},      {".", 0},
        {"-", 0},       {"1\r5", 1},    {"1e-400", 0}, {"1e308", 1e308},
    };
    for (const Case& c : cases) {
        const auto value = numericValue(QString::fromUtf8(c.text));
        ASSERT_TRUE(value.has_value()) << "text: \"" << c.text << "\"";
        EXPECT_DOUBLE_EQ(*value, c.value) << "text: \"" << c.text << "\"";
    }
}

TEST(NumericValue, TooLargeForADoubleIsAnOverflow)
{
    EXPECT_FALSE(numericValue("1e309").has_value());
    EXPECT_FALSE(numericValue("-1E400").has_value());
    EXPECT_FALSE(numericValue(QString(400, QLatin1Char('9'))).has_value());
}

TEST(NumericValue, IgnoresTheProcessLocale)
{
    // Build a locale whose decimal separator is a comma in a private folder and make it current.
    QTemporaryDir locales;
    const QString target = locales.path() + "/de_DE.UTF-8";
    const int built =
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"), QStringLiteral("-c"), target});
    ASSERT_TRUE(QDir(target).exists())
        << "localedef failed (" << built << "); the locales package provides its sources";
    setenv("LOCPATH", locales.path().toLocal8Bit().constData(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");

    const auto withStop = numericValue("2.5");
    const auto withComma = numericValue("2,5");

    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    EXPECT_DOUBLE_EQ(withStop.value_or(-1), 2.5);
    EXPECT_DOUBLE_EQ(withComma.value_or(-1), 2);
}

} // namespace
