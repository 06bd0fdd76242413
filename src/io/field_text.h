// Pieces shared by the readers of field files (F25, JILS): lines with any of
// the three line ends, comma fields with quotes and padding, numbers with
// padding zeros or a plus sign, and text that may be Latin-1.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "io/f25.h"

namespace zalk::io::field_text {

// Appends a diagnostic while the list holds fewer than 1000; the first one
// past that says that further ones are not listed.
void add_diagnostic(std::vector<F25Diagnostic>& list, F25Diagnostic diagnostic);

// Walks the lines of a text; a line ends at LF, CR LF or a lone CR. A UTF-8
// byte-order mark at the start is skipped.
class Lines {
 public:
  explicit Lines(std::string_view text);
  bool next(std::string_view& line);
  int number() const { return number_; }  // 1-based number of the last line given
  // True when the last line given ran to the end of the text without a line end.
  bool last_unterminated() const { return unterminated_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int number_ = 0;
  bool unterminated_ = false;
};

struct Field {
  std::string_view text;  // blanks and quotes stripped
  int column = 0;         // 1-based column where the field starts
  bool quoted = false;
};

bool blank(char c);
std::string_view trim(std::string_view s);

// Splits a line at commas; a field that begins with a double quote runs to the
// closing quote (commas inside are kept).
void split_commas(std::string_view line, std::vector<Field>& fields);

// Splits a line at runs of blanks.
void split_blanks(std::string_view line, std::vector<Field>& fields);

// Whole-field numbers: a leading '+' and padding zeros are accepted, nothing
// after the number is.
bool to_double(std::string_view s, double& v);
bool to_int(std::string_view s, int& v);

// Devices write text in the code page of their computer; a file that is not
// valid UTF-8 is taken as Latin-1.
bool valid_utf8(std::string_view s);
std::string latin1_to_utf8(std::string_view s);

// A text field as UTF-8: as written when the file is UTF-8, else decoded.
std::string utf8_text(std::string_view s, bool file_is_utf8);

// Up to `n` leading bytes of a field for a message, any byte outside
// printable ASCII written as \xNN so that a message is always clean text.
std::string quoted_excerpt(std::string_view s, std::size_t n = 40);

// Reads a field file whole (regular files of at most 256 MB); `name` is set
// to the name diagnostics use. False with `why` when it cannot be read.
bool load_file(const std::filesystem::path& path, std::string& text, std::string& name, std::string& why);

}  // namespace zalk::io::field_text
