#include "platform/kernelServices.h"
#include "platform/memory.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

// A missing text reads as the empty one everywhere here.
char const* orEmpty(char const* text) { return text != nullptr ? text : ""; }

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char const* skipSpace(char const* text) {
  while (isSpace(*text)) ++text;
  return text;
}

bool hasHexMark(char const* text) { return text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

// Decimal digits count in every base (so 19 in base 8 reads as 17); letters
// only in base 16. Arithmetic wraps: there is no error result.
u64 readDigits(char const*& text, u64 base) {
  u64 value = 0;
  for (;; ++text) {
    char const c = *text;
    u64 digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<u64>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<u64>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<u64>(c - 'A' + 10);
    } else {
      return value;
    }
    value = value * base + digit;
  }
}

// Base 0 would divide by zero and base 1 would never reach zero; neither has
// a digit form, so both write decimal.
u64 usableBase(u64 base) { return base < 2 ? 10 : base; }

char digitCharacter(u64 digit) {
  return static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
}

void reverse(char* first, char* last) {
  while (first < last) {
    char const held = *first;
    *first++ = *--last;
    *last = held;
  }
}

}  // namespace

int formatTextUnbounded(char* buffer, char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int const count = nQVZOR100_vsprintf(buffer, format, arguments);
  va_end(arguments);
  return count;
}

u64 parseUnsigned(char const* text, u64 base) {
  if (text == nullptr) return 0;
  text = skipSpace(text);
  if (hasHexMark(text)) text += 2;
  return readDigits(text, base);
}

u64 textToNumber(char const* text) {
  text = skipSpace(orEmpty(text));
  if (hasHexMark(text)) {
    text += 2;
    return readDigits(text, 16);
  }
  u64 const value = readDigits(text, 10);
  if (*text != '#') return value;
  ++text;
  return readDigits(text, value);
}

char* unsignedToText(char* buffer, u64 value, u64 base) {
  base = usableBase(base);
  char* end = buffer;
  do {
    *end++ = digitCharacter(value % base);
    value /= base;
  } while (value != 0);
  *end = '\0';
  reverse(buffer, end);
  return end;
}

char* unsignedToTextWidth(char* buffer, u64 value, u64 width, u64 base) {
  base = usableBase(base);
  char* end = buffer;
  for (u64 index = 0; index < width; ++index) {
    *end++ = digitCharacter(value % base);
    value /= base;
  }
  *end = '\0';
  reverse(buffer, end);
  return end;
}

char* unsignedToTextPrefixed(char* buffer, u64 value, u64 base) {
  base = usableBase(base);
  if (base == 16) {
    *buffer++ = '0';
    *buffer++ = 'x';
  } else if (base != 10) {
    buffer = unsignedToText(buffer, base, 10);
    *buffer++ = '#';
  }
  return unsignedToText(buffer, value, base);
}

char* copyTextTail(char* destination, char const* source, u64 n) {
  if (n == 0) {
    destination[0] = '\0';
    return destination;
  }
  source = orEmpty(source);
  u64 const length = textLength(source);
  u64 const kept = length < n ? length : n;
  char const* tail = source + (length - kept);
  u64 index = 0;
  for (; index < kept; ++index) destination[index] = tail[index];
  for (; index <= n; ++index) destination[index] = '\0';
  return destination + n;
}

void splitTokens(u64 capacity, char* text, char** tokens) {
  if (text == nullptr || tokens == nullptr) return;
  // Never more entries than the array was said to hold: the last one stored
  // is still cut off at its end before the walk stops.
  u64 stored = 0;
  while (stored < capacity) {
    while (isSpace(*text)) ++text;
    if (*text == '\0') return;
    bool const quoted = *text == '"';
    if (quoted) ++text;
    tokens[stored++] = text;
    while (*text != '\0' && (quoted ? *text != '"' : !isSpace(*text))) ++text;
    if (*text == '\0') return;
    *text++ = '\0';
  }
}

u64 countTokens(char const* text) {
  text = orEmpty(text);
  u64 count = 0;
  for (;;) {
    text = skipSpace(text);
    if (*text == '\0') return count;
    bool const quoted = *text == '"';
    if (quoted) ++text;
    ++count;
    while (*text != '\0' && (quoted ? *text != '"' : !isSpace(*text))) ++text;
    if (*text == '\0') return count;
    ++text;
  }
}

i32 compareText(char const* a, char const* b) {
  a = orEmpty(a);
  b = orEmpty(b);
  for (;; ++a, ++b) {
    // Signed on every target, whatever the compiler makes of plain char.
    auto const left = static_cast<signed char>(*a);
    auto const right = static_cast<signed char>(*b);
    if (left == right) {
      if (left == 0) return 0;
      continue;
    }
    if (left == 0) return -1;
    if (right == 0) return 1;
    return left < right ? -1 : 1;
  }
}

u64 textLength(char const* text) {
  text = orEmpty(text);
  u64 length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

void* fillMemory(void* destination, i32 byte, u64 n) {
  nQVZOR240_memSet(destination, byte, n);
  return destination;
}

i32 compareMemory(void const* a, void const* b, u64 n) {
  auto const* left = static_cast<unsigned char const*>(a);
  auto const* right = static_cast<unsigned char const*>(b);
  for (u64 index = 0; index < n; ++index) {
    if (left[index] != right[index]) return static_cast<i32>(left[index]) - right[index];
  }
  return 0;
}

void* copyMemory(void* destination, void const* source, u64 n) {
  return nQVZOR180_memCpy(destination, source, n);
}

void* moveMemory(void* destination, void const* source, u64 n) {
  return nQVZOR180_memMove(destination, source, n);
}

}  // namespace qvrm7_driver::nQVWEND000
