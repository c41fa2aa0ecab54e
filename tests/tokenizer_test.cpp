#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input/tokenizer.h"
#include "support/memory_streams.h"

namespace {

// Reads items from a fixed text; the echo is collected in memory.
class Stream : public kavrel_test::TextInput {
 public:
  using TextInput::TextInput;
  std::string word(int capacity = 128) {
    std::string buffer(capacity, '#');
    int count = -7;
    last_result = kavrel::read_word(input, count, capacity, buffer.data());
    std::string text(buffer.c_str());
    EXPECT_EQ(count, static_cast<int>(text.size()));
    return text;
  }
  uint32_t number() {
    uint32_t value = 77;
    last_result = kavrel::read_unsigned(input, value);
    return value;
  }
  double real() {
    double value = 77.0;
    last_result = kavrel::read_real(input, value);
    return value;
  }

  int last_result = 99;
};

TEST(Tokenizer, CommentInsideWordJoinsItsHalves) {
  Stream s("r1{note}0 4");
  EXPECT_EQ(s.word(), "r10");
  EXPECT_EQ(s.echo(), "{note}");
  EXPECT_EQ(s.number(), 4u);
  EXPECT_EQ(s.last_result, 0);
  EXPECT_EQ(s.echo(), "{note} ");
  EXPECT_EQ(s.input.pending_char, 0);
}

TEST(Tokenizer, LeadingSeparatorsAndCommentsAreEchoedTheEndingSeparatorIsPending) {
  Stream s("  abc{x}def ghi");
  EXPECT_EQ(s.word(), "abcdef");
  EXPECT_EQ(s.echo(), "  {x}");
  EXPECT_EQ(s.input.pending_char, ' ');
  EXPECT_EQ(s.word(), "ghi");
  EXPECT_EQ(s.echo(), "  {x} ");
  EXPECT_EQ(s.word(), "");
  EXPECT_EQ(s.last_result, -1);
}

TEST(Tokenizer, NestedCommentIsPrintedWholeBeforeTheNumber) {
  Stream s("{a {b} c}7");
  EXPECT_EQ(s.number(), 7u);
  EXPECT_EQ(s.echo(), "{a {b} c}");
}

TEST(Tokenizer, EndOfInputInsideComment) {
  Stream empty_word(" {abc {d}");
  EXPECT_EQ(empty_word.word(), "");
  EXPECT_EQ(empty_word.last_result, -1);
  EXPECT_EQ(empty_word.echo(), " {abc {d}");

  Stream begun_word("ab{cd");
  EXPECT_EQ(begun_word.word(), "ab");
  EXPECT_EQ(begun_word.last_result, 0);
  EXPECT_EQ(begun_word.input.pending_char, 0);
}

TEST(Tokenizer, EveryReaderClearsItsOutputEvenAtEndOfInput) {
  Stream s("");
  EXPECT_EQ(s.word(), "");
  EXPECT_EQ(s.last_result, -1);
  EXPECT_EQ(s.number(), 0u);
  EXPECT_EQ(s.last_result, -1);
  EXPECT_EQ(s.real(), 0.0);
  EXPECT_EQ(s.last_result, -1);
  EXPECT_EQ(s.echo(), "");
}

TEST(Tokenizer, SeparatorsAreSpaceTabLineEndsCommaSemicolon) {
  Stream s("r1,1;2\t3\r\n4");
  EXPECT_EQ(s.word(), "r1");
  EXPECT_EQ(s.number(), 1u);
  EXPECT_EQ(s.number(), 2u);
  EXPECT_EQ(s.number(), 3u);
  EXPECT_EQ(s.number(), 4u);
  EXPECT_EQ(s.echo(), ",;\t\r\n");
}

TEST(Tokenizer, FormFeedVerticalTabAndStrayClosingBraceAreWordCharacters) {
  Stream s("a\fb\vc}d e");
  EXPECT_EQ(s.word(), "a\fb\vc}d");
}

TEST(Tokenizer, WordAtCapacityEndsAndTheNextLetterIsOnlyEchoed) {
  std::string letters(130, 'q');
  letters[127] = 'Z';  // the 128th letter
  letters[128] = 'y';
  Stream s(letters + " ");
  EXPECT_EQ(s.word(), std::string(127, 'q'));
  EXPECT_EQ(s.input.pending_char, 'Z');
  EXPECT_EQ(s.word(), "yq");
  EXPECT_EQ(s.echo(), "Z");
}

TEST(Tokenizer, UnsignedDropsEveryNonDigit) {
  Stream s("-5 1.5 12a3 x y 3");
  EXPECT_EQ(s.number(), 5u);
  EXPECT_EQ(s.number(), 15u);
  EXPECT_EQ(s.number(), 123u);
  EXPECT_EQ(s.echo(), "  ");
  EXPECT_EQ(s.number(), 3u);
  EXPECT_EQ(s.echo(), "     ");
}

TEST(Tokenizer, NumberAtEndOfInputIsCompletedAndNothingIsPending) {
  Stream s("42");
  EXPECT_EQ(s.number(), 42u);
  EXPECT_EQ(s.last_result, 0);
  EXPECT_EQ(s.input.pending_char, 0);
  s.number();
  EXPECT_EQ(s.last_result, -1);
  EXPECT_EQ(s.echo(), "");
}

TEST(Tokenizer, UnsignedSaturatesAtTwoToTheThirtyTwoMinusOne) {
  Stream s("4294967295 4294967296 99999999999 429496729 5");
  EXPECT_EQ(s.number(), 4294967295u);
  EXPECT_EQ(s.number(), 4294967295u);
  EXPECT_EQ(s.number(), 4294967295u);
  EXPECT_EQ(s.number(), 429496729u);
}

TEST(Tokenizer, RealValuesAsStored) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.5e3", 1500.0},
      {".5", 0.5},
      {"5.", 5.0},
      {"1.2.3", 1.2300000000000002},
      {"3-4", 34.0},
      {"12k", 12.0},
      {"1E+3", 1000.0},
      {"1e-3e4", 1e34},
      {"38.4", 38.400000000000006},
      {"1e-3", 0.0010000000000000002},
      {"4.7e-12", 4.700000000000004e-12},
      {"-1.5e-3", -0.0015000000000000005},
  };
  for (const Case& c : cases) {
    Stream s(c.text);
    EXPECT_EQ(s.real(), c.value) << c.text;
    EXPECT_EQ(s.last_result, 0) << c.text;
  }
}

TEST(Tokenizer, RealNegativeExponentAfterTheDigits) {
  Stream s("1e3-2");
  double value = s.real();
  EXPECT_NEAR(value, 1e-32, 1e-45);
}

TEST(Tokenizer, LoneMinusIsNegativeZero) {
  Stream s("- 7");
  double value = s.real();
  EXPECT_EQ(s.last_result, 0);
  EXPECT_EQ(value, 0.0);
  EXPECT_TRUE(std::signbit(value));
}

TEST(Tokenizer, LonePointIsNoItemButStillCountsForTheNumberAfterIt) {
  Stream s(". x 2");
  EXPECT_EQ(s.real(), 0.2);
  EXPECT_EQ(s.echo(), "  ");
}

TEST(Tokenizer, HugeExponentsAndMantissasEndQuickly) {
  Stream big("1e99999999999999999999 1e-99999999999999999999 " + std::string(100000, '9') + " 0." +
             std::string(100000, '0') + "1");
  EXPECT_TRUE(std::isinf(big.real()));
  EXPECT_EQ(big.real(), 0.0);
  EXPECT_TRUE(std::isinf(big.real()));
  EXPECT_EQ(big.real(), 0.0);
  EXPECT_EQ(big.last_result, 0);
}

TEST(Tokenizer, DeepCommentsDoNotRecurse) {
  const std::string open(1000000, '{');
  const std::string close(1000000, '}');
  Stream closed(open + close + "w");
  EXPECT_EQ(closed.word(), "w");
  EXPECT_EQ(closed.echo(), open + close);

  Stream unclosed(open + "}w");
  EXPECT_EQ(unclosed.word(), "");
  EXPECT_EQ(unclosed.last_result, -1);
}

TEST(Tokenizer, PendingSeparatorIsPrintedByTheNextReadOfAnyKind) {
  Stream s("a\n2\t3.5;");
  EXPECT_EQ(s.word(), "a");
  EXPECT_EQ(s.number(), 2u);
  EXPECT_EQ(s.real(), 3.5);
  EXPECT_EQ(s.echo(), "\n\t");
  EXPECT_EQ(s.input.pending_char, ';');
}

}  // namespace
