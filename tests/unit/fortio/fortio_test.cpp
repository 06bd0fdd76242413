// Fortran edit rules: the text each output edit produces and the values the
// input rules take from a field. Expected texts are written out by hand from
// the edit rules; expected values are the decimal literals the text denotes.
#include "io/fortio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <limits>
#include <string>
#include <vector>

namespace zalk::fortio {
namespace {

std::string e(double v, int w, int d) {
  std::string s;
  put_e(s, v, w, d);
  return s;
}
std::string f(double v, int w, int d) {
  std::string s;
  put_f(s, v, w, d);
  return s;
}
std::string i(long long v, int w) {
  std::string s;
  put_i(s, v, w);
  return s;
}

double real(std::string_view field, int d) {
  double v = -12345.0;
  EXPECT_TRUE(parse_real(field, d, v)) << '"' << field << '"';
  return v;
}

TEST(FortranOutput, E83ThreeSignificantDigitsWithoutLeadingZero) {
  EXPECT_EQ(e(500000, 8, 3), ".500E+06");
  EXPECT_EQ(e(523456, 8, 3), ".523E+06");
  EXPECT_EQ(e(1.0e7, 8, 3), ".100E+08");
  EXPECT_EQ(e(double(30000.f), 8, 3), ".300E+05");
  EXPECT_EQ(e(0.0, 8, 3), ".000E+00");
  EXPECT_EQ(e(0.00123456, 8, 3), ".123E-02");
  EXPECT_EQ(e(1.0, 8, 3), ".100E+01");
  // Rounding up into the next decade moves the exponent.
  EXPECT_EQ(e(999999, 8, 3), ".100E+07");
  EXPECT_EQ(e(999.5, 8, 3), ".100E+04");
  EXPECT_EQ(e(999.4999, 8, 3), ".999E+03");
  EXPECT_EQ(e(0.09996, 8, 3), ".100E+00");
}

TEST(FortranOutput, HalfwayCasesRoundAwayFromZeroOnTheExactBinaryValue) {
  EXPECT_EQ(e(522500, 8, 3), ".523E+06");   // exactly halfway: away from zero
  EXPECT_EQ(e(523500, 8, 3), ".524E+06");
  EXPECT_EQ(f(0.125, 5, 2), " 0.13");       // exact binary value, halfway
  EXPECT_EQ(f(-0.125, 6, 2), " -0.13");
  EXPECT_EQ(f(1.0625, 6, 3), " 1.063");
  EXPECT_EQ(f(2.5, 3, 0), " 3.");
  EXPECT_EQ(f(0.145, 5, 2), " 0.14");       // binary value just below 0.145
  EXPECT_EQ(f(0.155, 5, 2), " 0.15");       // binary value just below 0.155
  EXPECT_EQ(f(0.135, 5, 2), " 0.14");       // binary value just above 0.135
  EXPECT_EQ(f(0.5, 4, 0), "  1.");
  EXPECT_EQ(f(1.5, 4, 0), "  2.");
}

// A second way to the same digits: the C library's exact decimal expansion,
// rounded half away from zero by hand, for E8.3 and F8.3 of positive values.
std::string reference_e83(double v) {
  char buf[900];
  std::snprintf(buf, sizeof buf, "%.800e", v);  // exact: a double has at most 767 digits
  std::string digits = {buf[0], buf[2], buf[3]};
  int exp10 = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  if (buf[4] >= '5') {
    int k = 2;
    while (k >= 0 && digits[k] == '9') digits[k--] = '0';
    if (k < 0) {
      digits = "100";
      ++exp10;
    } else {
      ++digits[k];
    }
  }
  char out[16];
  std::snprintf(out, sizeof out, ".%sE%c%02d", digits.c_str(), exp10 < 0 ? '-' : '+', std::abs(exp10));
  return out;
}

std::string reference_f83(double v) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%.120f", v);  // exact for values above 2^-40
  std::string text(buf, std::strchr(buf, '.') + 4);
  if (std::strchr(buf, '.')[4] >= '5') {
    int k = static_cast<int>(text.size()) - 1;
    for (; k >= 0; --k) {
      if (text[k] == '.') continue;
      if (text[k] != '9') break;
      text[k] = '0';
    }
    if (k < 0) text.insert(0, "1");
    else ++text[k];
  }
  return text.size() > 8 ? std::string(8, '*') : std::string(8 - text.size(), ' ') + text;
}

TEST(FortranOutput, AgreesWithTheExactExpansionOverManyValues) {
  std::mt19937_64 rng(20240607);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, 30), small(-4, 4), integer(0, 2000000);
  for (int n = 0; n < 4000; ++n) {
    // Random doubles, the same widened from 4 bytes, exact halfway values of
    // E8.3 (ddd5 x 10^k) and of F8.3 (sixteenths), values near the field's range.
    const double r = mantissa(rng) * std::pow(10.0, exponent(rng));
    const double e_tie = (1005 + 10 * (integer(rng) % 900)) * std::pow(10.0, std::abs(small(rng)));
    const double values[] = {r, double(float(r)), e_tie, integer(rng) / 16.0,
                             mantissa(rng) * std::pow(10.0, small(rng))};
    for (double v : values) {
      if (v <= 0) continue;
      ASSERT_EQ(e(v, 8, 3), reference_e83(v)) << std::hexfloat << v;
      if (v > 1e-9) {
        ASSERT_EQ(f(v, 8, 3), reference_f83(v)) << std::hexfloat << v;
      }
    }
  }
}

TEST(FortranOutput, EFieldSignsWidthsAndLongExponents) {
  EXPECT_EQ(e(-500000, 8, 3), "********");  // the minus sign leaves no room
  EXPECT_EQ(e(-500000, 9, 3), "-.500E+06");
  EXPECT_EQ(e(-500000, 10, 3), "-0.500E+06");
  EXPECT_EQ(e(500000, 10, 3), " 0.500E+06");
  EXPECT_EQ(e(1.0e100, 8, 3), ".100+101");
  EXPECT_EQ(e(1.0e-99, 8, 3), ".100E-98");
  EXPECT_EQ(e(1.0e-100, 8, 3), ".100E-99");
  EXPECT_EQ(e(1.0e-101, 8, 3), ".100-100");
  EXPECT_EQ(e(12345.678, 12, 6), "0.123457E+05");
}

TEST(FortranOutput, FFieldLayout) {
  EXPECT_EQ(f(double(0.35f), 6, 2), "  0.35");
  EXPECT_EQ(f(double(0.45f), 6, 2), "  0.45");  // 0.449999988... rounds to 0.45
  EXPECT_EQ(f(4.0, 8, 3), "   4.000");
  EXPECT_EQ(f(12.0, 8, 3), "  12.000");
  EXPECT_EQ(f(82.0, 9, 3), "   82.000");
  EXPECT_EQ(f(999.9994, 8, 3), " 999.999");
  EXPECT_EQ(f(999.9995, 8, 3), "1000.000");    // the carry adds a digit
  EXPECT_EQ(f(9999.9996, 8, 3), "********");
  EXPECT_EQ(f(-99.9994, 8, 3), " -99.999");
  EXPECT_EQ(f(-1000.0, 8, 3), "********");
  EXPECT_EQ(f(0.35, 3, 2), ".35");             // no room for the leading zero
  EXPECT_EQ(f(0.0, 6, 2), "  0.00");
  EXPECT_EQ(f(-0.001, 6, 2), "  0.00");        // rounds to zero: no minus sign
  EXPECT_EQ(f(0.004, 6, 2), "  0.00");
  EXPECT_EQ(f(0.005, 6, 2), "  0.01");         // 0.005000000000000000104...
  EXPECT_EQ(f(123.0, 4, 0), "123.");
  EXPECT_EQ(f(1.0e30, 8, 3), "********");
}

TEST(FortranOutput, NonFiniteValuesGiveAsterisksAndFalse) {
  std::string s;
  EXPECT_FALSE(put_e(s, std::numeric_limits<double>::infinity(), 8, 3));
  EXPECT_FALSE(put_f(s, std::nan(""), 6, 2));
  EXPECT_EQ(s, "**************");
  EXPECT_TRUE(put_f(s, 1.0, 6, 2));
}

TEST(FortranOutput, IntegerField) {
  EXPECT_EQ(i(1, 12), "           1");
  EXPECT_EQ(i(-3, 12), "          -3");
  EXPECT_EQ(i(4, 3), "  4");
  EXPECT_EQ(i(1000, 3), "***");
  EXPECT_EQ(i(-10, 2), "**");
}

TEST(FortranInput, ImpliedDecimalsApplyOnlyWithoutAPoint) {
  EXPECT_EQ(real("       4", 2), 0.04);
  EXPECT_EQ(real("12345678", 8), 0.12345678);
  EXPECT_EQ(real("    12345678", 8), 0.12345678);
  EXPECT_EQ(real("   4.", 2), 4.0);
  EXPECT_EQ(real("  0.35", 2), 0.35);
  EXPECT_EQ(real("005.900", 3), 5.9);
  EXPECT_EQ(real("  -125", 1), -12.5);
  EXPECT_EQ(real(" 0000.", 2), 0.0);
  EXPECT_EQ(real("0.", 0), 0.0);
  EXPECT_EQ(real("0001", 3), 0.001);
}

TEST(FortranInput, BlanksAreNotSignificant) {
  EXPECT_EQ(real("          ", 1), 0.0);
  EXPECT_EQ(real("", 2), 0.0);
  EXPECT_EQ(real(" 1 2 . 5 ", 2), 12.5);
  EXPECT_EQ(real("- 3.25", 2), -3.25);
  EXPECT_EQ(real("1 0", 0), 10.0);   // blank between digits is dropped, not zero
  EXPECT_EQ(real(".100E+08  ", 1), 1.0e7);
  EXPECT_EQ(real("1.5E 2", 1), 150.0);
}

TEST(FortranInput, ExponentForms) {
  EXPECT_EQ(real(".523E+06", 1), 523000.0);
  EXPECT_EQ(real("1.5e2", 1), 150.0);
  EXPECT_EQ(real("1.5D+02", 1), 150.0);
  EXPECT_EQ(real("1.5d-2", 1), 0.015);
  EXPECT_EQ(real("1.0+05", 1), 1.0e5);   // sign-led exponent without a letter
  EXPECT_EQ(real("2.5-3", 1), 2.5e-3);
  EXPECT_EQ(real("125E1", 2), 12.5);     // implied decimals before the exponent
  EXPECT_EQ(real(".100+101", 3), 1.0e100);
  EXPECT_EQ(real("1E-400", 0), 0.0);     // below the smallest double: zero
}

TEST(FortranInput, ValuesAreCorrectlyRounded) {
  // More digits than a double holds, and exponents outside the exact range.
  EXPECT_EQ(real("0.1234567890123456789012345", 0), 0.1234567890123456789012345);
  EXPECT_EQ(real("12345678901234567890123", 0), 12345678901234567890123.0);
  EXPECT_EQ(real("1.7976931348623157E308", 0), 1.7976931348623157e308);
  EXPECT_EQ(real("4.9E-324", 0), 4.9e-324);
  EXPECT_EQ(real("9007199254740993", 0), 9007199254740992.0);  // 2^53 + 1: halfway, to even
  EXPECT_EQ(real("3.14159265358979323846", 0), 3.14159265358979323846);
}

TEST(FortranInput, MalformedFieldsAreConversionErrors) {
  for (std::string_view bad : {"1.2.3", "abc", "1.0E", "1.0E+", "--1", "+", "-", ".", "1e5x",
                               "********", "1,5", "E5", "1.0E5.0", "\t1", "1.0E+99999"}) {
    double v = 7.0;
    EXPECT_FALSE(parse_real(bad, 2, v)) << '"' << bad << '"';
    EXPECT_EQ(v, 7.0) << "value left alone for \"" << bad << '"';
  }
}

TEST(FortranInput, IntegerFields) {
  int v = -1;
  EXPECT_TRUE(parse_int(" 1", v));
  EXPECT_EQ(v, 1);  // " 1" in I3: the missing third column is a blank, not a zero
  EXPECT_TRUE(parse_int("  4", v));
  EXPECT_EQ(v, 4);
  EXPECT_TRUE(parse_int("   ", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parse_int(" -7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(parse_int("-2147483648", v));
  EXPECT_EQ(v, -2147483647 - 1);
  for (std::string_view bad : {"1.0", "2147483648", "x", "-", "1 -", "1e3", "***"}) {
    int w = 9;
    EXPECT_FALSE(parse_int(bad, w)) << '"' << bad << '"';
    EXPECT_EQ(w, 9);
  }
}

TEST(FortranInput, ShortRecordsReadAsBlanks) {
  const std::string_view rec = ".100E+08  0.49";
  EXPECT_EQ(field_at(rec, 1, 10), ".100E+08  ");
  EXPECT_EQ(field_at(rec, 11, 5), "0.49");
  EXPECT_EQ(field_at(rec, 16, 8), "");
  EXPECT_EQ(field_at(rec, 100, 8), "");
  EXPECT_EQ(real(field_at(rec, 16, 8), 2), 0.0);
  EXPECT_EQ(read_a(" QuORVAN ", 1, 12, 12), " QuORVAN    ");
  EXPECT_EQ(read_a("abcdef", 1, 6, 4), "cdef");  // Aw wider than the variable: rightmost part
  EXPECT_EQ(read_a("", 1, 3, 3), "   ");
}

TEST(FortranInput, FixedLayoutOfARepeatedFormat) {
  // (3(TR1,F6.0),3(TR1,F8.0),9(TR2,F12.8))
  std::vector<RealField> fields;
  append_fields(fields, 3, 1, 6, 0);
  append_fields(fields, 3, 1, 8, 0);
  append_fields(fields, 9, 2, 12, 8);
  ASSERT_EQ(fields.size(), 15u);
  EXPECT_EQ(fields[0].first_col, 2);
  EXPECT_EQ(fields[2].first_col, 16);
  EXPECT_EQ(fields[3].first_col, 23);
  EXPECT_EQ(fields[6].first_col, 51);
  EXPECT_EQ(fields[14].first_col, 51 + 8 * 14);
  std::string rec = "     1.    2.5     3.   1000.0  20000.0 300000.0";
  for (int k = 0; k < 9; ++k) rec += "    0.12345678";
  rec.pop_back();  // a record one column short: the last field's blank column is implied
  double out[15] = {};
  EXPECT_EQ(read_reals(rec, fields, out), -1);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 2.5);
  EXPECT_EQ(out[5], 300000.0);
  EXPECT_EQ(out[6], 0.12345678);
  EXPECT_EQ(out[14], 0.1234567);
  rec[27] = '*';  // inside the fourth field, columns 23-30
  EXPECT_EQ(read_reals(rec, fields, out), 3);
}

TEST(RecordReader, LineEnds) {
  struct Case {
    std::string_view text;
    std::vector<std::string_view> records;
  };
  const Case cases[] = {
      {"", {}},
      {"a\n", {"a"}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\n", {""}},
      {"x\r", {"x"}},
  };
  for (const Case& c : cases) {
    RecordReader r(c.text);
    std::vector<std::string_view> got;
    while (r.next()) {
      got.push_back(r.record());
      EXPECT_EQ(r.record_number(), static_cast<int>(got.size()));
    }
    EXPECT_EQ(got, c.records) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace zalk::fortio
