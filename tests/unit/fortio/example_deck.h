// The deck of one mode-1 case with h = 4, 8, 12, moduli 500000, 30000, 10000
// and q = 0.82, written out by hand from the record layout of the deck.
#pragma once

namespace zalk::engine::testing {

inline constexpr const char* kExampleDeck =
    " QuORVAN input plate problem \n"
    "           1\n"
    "  4  1  1\n"
    ".500E+06  0.35   4.000 0000.\n"
    ".300E+05  0.40   8.000 0000.\n"
    ".100E+05  0.45  12.000 0000.\n"
    ".100E+08  0.49\n"
    " 1\n"
    "   82.000 005.900 0000.00 0000.00 0. 0.\n"
    " 8\n"
    "  1 0000.00 0000.00 0000.00 0.\n"
    "  1    8.00    0.00    0.00 0.\n"
    "  1   12.00    0.00    0.00 0.\n"
    "  1   18.00    0.00    0.00 0.\n"
    "  1   24.00    0.00    0.00 0.\n"
    "  1   36.00    0.00    0.00 0.\n"
    "  1   48.00    0.00    0.00 0.\n"
    "  1   60.00    0.00    0.00 0.\n";

}  // namespace zalk::engine::testing
