// Reading the numbers typed into the Control window's boxes, and writing counts back.
#include "camera/NumberText.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

namespace lumenvale {
namespace {

struct LeadingCase {
    const char* text;
    double value;
};

class LeadingNumberTest : public ::testing::TestWithParam<LeadingCase> {};

TEST_P(LeadingNumberTest, ReadsTheNumberAtTheStart) {
    EXPECT_DOUBLE_EQ(LeadingNumber(QString::fromUtf8(GetParam().text)), GetParam().value)
        << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LeadingNumberTest,
    ::testing::Values(
        // No number at all.
        LeadingCase{"", 0}, LeadingCase{"abc", 0}, LeadingCase{"-", 0}, LeadingCase{"+", 0},
        LeadingCase{".", 0}, LeadingCase{"-.", 0}, LeadingCase{"x5", 0},
        // Plain and signed numbers, fractions with and without whole part.
        LeadingCase{"5", 5}, LeadingCase{"-3", -3}, LeadingCase{"+7", 7}, LeadingCase{"2.5", 2.5},
        LeadingCase{".5", 0.5}, LeadingCase{"5.", 5}, LeadingCase{"-.25", -0.25},
        LeadingCase{"007", 7},
        // Blanks, tabs and line feeds are ignored wherever they stand.
        LeadingCase{"  12", 12}, LeadingCase{"1 2", 12}, LeadingCase{"\t-\t3", -3},
        LeadingCase{"2\n.\n5", 2.5}, LeadingCase{"3 abc", 3},
        // Reading stops at the first character that cannot continue the number.
        LeadingCase{"2.5.1", 2.5}, LeadingCase{"1e3", 1}, LeadingCase{"2,5", 2},
        LeadingCase{"4s", 4}, LeadingCase{"--3", 0}, LeadingCase{"3-", 3}, LeadingCase{"5\r\n", 5},
        LeadingCase{"0x10", 0},
        // Digits of other scripts are not digits here.
        LeadingCase{"\xd9\xa3", 0}));

TEST(LeadingNumberLimitsTest, FullStopIsTheSeparatorWhateverTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_DOUBLE_EQ(LeadingNumber(QStringLiteral("0.5")), 0.5);
    EXPECT_DOUBLE_EQ(LeadingNumber(QStringLiteral("0,5")), 0.0);
    QLocale::setDefault(before);
}

TEST(LeadingNumberLimitsTest, TooManyDigitsGiveInfinityOrZero) {
    const QString huge = QString(400, u'9');
    EXPECT_EQ(LeadingNumber(huge), std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeadingNumber(QStringLiteral("-") + huge), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeadingNumber(QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1")), 0.0);
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
    const struct {
        double in;
        double out;
    } cases[] = {{0.5, 0},   {1.5, 2},         {2.5, 2},      {3.5, 4},    {-0.5, 0},
                 {-1.5, -2}, {-2.5, -2},       {2.4999, 2},   {2.5001, 3}, {-2.6, -3},
                 {7, 7},     {32767.5, 32768}, {1e300, 1e300}};
    for (const auto& c : cases) {
        EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
    }
}

// Halves go to the even neighbour: "-32768.5" still fits, "32767.5" does not.
TEST(TextToCountTest, RoundsIntoSixteenBitsAndRefusesWhatDoesNotFit) {
    for (const auto& [text, count] :
         {std::pair{"2.5", 2}, std::pair{"3.5", 4}, std::pair{"", 0}, std::pair{"abc", 0},
          std::pair{"-3", -3}, std::pair{"32767", 32767}, std::pair{"32767.4", 32767},
          std::pair{"-32768", -32768}, std::pair{"-32768.5", -32768}}) {
        EXPECT_EQ(TextToCount(QString::fromLatin1(text)), count) << text;
    }
    for (const char* text : {"32768", "32767.5", "-32769", "-32768.6", "100000", "1 00000"}) {
        EXPECT_FALSE(TextToCount(QString::fromLatin1(text))) << text;
    }
    EXPECT_FALSE(TextToCount(QString(400, u'9')));
}

// "0.0025" is 2.5 ms: halves to even again.
TEST(SecondsTextToMsTest, MultipliesThenRoundsIntoThirtyTwoBitsAndRefusesWhatDoesNotFit) {
    for (const auto& [text, ms] :
         {std::pair{"0.5", 500}, std::pair{"2", 2000}, std::pair{"0.05", 50}, std::pair{"", 0},
          std::pair{"-1", -1000}, std::pair{"0.0025", 2}, std::pair{"0.0035", 4},
          std::pair{"2147483.647", 2147483647}, std::pair{"-2147483.648", -2147483647 - 1}}) {
        EXPECT_EQ(SecondsTextToMs(QString::fromLatin1(text)), ms) << text;
    }
    for (const char* text : {"2147483.648", "-2147483.649", "3000000"}) {
        EXPECT_FALSE(SecondsTextToMs(QString::fromLatin1(text))) << text;
    }
    EXPECT_FALSE(SecondsTextToMs(QString(400, u'9')));
}

TEST(CountToTextTest, BlankBeforeZeroAndPositive) {
    EXPECT_EQ(CountToText(5), QStringLiteral(" 5"));
    EXPECT_EQ(CountToText(0), QStringLiteral(" 0"));
    EXPECT_EQ(CountToText(-1), QStringLiteral("-1"));
    EXPECT_EQ(CountToText(32767), QStringLiteral(" 32767"));
    EXPECT_EQ(CountToText(-32768), QStringLiteral("-32768"));
}

} // namespace
} // namespace lumenvale
