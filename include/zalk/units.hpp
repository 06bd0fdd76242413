// Units of the field files against the library's own (inches, mils, lb,
// degrees Fahrenheit): one place for each conversion, so that every reader
// and every caller converts a value to the same bits.
#pragma once

namespace zalk {

inline constexpr double kMillimetresPerInch = 25.4;
inline constexpr double kMicrometresPerMil = 25.4;
inline constexpr double kNewtonsPerPound = 4.4482216152605;
inline constexpr double kPoundsPerKip = 1000.0;

// Written as the F25 reader has always converted, (C x 9) / 5 + 32: 9/5 is
// not a binary fraction, so C x 1.8 + 32 would differ in the last bit.
constexpr double fahrenheit_of_celsius(double c) { return c * 9.0 / 5.0 + 32.0; }

}  // namespace zalk
