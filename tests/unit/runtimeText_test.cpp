#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/memory.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;

// ---- Writing numbers ---------------------------------------------------------

enum Form { kPlain, kWidth, kPrefixed };

// Writes in one of the three forms; every form returns the address of its NUL.
std::string write(Form form, uint64_t value, uint64_t base, uint64_t width = 0) {
  char buffer[80];
  std::memset(buffer, 'x', sizeof buffer);
  char* const end = form == kPlain   ? unsignedToText(buffer, value, base)
                    : form == kWidth ? unsignedToTextWidth(buffer, value, width, base)
                                     : unsignedToTextPrefixed(buffer, value, base);
  EXPECT_EQ(end, buffer + std::strlen(buffer)) << buffer;
  return buffer;
}

// The readers' worked examples: a prefix of "0x" or "<base>#", reading up to
// the first letter that is no digit; null reads as 0.
TEST(RuntimeNumbers, ReadTheWorkedExamplesAndNothingFromNull) {
  EXPECT_EQ(parseUnsigned(" 0x1A", 16), 26u);
  EXPECT_EQ(parseUnsigned("0x12", 10), 12u);
  EXPECT_EQ(parseUnsigned("19", 8), 17u);
  EXPECT_EQ(parseUnsigned("12z", 10), 12u);
  EXPECT_EQ(parseUnsigned(nullptr, 10), 0u);
  EXPECT_EQ(textToNumber("0x1F"), 31u);
  EXPECT_EQ(textToNumber("16#ff"), 255u);
  EXPECT_EQ(textToNumber("2#101"), 5u);
  EXPECT_EQ(textToNumber("0x10#5"), 16u);
  EXPECT_EQ(textToNumber(nullptr), 0u);
}

// Bases below two write decimal.
TEST(RuntimeNumbers, WritesDigitsWidthsAndPrefixesInBasesFromTwoAndDecimalBelow) {
  struct {
    Form form;
    uint64_t value, base, width;
    std::string expected;
  } const cases[] = {
      {kPlain, 0, 10, 0, "0"},         {kPlain, 255, 16, 0, "FF"},
      {kPlain, 35, 36, 0, "Z"},        {kPlain, UINT64_MAX, 2, 0, std::string(64, '1')},
      {kWidth, 5, 10, 4, "0005"},      {kWidth, 12345, 10, 3, "345"},
      {kWidth, 0xABC, 16, 2, "BC"},    {kWidth, 7, 10, 0, ""},
      {kPrefixed, 255, 16, 0, "0xFF"}, {kPrefixed, 7, 8, 0, "8#7"},
      {kPrefixed, 5, 2, 0, "2#101"},   {kPrefixed, 42, 10, 0, "42"},
      {kPlain, 1234, 0, 0, "1234"},    {kPlain, 1234, 1, 0, "1234"},
      {kWidth, 1234, 0, 6, "001234"},  {kWidth, 1234, 1, 6, "001234"},
      {kPrefixed, 1234, 0, 0, "1234"}, {kPrefixed, 1234, 1, 0, "1234"},
  };
  for (auto const& c : cases) EXPECT_EQ(write(c.form, c.value, c.base, c.width), c.expected);
}

// ---- Texts ---------------------------------------------------------------------
// Tokens have no caller in the driver: null texts and the bounded split.

// Splits in place; at most `capacity` tokens are stored and the last one is
// cut off, leaving the rest of the text alone. Counting ignores the capacity.
TEST(RuntimeText, SplitStoresNoMoreThanCapacityAndCountAgrees) {
  struct {
    char const* text;
    uint64_t capacity, count;
    std::vector<std::string> expected;
  } const cases[] = {
      {" \t\r\n", 4, 0, {}},
      {"  one\ttwo\n\vthree  ", 4, 3, {"one", "two", "three"}},
      {"set \"a b  c\" done", 4, 3, {"set", "a b  c", "done"}},
      {"a \"open quote", 4, 2, {"a", "open quote"}},
      {"a b c d", 2, 4, {"a", "b"}},
      {"a b c d", 0, 4, {}},
  };
  for (auto const& c : cases) {
    std::string bytes = c.text;
    std::vector<char*> tokens(c.capacity + 1, nullptr);
    splitTokens(c.capacity, bytes.data(), tokens.data());
    EXPECT_EQ(tokens[c.capacity], nullptr) << "stored past the capacity";
    std::vector<std::string> const stored(tokens.begin(),
                                          std::find(tokens.begin(), tokens.end(), nullptr));
    EXPECT_EQ(stored, c.expected) << c.text;
    EXPECT_EQ(countTokens(c.text), c.count) << c.text;
  }
  char text[] = "a b c";
  char* tokens[1] = {};
  splitTokens(1, text, tokens);
  splitTokens(1, text, nullptr);
  EXPECT_EQ(0, std::memcmp(text, "a\0b c", 6));
  tokens[0] = nullptr;
  splitTokens(1, nullptr, tokens);
  EXPECT_EQ(tokens[0], nullptr);
  EXPECT_EQ(countTokens(nullptr), 0u);
}

TEST(RuntimeText, CompareTextIsSignedAndShorterIsLessAndMemoryIsUnsigned) {
  struct {
    char const* a;
    char const* b;
    int32_t expected;
  } const cases[] = {
      {"abc", "abc", 0},      {"abc", "abd", -1}, {"abd", "abc", 1}, {"ab", "abc", -1},
      {"abc", "ab", 1},       {"\x80", "a", -1},  {"a", "\x80", 1},  {"abc\x80", "abc", 1},
      {"abc", "abc\xff", -1}, {"", "", 0},        {nullptr, "", 0},  {nullptr, "a", -1},
      {"a", nullptr, 1},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(compareText(c.a, c.b), c.expected)
        << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
  }
  // Memory compares give the unsigned difference.
  unsigned char const a[] = {1, 2, 0x01}, b[] = {1, 2, 0xFF};
  EXPECT_EQ(compareMemory(a, b, 3), 1 - 255);
  EXPECT_EQ(compareMemory(b, a, 3), 255 - 1);
  EXPECT_EQ(compareMemory(a, b, 2), 0);
}

// The last n letters and their NUL; a null source is empty.
TEST(RuntimeText, CopyTextTailTakesTheLastLettersAndANullSourceAsEmpty) {
  struct {
    char const* source;
    uint64_t n;
    char expected[8];
  } const cases[] = {{"abcdef", 3, "def\0xxx"}, {nullptr, 2, "\0\0\0xxxx"}};
  for (auto const& c : cases) {
    char buffer[7];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(copyTextTail(buffer, c.source, c.n), buffer + c.n);
    EXPECT_EQ(0, std::memcmp(buffer, c.expected, sizeof buffer)) << c.n;
  }
  EXPECT_EQ(textLength(nullptr), 0u);
}

}  // namespace
