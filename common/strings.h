#pragma once
// Small text operations shared by the logs, the Subversion runner, the HTTP client and the file
// utilities: text conversions, splitting at a separator, path parts, URL escaping and a test for
// decimal numbers.
//
// All text is UTF-8 in std::string. The machine's 8-bit character set is UTF-8 as well, so the
// conversions to it are the identity. Every function here is pure and may be called from any
// thread at the same time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brimora {

// The native separator of path components.
constexpr char kPathSeparator = '/';

// ASCII case folding: only the letters A-Z and a-z change; every other byte stays as it is, so
// UTF-8 sequences and names that are not UTF-8 pass through untouched.
char AsciiLower(char c);
char AsciiUpper(char c);
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The white space that trimming removes: blank, tab, line feed, carriage return, vertical tab
// and form feed.
bool IsAsciiWhiteSpace(char c);
// The text without white space at either end; TrimRight only at its end.
std::string_view Trim(std::string_view text);
std::string_view TrimRight(std::string_view text);

// Text in the machine's 8-bit character set (UTF-8): the text unchanged.
std::string ToAnsi(std::string_view text);

// Text as UTF-8: the text unchanged.
std::string ToUtf8(std::string_view text);

// Decodes UTF-8 text received from outside (an HTTP body, a client's output). The text ends at
// the first zero byte, as a zero-terminated text would. Returns true and sets `text` when at
// least one character was decoded; returns false and leaves `text` empty when the input is
// empty or is not well-formed UTF-8 (stray continuation bytes, overlong forms, surrogates, code
// points above U+10FFFF, a sequence cut short).
bool FromUtf8(std::string_view utf8, std::string& text);

// Length in bytes of the well-formed UTF-8 sequence that starts at `position`, or 0 when the
// byte there does not start one (or `position` is at or past the end).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t position);

// Number of characters: well-formed UTF-8 sequences count one each, and so does every byte
// that is not part of one.
std::size_t CountCodePoints(std::string_view text);

// The first `count` characters of the text (counted as CountCodePoints does), never cut inside
// a UTF-8 sequence.
std::string_view LeftCodePoints(std::string_view text, std::size_t count);

// The text with every control byte (0x00 to 0x1F and 0x7F) written as a visible escape, so
// that text from outside, such as a file name, cannot start a line of its own in a log. Line
// feed, carriage return and tab become a backslash followed by "n", "r" or "t"; every other
// control byte a backslash, "x" and two upper-case hex digits (ESC gives \x1B). All other
// bytes, backslashes and UTF-8 sequences included, stay as they are, so a text without
// control bytes comes back unchanged.
std::string EscapeControlCharacters(std::string_view text);

// A log message as exactly one line: cut to its first `maxCodePoints` characters (as
// LeftCodePoints does), then escaped (as EscapeControlCharacters does), but for a "\n" at the
// very end of the cut message, which ends the line; one is added when missing. Cutting before
// escaping means the cut never falls inside an escape, so the line may grow past the limit (by at
// most three bytes per control byte).
std::string OneLogLine(std::string_view message, std::size_t maxCodePoints);

// Appends to `list` every piece of `text` between occurrences of `separator`, empty pieces
// included (a leading separator gives an empty first piece, a trailing one an empty last
// piece), and returns the number appended. An empty text or an empty separator appends
// nothing; a text without the separator is one piece.
std::size_t SplitText(std::string_view text, std::vector<std::string>& list,
                      std::string_view separator);

// True when the text is a decimal number: an optional sign, digits with an optional point
// ("1.", ".5", even "+." count), then optionally "e" or "E" with an optional sign, digits and
// an optional point. Null and empty text are false.
bool IsNumber(const char* text);
bool IsNumber(std::string_view text);

// The integer at the start of `text` as atoi reads it: leading white space, an optional sign,
// then decimal digits up to the first other character; 0 without digits. LeadingInteger
// saturates at the limits of its type, LeadingInt clamps to the int range.
std::int64_t LeadingInteger(std::string_view text);
int LeadingInt(std::string_view text);

// Escapes one path segment for a URL. "%" becomes "%25"; code points 0 to 31 and 127 to 255
// become "%" and their code in two upper-case hex digits ("é" gives "%E9"); code points above
// 255 become their UTF-8 bytes escaped ("€" gives "%E2%82%AC"); bytes that are not part of
// well-formed UTF-8 are escaped one by one. Everything else, blanks and reserved characters
// such as "/" or "?" included, stays as it is.
std::string UrlEncode(std::string_view text);

namespace Common {

// One path and its parts. Components are separated by kPathSeparator unless a call takes its
// own separator. Immutable after construction, so concurrent reads are safe.
class CFilePathString {
 public:
  explicit CFilePathString(std::string path);
  virtual ~CFilePathString();

  // The text after the last "." anywhere in the path, or empty. A "." in a folder name counts
  // when the file name has none ("/a.b/c" gives "b/c").
  std::string Extension() const;

  // The last component up to (not including) its last "."; empty when it has no ".".
  std::string Title() const;

  // Every component but the last, each followed by the separator ("/a/b.txt" gives "/a/");
  // empty when the path does not contain the separator.
  std::string Folder(std::string_view separator) const;

  // Appends the components to `list` exactly as SplitText does and returns their number.
  std::size_t Split(std::vector<std::string>& list, std::string_view separator) const;

  const std::string& Path() const;

 private:
  std::string path_;
};

// The set of characters that need escaping in a URL: the reserved punctuation
// %="<>\^[]`+$,@:;/!#?&' followed by the codes 1 to 32 and 124 to 127, less every character of
// the text given at construction (characters that are allowed after all). Immutable.
class CUrlString {
 public:
  explicit CUrlString(std::string_view allowed = {});
  virtual ~CUrlString();

  const std::string& Reserved() const;
  bool IsReserved(char c) const;

 private:
  std::string reserved_;
};

}  // namespace Common
}  // namespace brimora
