// Fixed-column formatted text, following the Fortran edit rules that the
// library's two data files are written and read with.
//
// Output (appended to a std::string, exactly w characters per field):
//   Ew.d  ".500E+06": d significant digits after the point; the optional
//         leading zero is written only when the field has room for it.
//   Fw.d  "  0.35": d decimals, right-justified, leading zero when room.
//   Iw    right-justified integer.
//   A     the text as it stands.
// Decimal rounding is to nearest with halfway cases away from zero, decided
// on the exact binary value. A value that does not fit the field is written
// as w asterisks and the put_ function returns false; so does a non-finite
// value (a field of asterisks cannot be read back as a number). Fw.d fields
// are at most 40 columns wide and Ew.d keeps at most 38 digits.
//
// Input (one field of text, its blanks not significant):
//   Iw    optional sign and digits; an all-blank field reads as 0.
//   Fw.d  optional sign, digits with an optional decimal point, optional
//         exponent ("E+05", "D-3", "e5", or a bare signed integer as in
//         "1.0+05"). Without a point the last d digits before the exponent
//         are decimals ("4" read as F8.2 is 0.04). All blank reads as 0.
//         The value is the correctly rounded double of the decimal text.
// Fields past the end of a short record read as blanks. Anything else is a
// conversion error: the parse_ functions return false and leave the value alone.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zalk::fortio {

// ---- output -------------------------------------------------------------

bool put_e(std::string& out, double value, int w, int d);
bool put_f(std::string& out, double value, int w, int d);
bool put_i(std::string& out, long long value, int w);
void put_a(std::string& out, std::string_view text);

// ---- input --------------------------------------------------------------

// Columns [first_col, first_col + w) of a record (1-based first column); the
// part past the end of the record is left out (it reads as blanks).
std::string_view field_at(std::string_view record, int first_col, int w);

bool parse_int(std::string_view field, int& value);
bool parse_real(std::string_view field, int d, double& value);

// Aw into a character variable of `len` characters: the field's text padded
// with blanks to `len` (or its rightmost `len` characters when w > len).
std::string read_a(std::string_view record, int first_col, int w, int len);

// A real field at fixed columns, for reading many records with one layout.
struct RealField {
  int first_col = 1;  // 1-based
  int width = 0;
  int decimals = 0;
};

// Appends `repeat` groups of (skip blanks, Fwidth.decimals) after the last
// field of `fields` (or from column 1): the layout of "repeat(TRskip,Fw.d)".
void append_fields(std::vector<RealField>& fields, int repeat, int skip, int width, int decimals);

// Reads the fields of one record into out[0..fields.size()). Returns the index
// of the first field that is not a number, or -1 when all were read.
int read_reals(std::string_view record, std::span<const RealField> fields, double* out);

// ---- records ------------------------------------------------------------

// Splits a text into records at '\n'; a '\r' before the '\n' and a final
// record without a line end are accepted. Every read statement takes the
// next record.
class RecordReader {
 public:
  explicit RecordReader(std::string_view text) : text_(text) {}

  // Moves to the next record; false at the end of the text.
  bool next();
  std::string_view record() const { return record_; }
  // 1-based number of the current record (0 before the first next()).
  int record_number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::string_view record_;
  int number_ = 0;
};

// A clear text for a field that failed to convert, e.g.
// `record 7, columns 1-10 ("1.2.3     ")`.
std::string describe_field(int record, int first_col, int w, std::string_view record_text);

}  // namespace zalk::fortio
