#pragma once
// The one way the tool writes a file name into its machine-readable files (the completion record,
// the entries list, JSON output), and the way sha256sum writes one into a checksum list.
//
// Names on Linux are bytes and need not be UTF-8; JSON and line-based lists need valid UTF-8
// without line breaks. EscapeName writes a backslash as "\\", each control byte (0x00 to 0x1F,
// 0x7F) and each byte that is not part of a well-formed UTF-8 sequence as "\x" and two lower-case
// hex digits, and leaves everything else as it is. So a UTF-8 name without backslashes and control
// bytes stays unchanged, and UnescapeName gives any name back byte for byte.

#include <string>
#include <string_view>

namespace brimora {

std::string EscapeName(std::string_view name);

// Reverses EscapeName. False (and `name` unspecified) for a text EscapeName cannot have written:
// a backslash followed by anything but "\" or "x" and two hex digits.
bool UnescapeName(std::string_view text, std::string& name);

// One line of a sha256sum checksum list: "<hex>  <name>\n". A name holding a backslash, a line
// feed or a carriage return is written as sha256sum writes it: the line starts with a backslash
// and those three are written "\\", "\n" and "\r". All other bytes are written as they are.
std::string Sha256SumLine(std::string_view hex, std::string_view name);

}  // namespace brimora
