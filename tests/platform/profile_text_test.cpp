// The INI text functions, fed literal text.

#include <gtest/gtest.h>

#include <string>

#include "platform/profile/profile.h"

namespace tarnwick::platform {
namespace {

TEST(ProfileText, ReadsNamesWithoutRegardToCaseAndBlanks) {
    const std::string text =
        "; settings\n"
        "[1_Workstation]\n"
        "  1_path =  C:\\Data  \n"
        "1_TYPE=3\n"
        "\n"
        "[Other]\n"
        "1_PATH=D:\\Else\n";
    EXPECT_EQ(ProfileValue(text, "1_WORKSTATION", "1_PATH"), "C:\\Data");
    EXPECT_EQ(ProfileValue(text, " 1_workstation ", "1_Type"), "3");
    EXPECT_EQ(ProfileValue(text, "other", "1_path"), "D:\\Else");
    EXPECT_EQ(ProfileValue(text, "1_WORKSTATION", "2_PATH"), std::nullopt);
    EXPECT_EQ(ProfileValue(text, "2_WORKSTATION", "1_PATH"), std::nullopt);
    EXPECT_EQ(ProfileValue("", "a", "b"), std::nullopt);
    // Keys before any section, comments and lines without '=' belong to nothing.
    EXPECT_EQ(ProfileValue("k=v\n[s]\n;k=c\nk\n", "s", "k"), std::nullopt);
    EXPECT_EQ(ProfileValue("[s]\nk=\n", "s", "k"), "");
}

TEST(ProfileText, CrlfAndLfReadAlikeAndKeepTheirStyle) {
    const std::string crlf = "[s]\r\na=1\r\nb=2\r\n";
    EXPECT_EQ(ProfileValue(crlf, "s", "a"), "1");
    EXPECT_EQ(ProfileValue(crlf, "s", "b"), "2");
    EXPECT_EQ(ProfileWithValue(crlf, "s", "a", "9"), "[s]\r\na=9\r\nb=2\r\n");
    EXPECT_EQ(ProfileWithValue(crlf, "s", "c", "3"), "[s]\r\na=1\r\nb=2\r\nc=3\r\n");
    EXPECT_EQ(ProfileWithValue(crlf, "t", "x", "y"), "[s]\r\na=1\r\nb=2\r\n\r\n[t]\r\nx=y\r\n");
    EXPECT_EQ(ProfileWithValue("", "t", "x", "y"), "[t]\nx=y\n");
    // A last line without its line end gets one before anything follows it.
    EXPECT_EQ(ProfileWithValue("[s]\na=1", "s", "b", "2"), "[s]\na=1\nb=2\n");
    EXPECT_EQ(ProfileWithValue("[s]\r\na=1", "t", "b", "2"), "[s]\r\na=1\r\n\r\n[t]\r\nb=2\r\n");
}

TEST(ProfileText, OverwritesInPlaceAndAddsAtTheEndOfTheSection) {
    const std::string text =
        "; kept\n"
        "[A]\n"
        "x = 1 \n"
        "; about y\n"
        "y=2\n"
        "\n"
        "\n"
        "[B]\n"
        "x=3\n";
    // The line is replaced where it stands; everything else stays byte for byte.
    EXPECT_EQ(ProfileWithValue(text, "a", "X", "10"),
              "; kept\n[A]\nX=10\n; about y\ny=2\n\n\n[B]\nx=3\n");
    // A new key follows the last key line, before the blank lines that end the section.
    EXPECT_EQ(ProfileWithValue(text, "A", "z", "4"),
              "; kept\n[A]\nx = 1 \n; about y\ny=2\nz=4\n\n\n[B]\nx=3\n");
    EXPECT_EQ(ProfileWithValue("[A]\n\n[B]\n", "A", "k", "v"), "[A]\nk=v\n\n[B]\n");
    // A new section goes to the end, after a blank line unless one is there.
    EXPECT_EQ(ProfileWithValue(text, "C", "k", "v"), text + "\n[C]\nk=v\n");
    EXPECT_EQ(ProfileWithValue("[A]\nk=v\n\n", "C", "k", "v"), "[A]\nk=v\n\n[C]\nk=v\n");
}

TEST(ProfileText, EraseSectionRemovesItsKeysOnly) {
    const std::string text = "; top\n[A]\na=1\n\n[B]\nb=1\n; b's\n\n[C]\nc=1\n";
    EXPECT_EQ(ProfileWithoutSection(text, "b"), "; top\n[A]\na=1\n\n[C]\nc=1\n");
    EXPECT_EQ(ProfileWithoutSection(text, "C"), "; top\n[A]\na=1\n\n[B]\nb=1\n; b's\n\n");
    EXPECT_EQ(ProfileWithoutSection(text, "missing"), text);
    EXPECT_EQ(ProfileValue(ProfileWithoutSection(text, "A"), "A", "a"), std::nullopt);
}

TEST(ProfileText, FirstOfDuplicateSectionsAndKeysWins) {
    const std::string text = "[S]\nk=first\nk=second\n[s]\nk=third\nonly=later\n";
    EXPECT_EQ(ProfileValue(text, "s", "k"), "first");
    // Keys of a later duplicate section are not seen.
    EXPECT_EQ(ProfileValue(text, "s", "only"), std::nullopt);
    EXPECT_EQ(ProfileWithValue(text, "s", "K", "new"),
              "[S]\nK=new\nk=second\n[s]\nk=third\nonly=later\n");
    // Erasing takes every section of the name, so no older duplicate comes back.
    EXPECT_EQ(ProfileWithoutSection(text, "S"), "");
}

TEST(ProfileText, QuotesKeepBlanksAndQuotedValues) {
    for (const std::string value : {" lead", "trail ", "\tboth\t", "\"quoted\"", "\"", "\"half",
                                    "a \"mid\" b", "", "plain", "'single'", "'",
                                    "'mixed\"", "\"'both'\""}) {
        const auto text = ProfileWithValue("", "s", "k", value);
        ASSERT_TRUE(text.has_value()) << value;
        EXPECT_EQ(ProfileValue(*text, "s", "k"), value) << *text;
    }
    EXPECT_EQ(ProfileWithValue("", "s", "k", " x"), "[s]\nk=\" x\"\n");
    EXPECT_EQ(ProfileValue("[s]\nk=  \"  padded \"  \n", "s", "k"), "  padded ");
    EXPECT_EQ(ProfileValue("[s]\nk=\"\"\n", "s", "k"), "");
    // Single quotes enclose as double ones do; a mismatched pair stays.
    EXPECT_EQ(ProfileValue("[s]\n1_PATH='C:\\Data'\n", "s", "1_PATH"), "C:\\Data");
    EXPECT_EQ(ProfileValue("[s]\nk=''\n", "s", "k"), "");
    EXPECT_EQ(ProfileValue("[s]\nk='x\"\n", "s", "k"), "'x\"");
    EXPECT_EQ(ProfileWithValue("", "s", "k", "'x'"), "[s]\nk=\"'x'\"\n");
}

TEST(ProfileText, RefusesWhatTheLayoutCannotHold) {
    EXPECT_EQ(ProfileWithValue("", "s", "k", "a\nb"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", "k", "a\rb"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", "k", std::string("a\0b", 3)), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s]x", "k", "v"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s\n", "k", "v"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", "a=b", "v"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", "  ", "v"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", ";k", "v"), std::nullopt);
    EXPECT_EQ(ProfileWithValue("", "s", "[k", "v"), std::nullopt);
    // A value may hold '=', ';' and brackets.
    EXPECT_EQ(ProfileValue(*ProfileWithValue("", "s", "k", "=a;[b]"), "s", "k"), "=a;[b]");
}

TEST(ProfileText, ValuesAreCutAtTheReadLimitAndAtNul) {
    const std::string longValue(3000, 'x');
    EXPECT_EQ(ProfileValue("[s]\nk=" + longValue + "\n", "s", "k"),
              std::string(kMaxProfileValueLength, 'x'));
    EXPECT_EQ(ProfileValue(std::string("[s]\nk=ab\0cd\n", 12), "s", "k"), "ab");
}

TEST(ProfileText, IntegersAreWholeNumbersInRange) {
    EXPECT_EQ(ParseProfileInteger("3"), 3);
    EXPECT_EQ(ParseProfileInteger("-1"), -1);
    EXPECT_EQ(ParseProfileInteger("+7"), 7);
    EXPECT_EQ(ParseProfileInteger("007"), 7);
    EXPECT_EQ(ParseProfileInteger("0x1F"), 31);
    EXPECT_EQ(ParseProfileInteger("0XfF"), 255);
    EXPECT_EQ(ParseProfileInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseProfileInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseProfileInteger("0x7FFFFFFF"), 2147483647);
    for (const char* bad : {"", "-", "+", "3a", "a3", "1 2", "0x", "0xG", "-0x1", "2147483648",
                            "-2147483649", "0x80000000", "99999999999999999999999", "1.5"}) {
        EXPECT_EQ(ParseProfileInteger(bad), std::nullopt) << bad;
    }
}

TEST(ProfileText, MalformedLinesDoNotDisturbTheRest) {
    const std::string text =
        "garbage without equals\n"
        "[unclosed\n"
        "k=in unclosed\n"
        "[ s ] trailing words\n"
        "=no name\n"
        "k=v\n";
    EXPECT_EQ(ProfileValue(text, "unclosed", "k"), "in unclosed");
    EXPECT_EQ(ProfileValue(text, "s", "k"), "v");
    const auto written = ProfileWithValue(text, "s", "n", "1");
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(ProfileValue(*written, "unclosed", "k"), "in unclosed");
    EXPECT_EQ(ProfileValue(*written, "s", "n"), "1");
}

}  // namespace
}  // namespace tarnwick::platform
