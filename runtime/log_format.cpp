#include "runtime/log_format.h"

#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "runtime/log_text.h"

namespace KestLog {
namespace {

// The locale vsnprintf runs in: the process's narrow code page (UTF-8 here, as
// GetACP reports 65001) with "." as the decimal point. uselocale switches only
// the calling thread, so concurrent log calls and the caller's own locale are
// untouched.
locale_t FormattingLocale() {
  static const locale_t locale = [] {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return utf8 != static_cast<locale_t>(nullptr) ? utf8
                                                  : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return locale;
}

class ThreadLocaleSwitch {
 public:
  explicit ThreadLocaleSwitch(locale_t locale)
      : m_previous(locale != static_cast<locale_t>(nullptr) ? uselocale(locale) : static_cast<locale_t>(nullptr)) {}
  ~ThreadLocaleSwitch() {
    if (m_previous != static_cast<locale_t>(nullptr)) uselocale(m_previous);
  }
  ThreadLocaleSwitch(const ThreadLocaleSwitch&) = delete;
  ThreadLocaleSwitch& operator=(const ThreadLocaleSwitch&) = delete;

 private:
  locale_t m_previous;
};

bool FormatWithCLibrary(char* buffer, size_t capacity, const char* format, va_list args) {
  ThreadLocaleSwitch formatting(FormattingLocale());
  // The caller's format is the point of this function; it cannot be a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int length = std::vsnprintf(buffer, capacity, format, args);
#pragma GCC diagnostic pop
  if (length < 0) {
    buffer[0] = '\0';
    return false;
  }
  if (static_cast<size_t>(length) >= capacity) {
    buffer[Utf8BoundaryAtOrBefore(buffer, capacity - 1)] = '\0';
  }
  return true;
}

enum class Length { kInt, kChar, kShort, kLong, kLongLong, kSize };

struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;  // -1: none
  bool precisionFromArgument = false;
  Length length = Length::kInt;
  char type = 0;
};

// Reads one conversion after its "%"; false for what is left to the C library
// (the "+", " ", "#" and "'" flags, "*" widths, positional arguments, floating
// point, %n, wide characters).
bool ParseConversion(const char*& p_cursor, Conversion& p_conversion) {
  const char* p = p_cursor;
  for (;; ++p) {
    if (*p == '-') {
      p_conversion.leftAlign = true;
    } else if (*p == '0') {
      p_conversion.zeroPad = true;
    } else {
      break;
    }
  }
  while (*p >= '0' && *p <= '9') {
    if (p_conversion.width > 4096) return false;
    p_conversion.width = p_conversion.width * 10 + (*p++ - '0');
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      p_conversion.precisionFromArgument = true;
      ++p;
    } else {
      p_conversion.precision = 0;
      while (*p >= '0' && *p <= '9') {
        if (p_conversion.precision > 4096) return false;
        p_conversion.precision = p_conversion.precision * 10 + (*p++ - '0');
      }
    }
  }
  if (*p == 'h') {
    ++p;
    p_conversion.length = Length::kShort;
    if (*p == 'h') {
      ++p;
      p_conversion.length = Length::kChar;
    }
  } else if (*p == 'l') {
    ++p;
    p_conversion.length = Length::kLong;
    if (*p == 'l') {
      ++p;
      p_conversion.length = Length::kLongLong;
    }
  } else if (*p == 'z') {
    ++p;
    p_conversion.length = Length::kSize;
  }
  p_conversion.type = *p;
  switch (*p) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
      break;
    case 's':
      if (p_conversion.length == Length::kLong) p_conversion.type = 'S';
      else if (p_conversion.length != Length::kInt) return false;
      break;
    case 'S':
    case 'c':
    case 'p':
    case '%':
      if (p_conversion.length != Length::kInt) return false;
      break;
    default:
      return false;
  }
  // Zero padding is for numbers; what the C library makes of it elsewhere is
  // its own business.
  switch (p_conversion.type) {
    case 's':
    case 'S':
    case 'c':
    case 'p':
      if (p_conversion.zeroPad) return false;
      break;
    default:
      break;
  }
  p_cursor = p + 1;
  return true;
}

// Writes into the buffer, counting what does not fit as vsnprintf does.
class BoundedWriter {
 public:
  BoundedWriter(char* buffer, size_t capacity) : m_buffer(buffer), m_room(capacity - 1) {}

  void Append(const char* p_text, size_t p_length) {
    if (m_used < m_room) std::memcpy(m_buffer + m_used, p_text, std::min(p_length, m_room - m_used));
    m_used += p_length;
  }
  void Repeat(char p_char, size_t p_count) {
    if (m_used < m_room) std::memset(m_buffer + m_used, p_char, std::min(p_count, m_room - m_used));
    m_used += p_count;
  }
  // Pads a field of p_length bytes to the conversion's width around p_body.
  template <typename Body>
  void Field(const Conversion& p_conversion, size_t p_length, Body p_body) {
    const size_t width = static_cast<size_t>(p_conversion.width);
    const size_t padding = width > p_length ? width - p_length : 0;
    if (!p_conversion.leftAlign) Repeat(' ', padding);
    p_body();
    if (p_conversion.leftAlign) Repeat(' ', padding);
  }
  void Finish() {
    if (m_used <= m_room) {
      m_buffer[m_used] = '\0';
    } else {
      m_buffer[Utf8BoundaryAtOrBefore(m_buffer, m_room)] = '\0';
    }
  }

 private:
  char* m_buffer;
  size_t m_room;
  size_t m_used = 0;
};

void AppendNarrowString(BoundedWriter& p_writer, const Conversion& p_conversion, const char* p_szText) {
  if (p_szText == nullptr) {
    // glibc's text for a null string, unless the precision cuts it short.
    p_szText = p_conversion.precision < 0 || p_conversion.precision >= 6 ? "(null)" : "";
  }
  const size_t length =
      p_conversion.precision < 0 ? std::strlen(p_szText) : strnlen(p_szText, static_cast<size_t>(p_conversion.precision));
  p_writer.Field(p_conversion, length, [&] { p_writer.Append(p_szText, length); });
}

// UTF-8 of one wide character; 0 for a value that is no character.
size_t EncodeUtf8(wchar_t p_char, char (&p_bytes)[4]) {
  const auto value = static_cast<std::uint32_t>(p_char);
  if (value < 0x80) {
    p_bytes[0] = static_cast<char>(value);
    return 1;
  }
  if (value < 0x800) {
    p_bytes[0] = static_cast<char>(0xC0 | (value >> 6));
    p_bytes[1] = static_cast<char>(0x80 | (value & 0x3F));
    return 2;
  }
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  if (value < 0x10000) {
    p_bytes[0] = static_cast<char>(0xE0 | (value >> 12));
    p_bytes[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    p_bytes[2] = static_cast<char>(0x80 | (value & 0x3F));
    return 3;
  }
  if (value > 0x10FFFF) return 0;
  p_bytes[0] = static_cast<char>(0xF0 | (value >> 18));
  p_bytes[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
  p_bytes[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
  p_bytes[3] = static_cast<char>(0x80 | (value & 0x3F));
  return 4;
}

// A precision counts bytes, and a character that would pass it is left out
// whole. False for a value that is no character (vsnprintf fails then).
bool AppendWideString(BoundedWriter& p_writer, const Conversion& p_conversion, const wchar_t* p_szText) {
  if (p_szText == nullptr) {
    AppendNarrowString(p_writer, p_conversion, nullptr);
    return true;
  }
  const size_t limit = p_conversion.precision < 0 ? SIZE_MAX : static_cast<size_t>(p_conversion.precision);
  size_t length = 0;
  for (const wchar_t* p = p_szText; *p != L'\0'; ++p) {
    char bytes[4];
    const size_t size = EncodeUtf8(*p, bytes);
    if (size == 0) return false;
    if (length + size > limit) break;
    length += size;
  }
  p_writer.Field(p_conversion, length, [&] {
    size_t written = 0;
    for (const wchar_t* p = p_szText; written < length; ++p) {
      char bytes[4];
      const size_t size = EncodeUtf8(*p, bytes);
      p_writer.Append(bytes, size);
      written += size;
    }
  });
  return true;
}

void AppendInteger(BoundedWriter& p_writer, const Conversion& p_conversion, bool p_negative,
                   unsigned long long p_magnitude, unsigned p_base, bool p_upperCase, const char* p_prefix) {
  const char* digitsOf = p_upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];  // filled from the end
  char* first = std::end(digits);
  // Constant divisors: a division by a variable costs tens of cycles a digit.
  if (p_base == 16) {
    for (unsigned long long rest = p_magnitude; rest != 0; rest >>= 4) *--first = digitsOf[rest & 0xF];
  } else if (p_magnitude <= UINT32_MAX) {
    for (auto rest = static_cast<std::uint32_t>(p_magnitude); rest != 0; rest /= 10) *--first = digitsOf[rest % 10];
  } else {
    for (unsigned long long rest = p_magnitude; rest != 0; rest /= 10) *--first = digitsOf[rest % 10];
  }
  const auto count = static_cast<size_t>(std::end(digits) - first);
  // No precision means at least one digit; a precision of 0 prints 0 as nothing.
  const size_t minimumDigits = p_conversion.precision < 0 ? 1 : static_cast<size_t>(p_conversion.precision);
  const size_t zeros = minimumDigits > count ? minimumDigits - count : 0;
  const size_t prefixLength = (p_negative ? 1 : 0) + std::strlen(p_prefix);
  const size_t length = prefixLength + zeros + count;
  const bool padWithZeros = p_conversion.zeroPad && !p_conversion.leftAlign && p_conversion.precision < 0;
  const size_t width = static_cast<size_t>(p_conversion.width);
  auto body = [&](size_t extraZeros) {
    if (p_negative) p_writer.Append("-", 1);
    p_writer.Append(p_prefix, std::strlen(p_prefix));
    p_writer.Repeat('0', zeros + extraZeros);
    p_writer.Append(first, count);
  };
  if (padWithZeros) {
    body(width > length ? width - length : 0);
  } else {
    p_writer.Field(p_conversion, length, [&] { body(0); });
  }
}

long long SignedArgument(Length p_length, va_list& p_args) {
  switch (p_length) {
    case Length::kLong:
      return va_arg(p_args, long);
    case Length::kLongLong:
      return va_arg(p_args, long long);
    case Length::kSize:
      return static_cast<long long>(va_arg(p_args, ptrdiff_t));
    case Length::kShort:
      return static_cast<short>(va_arg(p_args, int));
    case Length::kChar:
      return static_cast<signed char>(va_arg(p_args, int));
    case Length::kInt:
      break;
  }
  return va_arg(p_args, int);
}

unsigned long long UnsignedArgument(Length p_length, va_list& p_args) {
  switch (p_length) {
    case Length::kLong:
      return va_arg(p_args, unsigned long);
    case Length::kLongLong:
      return va_arg(p_args, unsigned long long);
    case Length::kSize:
      return va_arg(p_args, size_t);
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(p_args, unsigned));
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(p_args, unsigned));
    case Length::kInt:
      break;
  }
  return va_arg(p_args, unsigned);
}

// False when the format has a conversion left to the C library, or a wide
// string holds a value that is no character.
bool FormatOurselves(char* p_pBuffer, size_t p_capacity, const char* p_szFormat, va_list& p_args) {
  BoundedWriter writer(p_pBuffer, p_capacity);
  const char* p = p_szFormat;
  while (*p != '\0') {
    const char* literal = p;
    while (*p != '\0' && *p != '%') ++p;
    writer.Append(literal, static_cast<size_t>(p - literal));
    if (*p == '\0') break;
    ++p;
    Conversion conversion;
    if (!ParseConversion(p, conversion)) return false;
    if (conversion.precisionFromArgument) {
      const int precision = va_arg(p_args, int);
      conversion.precision = precision < 0 ? -1 : precision;
    }
    switch (conversion.type) {
      case '%':
        writer.Append("%", 1);
        break;
      case 's':
        AppendNarrowString(writer, conversion, va_arg(p_args, const char*));
        break;
      case 'S':
        if (!AppendWideString(writer, conversion, va_arg(p_args, const wchar_t*))) return false;
        break;
      case 'c': {
        const char c = static_cast<char>(va_arg(p_args, int));
        writer.Field(conversion, 1, [&] { writer.Append(&c, 1); });
        break;
      }
      case 'p': {
        const void* pointer = va_arg(p_args, const void*);
        if (pointer == nullptr) {
          Conversion text = conversion;
          text.precision = -1;
          AppendNarrowString(writer, text, "(nil)");
        } else {
          AppendInteger(writer, conversion, false, reinterpret_cast<std::uintptr_t>(pointer), 16, false, "0x");
        }
        break;
      }
      case 'd':
      case 'i': {
        const long long value = SignedArgument(conversion.length, p_args);
        const unsigned long long magnitude =
            value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        AppendInteger(writer, conversion, value < 0, magnitude, 10, false, "");
        break;
      }
      default:  // u, x, X
        AppendInteger(writer, conversion, false, UnsignedArgument(conversion.length, p_args),
                      conversion.type == 'u' ? 10 : 16, conversion.type == 'X', "");
        break;
    }
  }
  writer.Finish();
  return true;
}

}  // namespace

bool FormatBoundedMessage(char* p_pBuffer, size_t p_capacity, const char* p_szFormat, va_list p_args) {
  if (p_capacity == 0) return false;
  if (p_szFormat == nullptr) {
    p_pBuffer[0] = '\0';
    return false;
  }
  va_list args;
  va_copy(args, p_args);
  const bool formatted = FormatOurselves(p_pBuffer, p_capacity, p_szFormat, args);
  va_end(args);
  // The C library has the last word on what is not ours, and on a wide
  // string that is no text.
  return formatted || FormatWithCLibrary(p_pBuffer, p_capacity, p_szFormat, p_args);
}

}  // namespace KestLog
