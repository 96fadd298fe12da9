// What may go into a mail protocol's command line. A CR or LF would end the
// line early and let the rest pass as a command of its own (protocol
// injection); a NUL is not text. Both clients refuse such values before
// anything is sent.
#pragma once

#include <string_view>

namespace KestNet {

inline bool HoldsLineBreakOrNul(std::string_view p_text) {
  return p_text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace KestNet
