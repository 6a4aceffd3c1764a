// Entry rules: every item type and modifier with its result code and the refusal it posts,
// alternatives and "&", and malformed rules read no further than their text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/tty/tty_test_util.h"
#include "tty/TextMenu.h"

using tty_test::RunWithInput;

namespace {

class ValidateEntryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tty_test::OpenTestCatalogue(); }
};

// What the user sees (refusals end in the Enter message) and "=code".
std::string Check(const std::string& value, const std::string& rule) {
  return RunWithInput("\n\n\n", [&] {
    int code = ValidateEntry(value.c_str(), rule.c_str());
    printf("=%d", code);
  }).out;
}

}  // namespace

TEST_F(ValidateEntryTest, IntegerItem) {
  EXPECT_EQ(Check("7", "d(1,12)"), "=0");
  EXPECT_EQ(Check("13", "d(1,12)"), "Integer must be between 1 and 12.[Enter]=1");
  EXPECT_EQ(Check("1a", "d(1,12)"), "Invalid digit:  a\n[Enter]=3");
  EXPECT_EQ(Check("", "d(1,12)"), "Integer must be between 1 and 12.[Enter]=1");
  EXPECT_EQ(Check("17", "d(0,99)-7"), "Invalid digit:  7\n[Enter]=3");
  EXPECT_EQ(Check("1234", "d(5,0)"), "=0");  // max 0: no range check
  EXPECT_EQ(Check("5", "d(1,9)X"), "=0");    // a passed range goes on at the next | or &
}

TEST_F(ValidateEntryTest, LongNumberHexadecimalAndFloatItems) {
  EXPECT_EQ(Check("2", "D(1.5,2.5)"), "=0");
  EXPECT_EQ(Check("3.25", "D(1.5,2.5)"), "Number must be between 1.500000 and 2.500000.[Enter]=1");
  EXPECT_EQ(Check("2x", "D(1.5,2.5)"),
            "Invalid character 'x'\nThis text may contain \"0123456789.\"[Enter]=3");
  EXPECT_EQ(Check("ff", "x(10,255)"), "=0");
  EXPECT_EQ(Check("0x1F", "x(10,255)"), "=0");
  EXPECT_EQ(Check("1ff", "x(10,255)"), "Hex value must be between 10 and 255.[Enter]=1");
  EXPECT_EQ(Check("2.5", "f(0,10)"), "=0");
  EXPECT_EQ(Check("2.5.1", "f(0,10)"), "Only one decimal point.[Enter]=1");
  EXPECT_EQ(Check("11", "f(0,10)"), "This number must be between 0.000000 to 10.000000.[Enter]=1");
  EXPECT_EQ(Check("1,5", "f(0,10)"), "Bad character ',' in a number.[Enter]=3");
}

TEST_F(ValidateEntryTest, CharacterAndLengthItems) {
  EXPECT_EQ(Check("ab_1", "A(1,8)+_"), "=0");
  EXPECT_EQ(Check("ab-1", "A(1,8)+_"), "'-' is not allowed (also _).[Enter]=3");
  EXPECT_EQ(Check("abcdefghi", "A(1,8)+_"), "Enter 1 to 8 characters.[Enter]=2");
  EXPECT_EQ(Check("axb", "A(1,9)-x"), "'x' is not allowed (also ).[Enter]=3");
  EXPECT_EQ(Check("ab1", "a(2,3)+-+."), "'1' is not a letter (also -.).[Enter]=3");
  EXPECT_EQ(Check("a b!", "p(1,20)"), "=0");
  EXPECT_EQ(Check("a\tb", "p(1,20)"), "'\t' is not allowed (also ).[Enter]=3");
  EXPECT_EQ(Check("abcd", "L(2,3)"), "Enter 2 to 3 characters.[Enter]=2");
  EXPECT_EQ(Check("abc", "t(4,4)"), "Enter exactly 4 characters.[Enter]=2");
  EXPECT_EQ(Check("abcdefgh", "A(3,0)"), "=0");
  EXPECT_EQ(Check("/opt/x_y", "/A(1,255)+-+_+/"), "=0");
  EXPECT_EQ(Check("opt", "/A(1,255)+-+_+/"), "=3");  // nothing matched yet: no message
}

TEST_F(ValidateEntryTest, ExcludedValues) {
  EXPECT_EQ(Check("root", "!(root)"), "The value root is reserved.[Enter]=4");
  EXPECT_EQ(Check("rooty", "!(root)d(1,2)"), "=0");  // a different value ends the check
  EXPECT_EQ(Check("root", "t{root)"), "The value root is reserved.[Enter]=4");
  EXPECT_EQ(Check("a)b", "!(a\\)b)"), "The value a)b is reserved.[Enter]=4");
  EXPECT_EQ(Check("", "!()"), "The value  is reserved.[Enter]=4");
}

TEST_F(ValidateEntryTest, AlternativesAndFurtherChecks) {
  EXPECT_EQ(Check("42", "a(1,8)|d(1,99)"), "=0");
  EXPECT_EQ(Check("42", "a(1,8)|d(1,9)"), "Integer must be between 1 and 9.[Enter]=1");
  EXPECT_EQ(Check("admin", "A(1,8)&!(admin)"), "The value admin is reserved.[Enter]=4");
  EXPECT_EQ(Check("bob", "A(1,8) & !(admin)"), "=0");
  EXPECT_EQ(Check("ab", "a(1,9)&L(3,3)"), "Enter exactly 3 characters.[Enter]=2");
  EXPECT_EQ(Check("ab", "L(3,3)&a(1,9)|d(1,2)"), "Enter exactly 3 characters.[Enter]=2");
  EXPECT_EQ(Check("P1", "Q2|P1"), "=0");
  EXPECT_EQ(Check("any", ""), "=0");
  EXPECT_EQ(ValidateEntry("anything", nullptr), kEntryValid);
}

TEST_F(ValidateEntryTest, LiteralMismatchShowsTypedExpectedAndMatched) {
  EXPECT_EQ(Check("XZ", "XY"), "typed 'Z', expected 'Y' after \"X\".[Enter]=3");
  EXPECT_EQ(Check("QY", "XY"), "=3");
}

TEST_F(ValidateEntryTest, MessagesWithOtherConversionsShowError) {
  tty_test::PutMessage("25_1003", "Between %s and %s.");
  tty_test::PutMessage("25_1025", "typed '%c' after \"%s\".");
  EXPECT_EQ(Check("13", "d(1,12)"), "Error[Enter]=1");
  EXPECT_EQ(Check("XZ", "XY"), "Error[Enter]=3");
  tty_test::PutMessage("25_1003", "Integer must be between %d and %d.");
  tty_test::PutMessage("25_1025", "typed '%c', expected '%c' after \"%s\".");
}

TEST_F(ValidateEntryTest, MalformedRulesAreReadAsFarAsTheyAreSound) {
  EXPECT_EQ(Check("7", "d(1,12"), "=0");
  EXPECT_EQ(Check("13", "d(1,12"), "Integer must be between 1 and 12.[Enter]=1");
  EXPECT_EQ(Check("123", "d(,)"), "=0");  // no digits: range off
  EXPECT_EQ(Check("2147483647", "d(1,99999999999999999999)"), "=0");
  EXPECT_EQ(Check("99999999999999999999999", "d(1,99999999999999999999)"),
            "Integer must be between 1 and 2147483647.[Enter]=1");
  EXPECT_EQ(Check("4294967297", "d(0,5)"), "Integer must be between 0 and 5.[Enter]=1");
  EXPECT_EQ(Check("fffffffffffffffff", "x(0,2147483647)"),
            "Hex value must be between 0 and 2147483647.[Enter]=1");
  EXPECT_EQ(Check(std::string(6000, '9'), "D(1,2)"),
            "Number must be between 1.000000 and 2.000000.[Enter]=1");

  std::string longRule;
  for (int i = 0; i < 3000; i++) longRule += "A(1,8)|";
  EXPECT_EQ(Check("123456789", longRule + "d(1,5)"), "Integer must be between 1 and 5.[Enter]=1");
  EXPECT_EQ(Check("x", std::string(20000, '|')), "=0");
  EXPECT_EQ(Check("x", std::string(20000, '&') + "!(x)"), "The value x is reserved.[Enter]=4");
  EXPECT_EQ(Check("ab", "A(1,8)" + std::string(6000, '+')), "=0");
}

TEST_F(ValidateEntryTest, EveryCutOfARuleEndsWithinItsText) {
  const std::string full =
      "d(1,12)+x-y|A(1,8)+_&!(root)|f(0,1.5)|D(1,2)-3|x(1,ff)|L(2,3)|t(1,2)|p(1,2)+\\|a(1,2)";
  auto c = RunWithInput("", [&] {
    for (size_t n = 0; n <= full.size(); n++) {
      for (const char* value : {"", "7", "ab_", "root", "1.5.", "zz", "1234567890123"}) {
        std::unique_ptr<char[]> rule(new char[n + 1]);  // exactly the cut, for the sanitizer
        memcpy(rule.get(), full.data(), n);
        rule[n] = '\0';
        int code = ValidateEntry(value, rule.get());
        if (code < 0 || code > 4) printf("bad code %d for [%s] [%s]\n", code, value, rule.get());
      }
    }
    printf("done");
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_TRUE(c.out.size() >= 4 && c.out.substr(c.out.size() - 4) == "done") << c.out.substr(0, 300);
  EXPECT_EQ(c.out.find("bad code"), std::string::npos);
}

TEST_F(ValidateEntryTest, LengthAndDigitHelpers) {
  auto c = RunWithInput("\n\n", [] {
    printf("[%s]", ValidateEntryLen("abcd", nullptr) ? "msg" : "null");
    printf("[%s]", ValidateEntryLen("abc", nullptr));
    printf("[%s]", ValidateEntryLen(nullptr, "(1,3)"));
    printf("[%s]", ValidateEntryLen("abcdef", "2-5") ? NlsBuf : "null");
    int min = -1;
    int max = getMinMax("(4,8)", &min);
    printf("[%d %d]", max, min);
    max = getMinMax("4-8", &min);
    printf("[%d %d]", max, min);
    printf("[%c%d]", ValidateEntryDigit("12x4"), ValidateEntryDigit("1234"));
    printf("=%d", ValidateEntryTty("123", "(4,4)"));
    printf("=%d", ValidateEntryTty("12a4", "(4,4)"));
    printf("=%d", ValidateEntryTty("1234", "(4,4)"));
  });
  EXPECT_EQ(c.out,
            "[null][Enter exactly 4 characters.][Enter 1 to 3 characters.][Enter 2 to 5 characters.]"
            "[8 4][8 4][x0]Enter exactly 4 characters.[Enter]=2Invalid digit:  a\n[Enter]=3=0");
}
