// Base64 (RFC 4648 §4: the standard alphabet with "=" padding), the one
// implementation of the mail library: AUTH LOGIN credentials and encoded
// header words use the unbroken form, message bodies and parts the form cut
// into lines of 76 characters (RFC 2045 §6.8).
#pragma once

#include <string>
#include <string_view>

namespace KestNet {

// One unbroken line, no line end.
std::string Base64Encode(std::string_view p_data);

// Lines of kBase64LineLength characters with CR LF between them; the last
// line is not followed by CR LF. Empty data gives an empty text.
inline constexpr std::size_t kBase64LineLength = 76;
std::string Base64EncodeLines(std::string_view p_data);

// Decodes padded Base64; CR and LF between the groups are skipped. False (and
// p_decoded left empty) for any other character outside the alphabet, a
// misplaced "=" or a length that is not a whole number of groups.
bool Base64Decode(std::string_view p_text, std::string& p_decoded);

}  // namespace KestNet
