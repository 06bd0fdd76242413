#include "io/fortio.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zalk::fortio {
namespace {

// ---- decimal digits of a double, rounded half away from zero ---------------

// Significant digits produced before rounding: enough guard digits that only
// a value within a hair of a halfway case needs the exact expansion.
constexpr int kGuessDigits = 40;
// A double's exact decimal expansion has at most 767 significant digits.
constexpr int kExactDigits = 770;

// Value = 0.digits[0..n) x 10^exp10.
struct Digits {
  std::array<char, kGuessDigits + 2> d{};
  int n = 0;
  int exp10 = 0;
};

// Writes the first `count` significant digits of a (> 0, finite), correctly
// rounded, into `digits`; returns the decimal exponent of the 0.ddd form.
int significant_digits(double a, int count, char* digits, char* buf, std::size_t bufsize) {
  const auto r = std::to_chars(buf, buf + bufsize, a, std::chars_format::scientific, count - 1);
  // "d.dddde+XX" (no point when count is 1)
  const char* p = buf;
  int n = 0;
  digits[n++] = *p++;
  if (*p == '.') ++p;
  while (*p != 'e') digits[n++] = *p++;
  int exp_sci = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exp_sci);
  return exp_sci + 1;
}

// Rounds a > 0 to `keep` significant digits where keep depends on the decimal
// exponent (E: fixed count; F: exponent + decimals). Returns false when more
// digits would be needed than the guess provides.
template <class KeepRule>
bool round_digits(double a, KeepRule keep_rule, bool fixed, Digits& out) {
  std::array<char, kGuessDigits + 16> buf{};
  std::array<char, kGuessDigits + 2> guess{};
  out.exp10 = significant_digits(a, kGuessDigits, guess.data(), buf.data(), buf.size());
  const int keep = keep_rule(out.exp10);
  if (keep >= kGuessDigits) return false;
  if (keep < 0) {  // far below the last kept decimal: rounds to zero
    out.n = 0;
    return true;
  }
  bool up = guess[keep] >= '5';
  if (guess[keep] == '5') {
    bool zeros = true;
    for (int i = keep + 1; i < kGuessDigits; ++i) zeros = zeros && guess[i] == '0';
    if (zeros) {  // possibly an exact halfway value: decide on the exact expansion
      std::array<char, kExactDigits + 16> xbuf{};
      std::array<char, kExactDigits + 2> exact{};
      const int e = significant_digits(a, kExactDigits, exact.data(), xbuf.data(), xbuf.size());
      up = (e == out.exp10) ? exact[keep] >= '5' : true;
    }
  }
  for (int i = 0; i < keep; ++i) out.d[i] = guess[i];
  out.n = keep;
  if (!up) return true;
  int i = keep - 1;
  while (i >= 0 && out.d[i] == '9') out.d[i--] = '0';
  if (i >= 0) {
    ++out.d[i];
    return true;
  }
  // Every kept digit was 9 (or none was kept): the value becomes 0.1 x 10^(exp10+1).
  // The E form keeps its digit count; the F form gains a leading digit.
  out.d[0] = '1';
  if (keep == 0) {
    out.n = 1;
  } else if (fixed) {
    out.d[static_cast<std::size_t>(keep)] = '0';
    out.n = keep + 1;
  }
  ++out.exp10;
  return true;
}

void put_stars(std::string& out, int w) { out.append(static_cast<std::size_t>(w > 0 ? w : 0), '*'); }

void put_right(std::string& out, const char* text, int len, int w) {
  out.append(static_cast<std::size_t>(w - len), ' ');
  out.append(text, static_cast<std::size_t>(len));
}

// ---- input helpers -------------------------------------------------------

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr int kMaxSigDigits = 120;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Scans past blanks; returns the next non-blank position or size.
std::size_t skip_blanks(std::string_view s, std::size_t i) {
  while (i < s.size() && s[i] == ' ') ++i;
  return i;
}

// The digits of a real field up to its exponent, blanks dropped.
struct Mantissa {
  std::array<char, kMaxSigDigits> digits{};
  int nsig = 0;     // significant digits kept (leading zeros dropped)
  long excess = 0;  // integer digits beyond the kept ones
  int frac = 0;     // kept digits and zeros after the point
  bool point = false;
};

// Scans from i to the first character that can only start an exponent.
bool scan_mantissa(std::string_view s, std::size_t& i, Mantissa& m) {
  bool any = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ' ') continue;
    if (c == '.') {
      if (m.point) return false;
      m.point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any = true;
    if (m.nsig == 0 && c == '0') {  // leading zero: only its place counts
      if (m.point) ++m.frac;
    } else if (m.nsig < kMaxSigDigits) {
      m.digits[static_cast<std::size_t>(m.nsig++)] = c;
      if (m.point) ++m.frac;
    } else if (!m.point) {
      ++m.excess;  // far beyond double precision: only the magnitude matters
    }
  }
  return any;
}

// An optional exponent running to the end of the field: E or D (either case)
// with an optionally signed integer, or a signed integer alone.
bool scan_exponent(std::string_view s, std::size_t i, long& exponent) {
  exponent = 0;
  if (i == s.size()) return true;
  const char c = s[i];
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    i = skip_blanks(s, i + 1);
  } else if (c != '+' && c != '-') {
    return false;
  }
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  bool any = false;
  for (; i < s.size(); ++i) {
    if (s[i] == ' ') continue;
    if (!is_digit(s[i])) return false;
    if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');  // beyond any double
    any = true;
  }
  if (negative) exponent = -exponent;
  return any;
}

// value = digits x 10^dec_exp, correctly rounded.
bool compose(const char* digits, int nsig, long dec_exp, double& value) {
  if (nsig == 0) {
    value = 0.0;
    return true;
  }
  if (nsig <= 19 && dec_exp >= -22 && dec_exp <= 22) {
    std::uint64_t m = 0;
    for (int i = 0; i < nsig; ++i) m = m * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    if (m <= (std::uint64_t{1} << 53)) {  // both operands exact: one correctly rounded step
      const double dm = static_cast<double>(m);
      value = dec_exp >= 0 ? dm * kPow10[dec_exp] : dm / kPow10[-dec_exp];
      return true;
    }
  }
  std::array<char, kMaxSigDigits + 24> text{};
  int n = 0;
  for (int i = 0; i < nsig; ++i) text[n++] = digits[i];
  text[n++] = 'e';
  const auto r = std::to_chars(text.data() + n, text.data() + text.size(), dec_exp);
  double v = 0.0;
  const auto res = std::from_chars(text.data(), r.ptr, v);
  if (res.ec == std::errc::result_out_of_range) {
    if (dec_exp > 0) return false;  // too large for a double
    v = 0.0;                        // underflow reads as zero
  } else if (res.ec != std::errc()) {
    return false;
  }
  value = v;
  return true;
}

}  // namespace

// ---- output ----------------------------------------------------------------

bool put_e(std::string& out, double value, int w, int d) {
  if (!std::isfinite(value) || d < 1 || d > kGuessDigits - 2) {
    put_stars(out, w);
    return false;
  }
  const bool negative = value < 0.0;
  Digits g;
  if (value == 0.0) {
    g.n = d;
    g.d.fill('0');
  } else if (!round_digits(std::abs(value), [d](int) { return d; }, false, g)) {
    put_stars(out, w);
    return false;
  }
  const int e = value == 0.0 ? 0 : g.exp10;
  const int ae = e < 0 ? -e : e;
  std::array<char, 64> text{};
  int n = 0;
  if (negative) text[n++] = '-';
  const int body = d + 1 + 4;  // ".ddd" and the exponent
  const bool zero = n + body + 1 <= w;
  if (zero) text[n++] = '0';
  text[n++] = '.';
  for (int i = 0; i < d; ++i) text[n++] = g.d[i];
  if (ae <= 99) {
    text[n++] = 'E';
    text[n++] = e < 0 ? '-' : '+';
  } else if (ae <= 999) {
    text[n++] = e < 0 ? '-' : '+';
    text[n++] = static_cast<char>('0' + ae / 100);
  } else {
    put_stars(out, w);
    return false;
  }
  text[n++] = static_cast<char>('0' + ae / 10 % 10);
  text[n++] = static_cast<char>('0' + ae % 10);
  if (n > w) {
    put_stars(out, w);
    return false;
  }
  put_right(out, text.data(), n, w);
  return true;
}

bool put_f(std::string& out, double value, int w, int d) {
  if (!std::isfinite(value) || d < 0 || w > kGuessDigits) {
    put_stars(out, w);
    return false;
  }
  Digits g;
  if (value != 0.0 &&
      !round_digits(std::abs(value), [d](int e) { return e + d; }, true, g)) {
    put_stars(out, w);
    return false;
  }
  // Digits g.d[0..n) stand for 0.ddd x 10^exp10 with exactly d decimals kept.
  const int int_digits = (g.n > 0 && g.exp10 > 0) ? g.exp10 : 0;
  bool nonzero = false;
  for (int i = 0; i < g.n; ++i) nonzero = nonzero || g.d[i] != '0';
  const bool negative = value < 0.0 && nonzero;  // a value that rounds to zero has no sign
  const int needed = (negative ? 1 : 0) + int_digits + 1 + d;
  if (needed > w) {
    put_stars(out, w);
    return false;
  }
  std::array<char, kGuessDigits + 8> text{};
  int n = 0;
  if (negative) text[n++] = '-';
  if (int_digits == 0) {
    if (needed + 1 <= w) text[n++] = '0';
  } else {
    for (int i = 0; i < int_digits; ++i) text[n++] = g.d[i];
  }
  text[n++] = '.';
  // Decimal places: position k (1-based after the point) holds digit exp10 + k - 1.
  const int lead = g.n > 0 ? g.exp10 : 0;
  for (int k = 1; k <= d; ++k) {
    const int idx = lead + k - 1;
    text[n++] = (g.n > 0 && idx >= 0 && idx < g.n) ? g.d[idx] : '0';
  }
  put_right(out, text.data(), n, w);
  return true;
}

bool put_i(std::string& out, long long value, int w) {
  std::array<char, 24> text{};
  const auto r = std::to_chars(text.data(), text.data() + text.size(), value);
  const int n = static_cast<int>(r.ptr - text.data());
  if (n > w) {
    put_stars(out, w);
    return false;
  }
  put_right(out, text.data(), n, w);
  return true;
}

void put_a(std::string& out, std::string_view text) { out.append(text); }

// ---- input -----------------------------------------------------------------

std::string_view field_at(std::string_view record, int first_col, int w) {
  const std::size_t start = static_cast<std::size_t>(first_col > 1 ? first_col - 1 : 0);
  if (start >= record.size() || w <= 0) return {};
  return record.substr(start, static_cast<std::size_t>(w));
}

bool parse_int(std::string_view field, int& value) {
  std::size_t i = skip_blanks(field, 0);
  if (i == field.size()) {
    value = 0;
    return true;
  }
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') {
    negative = field[i] == '-';
    i = skip_blanks(field, i + 1);
  }
  long long v = 0;
  bool any = false;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (!is_digit(c)) return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
    any = true;
  }
  if (!any) return false;
  v = negative ? -v : v;
  if (v > std::numeric_limits<int>::max()) return false;
  value = static_cast<int>(v);
  return true;
}

bool parse_real(std::string_view field, int d, double& value) {
  std::size_t i = skip_blanks(field, 0);
  if (i == field.size()) {
    value = 0.0;
    return true;
  }
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') {
    negative = field[i] == '-';
    ++i;
  }
  Mantissa m;
  long exponent = 0;
  if (!scan_mantissa(field, i, m) || !scan_exponent(field, i, exponent)) return false;
  const long implied = m.point ? m.frac : (d > 0 ? d : 0);
  double v = 0.0;
  if (!compose(m.digits.data(), m.nsig, exponent + m.excess - implied, v)) return false;
  value = negative ? -v : v;
  return true;
}

std::string read_a(std::string_view record, int first_col, int w, int len) {
  std::string field(field_at(record, first_col, w));
  field.resize(static_cast<std::size_t>(w), ' ');
  if (w >= len) return field.substr(static_cast<std::size_t>(w - len));
  field.resize(static_cast<std::size_t>(len), ' ');
  return field;
}

void append_fields(std::vector<RealField>& fields, int repeat, int skip, int width, int decimals) {
  int col = fields.empty() ? 1 : fields.back().first_col + fields.back().width;
  for (int r = 0; r < repeat; ++r) {
    col += skip;
    fields.push_back({col, width, decimals});
    col += width;
  }
}

int read_reals(std::string_view record, std::span<const RealField> fields, double* out) {
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const RealField& f = fields[k];
    if (!parse_real(field_at(record, f.first_col, f.width), f.decimals, out[k])) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

// ---- records ---------------------------------------------------------------

bool RecordReader::next() {
  if (pos_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', pos_);
  const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
  record_ = text_.substr(pos_, stop - pos_);
  if (!record_.empty() && record_.back() == '\r') record_.remove_suffix(1);
  pos_ = end == std::string_view::npos ? text_.size() : end + 1;
  ++number_;
  return true;
}

std::string describe_field(int record, int first_col, int w, std::string_view record_text) {
  std::string field(field_at(record_text, first_col, w));
  field.resize(static_cast<std::size_t>(w > 0 ? w : 0), ' ');
  std::string s = "record " + std::to_string(record) + ", columns " + std::to_string(first_col) +
                  "-" + std::to_string(first_col + w - 1) + " (\"" + field + "\")";
  return s;
}

}  // namespace zalk::fortio
