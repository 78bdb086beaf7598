#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/memory.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;

// ---- Reading numbers ---------------------------------------------------------

TEST(RuntimeNumbers, ParseUnsigned) {
  struct {
    char const* text;
    uint64_t base;
    uint64_t expected;
  } const cases[] = {
      {" 0x1A", 16, 26},
      {"0x12", 10, 12},
      {"19", 8, 17},
      {"12z", 10, 12},
      {"\t\n\v\f\r 42", 10, 42},
      {"0XfF", 16, 255},
      {"1a", 10, 1},
      {"ff", 8, 0},
      {"", 10, 0},
      {"18446744073709551616", 10, 0},  // 2^64 wraps
      {"18446744073709551615", 10, UINT64_MAX},
  };
  for (auto const& c : cases) EXPECT_EQ(parseUnsigned(c.text, c.base), c.expected) << c.text;
  EXPECT_EQ(parseUnsigned(nullptr, 10), 0u);
}

TEST(RuntimeNumbers, TextToNumber) {
  struct {
    char const* text;
    uint64_t expected;
  } const cases[] = {
      {"0x1F", 31}, {"16#ff", 255}, {"2#101", 5}, {"0x10#5", 16}, {"  0X1f", 31},
      {"42", 42},   {"10#9a", 9},   {"8#ff", 0},  {"", 0},        {"16#FFz", 255},
  };
  for (auto const& c : cases) EXPECT_EQ(textToNumber(c.text), c.expected) << c.text;
  EXPECT_EQ(textToNumber(nullptr), 0u);
}

// ---- Writing numbers ---------------------------------------------------------

TEST(RuntimeNumbers, UnsignedToTextEndsAtTheNul) {
  char buffer[80];
  char* end = unsignedToText(buffer, 0, 10);
  EXPECT_STREQ(buffer, "0");
  EXPECT_EQ(end, buffer + 1);
  end = unsignedToText(buffer, 255, 16);
  EXPECT_STREQ(buffer, "FF");
  EXPECT_EQ(*end, '\0');
  EXPECT_EQ(end, buffer + 2);
  unsignedToText(buffer, 35, 36);
  EXPECT_STREQ(buffer, "Z");
  end = unsignedToText(buffer, UINT64_MAX, 2);
  EXPECT_EQ(std::string(buffer), std::string(64, '1'));
  EXPECT_EQ(end, buffer + 64);
}

TEST(RuntimeNumbers, WidthKeepsTheLowDigits) {
  char buffer[16];
  char* end = unsignedToTextWidth(buffer, 5, 4, 10);
  EXPECT_STREQ(buffer, "0005");
  EXPECT_EQ(end, buffer + 4);
  unsignedToTextWidth(buffer, 12345, 3, 10);
  EXPECT_STREQ(buffer, "345");
  unsignedToTextWidth(buffer, 0xABC, 2, 16);
  EXPECT_STREQ(buffer, "BC");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(unsignedToTextWidth(buffer, 7, 0, 10), buffer);
  EXPECT_STREQ(buffer, "");
}

TEST(RuntimeNumbers, PrefixedReadsBackThroughTextToNumber) {
  char buffer[80];
  unsignedToTextPrefixed(buffer, 255, 16);
  EXPECT_STREQ(buffer, "0xFF");
  unsignedToTextPrefixed(buffer, 7, 8);
  EXPECT_STREQ(buffer, "8#7");
  unsignedToTextPrefixed(buffer, 5, 2);
  EXPECT_STREQ(buffer, "2#101");
  char* end = unsignedToTextPrefixed(buffer, 42, 10);
  EXPECT_STREQ(buffer, "42");
  EXPECT_EQ(end, buffer + 2);

  for (uint64_t base : {2, 3, 8, 10, 16}) {
    for (uint64_t value : {uint64_t{0}, uint64_t{1}, uint64_t{9}, uint64_t{1234567}, UINT64_MAX}) {
      unsignedToTextPrefixed(buffer, value, base);
      EXPECT_EQ(textToNumber(buffer), value) << buffer;
    }
  }
}

TEST(RuntimeNumbers, BasesBelowTwoWriteDecimal) {
  char buffer[32];
  for (uint64_t base : {0, 1}) {
    char* end = unsignedToText(buffer, 1234, base);
    EXPECT_STREQ(buffer, "1234");
    EXPECT_EQ(end, buffer + 4);
    unsignedToTextWidth(buffer, 1234, 6, base);
    EXPECT_STREQ(buffer, "001234");
    unsignedToTextPrefixed(buffer, 1234, base);
    EXPECT_STREQ(buffer, "1234");
    EXPECT_EQ(textToNumber(buffer), 1234u);
  }
}

// ---- Texts ---------------------------------------------------------------------

TEST(RuntimeText, CopyTextTail) {
  char buffer[12];
  std::memset(buffer, 'x', sizeof buffer);
  char* end = copyTextTail(buffer, "abcdef", 3);
  EXPECT_STREQ(buffer, "def");
  EXPECT_EQ(end, buffer + 3);
  EXPECT_EQ(buffer[4], 'x');

  // Shorter than n: whole text, NUL padding up to n and one more NUL at n.
  std::memset(buffer, 'x', sizeof buffer);
  end = copyTextTail(buffer, "ab", 5);
  EXPECT_EQ(0, std::memcmp(buffer, "ab\0\0\0\0x", 7));
  EXPECT_EQ(end, buffer + 5);

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(copyTextTail(buffer, "abc", 0), buffer);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');

  EXPECT_EQ(copyTextTail(buffer, nullptr, 2), buffer + 2);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(textLength(nullptr), 0u);
}

std::vector<std::string> split(std::string text, uint64_t capacity, uint64_t* storedOut = nullptr) {
  std::vector<char> bytes(text.begin(), text.end());
  bytes.push_back('\0');
  std::vector<char*> tokens(capacity + 1, nullptr);
  splitTokens(capacity, bytes.data(), tokens.data());
  std::vector<std::string> out;
  for (uint64_t i = 0; i < capacity && tokens[i] != nullptr; ++i) out.emplace_back(tokens[i]);
  EXPECT_EQ(tokens[capacity], nullptr) << "stored past the capacity";
  if (storedOut != nullptr) *storedOut = out.size();
  return out;
}

using Tokens = std::vector<std::string>;

TEST(RuntimeText, SplitAndCountAgree) {
  struct {
    char const* text;
    Tokens expected;
  } const cases[] = {
      {"", {}},
      {" \t\r\n", {}},
      {"one", {"one"}},
      {"  one\ttwo\n\vthree  ", {"one", "two", "three"}},
      {"set \"a b  c\" done", {"set", "a b  c", "done"}},
      {"\"\" x", {"", "x"}},
      {"\"ab\"cd", {"ab", "cd"}},
      {"a \"open quote", {"a", "open quote"}},
      {"a \"", {"a", ""}},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(split(c.text, 16), c.expected) << c.text;
    EXPECT_EQ(countTokens(c.text), c.expected.size()) << c.text;
  }
  EXPECT_EQ(countTokens(nullptr), 0u);
}

TEST(RuntimeText, SplitStoresNoMoreThanCapacity) {
  EXPECT_EQ(split("a b c d", 2), (Tokens{"a", "b"}));
  EXPECT_EQ(split("a b c d", 0), Tokens{});

  // The last stored token is cut off; the rest of the text is left alone.
  char text[] = "a b c";
  char* tokens[1] = {};
  splitTokens(1, text, tokens);
  EXPECT_EQ(tokens[0], text);
  EXPECT_EQ(0, std::memcmp(text, "a\0b c", 6));
}

TEST(RuntimeText, SplitIgnoresNullArguments) {
  char text[] = "a b";
  char* tokens[2] = {};
  splitTokens(2, nullptr, tokens);
  splitTokens(2, text, nullptr);
  EXPECT_STREQ(text, "a b");
  EXPECT_EQ(tokens[0], nullptr);
}

TEST(RuntimeText, CompareTextIsSignedAndShorterIsLess) {
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
}

TEST(RuntimeText, FormatTextUnboundedGoesThroughTheLayer) {
  sim::reset();
  sim::enableCallLog(true);
  char buffer[32];
  EXPECT_EQ(formatTextUnbounded(buffer, "%s-%u", "ab", 17u), 5);
  EXPECT_STREQ(buffer, "ab-17");
  EXPECT_EQ(sim::callCount("nQVZOR100_vsprintf"), 1u);
  sim::reset();
}

// ---- Memory ------------------------------------------------------------------------

TEST(RuntimeMemory, CompareMemoryGivesUnsignedDifference) {
  unsigned char const a[] = {1, 2, 0x01};
  unsigned char const b[] = {1, 2, 0xFF};
  EXPECT_EQ(compareMemory(a, b, 3), 1 - 255);
  EXPECT_EQ(compareMemory(b, a, 3), 255 - 1);
  EXPECT_EQ(compareMemory(a, b, 2), 0);
  EXPECT_EQ(compareMemory(a, b, 0), 0);
}

TEST(RuntimeMemory, FillCopyAndMove) {
  char buffer[8] = "abcdefg";
  EXPECT_EQ(fillMemory(buffer, 'z', 2), buffer);
  EXPECT_STREQ(buffer, "zzcdefg");
  char copy[8] = {};
  EXPECT_EQ(copyMemory(copy, buffer, 8), copy);
  EXPECT_STREQ(copy, "zzcdefg");
  EXPECT_EQ(moveMemory(buffer + 1, buffer, 4), buffer + 1);
  EXPECT_STREQ(buffer, "zzzcdfg");
}

}  // namespace
