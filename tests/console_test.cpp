// The console runtime: exact bytes of prints, the input statement and the closing prompt.
#include "console/console.h"

#include <gtest/gtest.h>

#include "tests/harness.h"

namespace kv {
namespace {

using kvtest::ExitRequest;
using kvtest::FakePlatform;

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetPlatform(&fake_); }
  void TearDown() override { SetPlatform(previous_); }
  FakePlatform fake_;
  Platform* previous_ = nullptr;
};

TEST_F(ConsoleTest, PrintsExactBytes) {
  PrintText("");
  EXPECT_EQ(fake_.output, "");
  PrintLine("");
  EXPECT_EQ(fake_.output, "\r\n");
  PrintText("ab");
  PrintLine("c");
  EXPECT_EQ(fake_.output, "\r\nabc\r\n");
}

TEST_F(ConsoleTest, MessagesAreCodePage932) {
  // ソ and 表 carry the byte 0x5C as their second byte.
  PrintText("ソ表");
  EXPECT_EQ(fake_.output, "\x83\x5C\x95\x5C");
  fake_.output.clear();
  PrintLine("データが有りません。");
  EXPECT_EQ(fake_.output,
            "\x83\x66\x81\x5B\x83\x5E\x82\xAA\x97\x4C\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42\r\n");
  fake_.output.clear();
  PrintText("終了します。Press Enter Key. ");
  EXPECT_EQ(fake_.output, "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42Press Enter Key. ");
  fake_.output.clear();
  PrintText("（長さ）ｱ");
  EXPECT_EQ(fake_.output, "\x81\x69\x92\xB7\x82\xB3\x81\x6A\xB1");
}

TEST_F(ConsoleTest, NumericTargetsConvertThroughDouble) {
  struct Case {
    const char* typed;
    int32_t expected;
  };
  for (const Case& c : {Case{"3.9", 3}, Case{"-3.9", -3}, Case{"&H14", 20}, Case{" 12", 12},
                        Case{"", 0}, Case{"abc", 0}, Case{"1e300", 1},
                        Case{"99999999999", 2147483647}, Case{"-99999999999", -2147483647 - 1}}) {
    int32_t value = 99;
    fake_.input = {c.typed};
    EXPECT_TRUE(InputItems("?", {&value}));
    EXPECT_EQ(value, c.expected) << c.typed;
  }
}

TEST_F(ConsoleTest, EveryTargetKind) {
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string text = "old";
  fake_.input = {"300,-1,70000,-1,-1,-9007199254740993,9007199254740993,0.1,2.5, x y"};
  InputItems("", {&i8, &u8, &i16, &u16, &u32, &i64, &u64, &f, &d, &text});
  EXPECT_EQ(i8, 44);  // low 8 bits of 300
  EXPECT_EQ(u8, 255);
  EXPECT_EQ(i16, 4464);  // low 16 bits of 70000
  EXPECT_EQ(u16, 65535);
  EXPECT_EQ(u32, 4294967295u);
  EXPECT_EQ(i64, -9007199254740992);
  EXPECT_EQ(u64, 9007199254740992u);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(text, " x y");
}

TEST_F(ConsoleTest, ItemCountMismatchAsksAgain) {
  int32_t value = 0;
  fake_.input = {"1,2", "a,,b", "7"};
  EXPECT_TRUE(InputItems("P:", {&value}));
  EXPECT_EQ(value, 7);
  const std::string tooMany = "入力データの個数が多すぎます\n";
  EXPECT_EQ(fake_.output, "P:" + tooMany + "P:" + tooMany + "P:");

  fake_.output.clear();
  std::string a;
  std::string b;
  fake_.input = {"x", "x,y"};
  InputItems("Q", {&a, &b});
  EXPECT_EQ(fake_.output, "Q" + std::string("入力データの個数が足りません\n") + "Q");
  EXPECT_EQ(a, "x");
  EXPECT_EQ(b, "y");
}

TEST_F(ConsoleTest, TextTargetsKeepTheirBytes) {
  std::string text;
  fake_.input = {""};
  EXPECT_TRUE(InputItems("", {&text}));
  EXPECT_TRUE(TextEquals(text, ""));
  fake_.input = {" Y"};
  InputItems("", {&text});
  EXPECT_FALSE(TextEquals(text, "Y"));
  EXPECT_FALSE(TextEquals("y", "Y"));
}

TEST_F(ConsoleTest, EndOfInputGivesTheEmptyLine) {
  int32_t value = 5;
  EXPECT_FALSE(InputItems("", {&value}));
  EXPECT_EQ(value, 0);
  // Two targets can never be satisfied once the input has ended: the run ends.
  std::string a;
  std::string b;
  try {
    InputItems("", {&a, &b});
    FAIL() << "the run should have ended";
  } catch (const ExitRequest& e) {
    EXPECT_EQ(e.code, kNoWork);
  }
}

TEST_F(ConsoleTest, EndRunWaitsForALineWithoutComma) {
  fake_.input = {"1,2", ""};
  try {
    EndRun();
  } catch (const ExitRequest& e) {
    EXPECT_EQ(e.code, 0);
  }
  const std::string prompt = "終了します。Press Enter Key. ";
  EXPECT_EQ(fake_.output, "\r\n" + prompt + "入力データの個数が多すぎます\n" + prompt);
  EXPECT_TRUE(fake_.input.empty());
}

}  // namespace
}  // namespace kv
