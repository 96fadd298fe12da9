// Formats a log message into a fixed buffer.
//
// The result is exactly what vsnprintf gives in the C.UTF-8 locale (the
// locale log messages are formatted in), cut to the buffer as the ring cuts a
// message: at most p_capacity - 1 bytes, never in the middle of a UTF-8
// character. The conversions log formats are made of (%s, %S and %ls, the
// integer conversions with their flags "-" and "0", a width and a precision,
// %c, %p, %%) are done here: the C library's vsnprintf costs more than the
// rest of a log entry together, and the busiest paths log several entries for
// every line they receive. A format with anything else is handed to
// vsnprintf as it is.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace KestLog {

// False (with an empty buffer) when vsnprintf would fail: a bad format, or a
// wide string holding a value that is no character.
bool FormatBoundedMessage(char* p_pBuffer, size_t p_capacity, const char* p_szFormat, va_list p_args);

}  // namespace KestLog
