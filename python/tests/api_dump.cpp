// Runs the C++ API on problems read from standard input and prints every
// result as a hexadecimal float, so that the Python package's results can be
// compared with the C++ API's bit for bit. Input (numbers in any strtod form):
//   analyse L M K, then L layers (t E nu bond), M loads (x y p a), K points (x y z)
//   rate TABLE N, then the section's 23 values, then N tests (hour load reps temp d1..d6)
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "zalk/zalk.hpp"

namespace {

double number() {
  std::string s;
  std::cin >> s;
  return std::strtod(s.c_str(), nullptr);
}

void print(double v) { std::printf("%a\n", v); }

int analyse() {
  int nl = 0, nld = 0, npt = 0;
  std::cin >> nl >> nld >> npt;
  zalk::Structure s;
  for (int i = 0; i < nl; ++i) s.layers.push_back({number(), number(), number(), number()});
  std::vector<zalk::CircularLoad> loads;
  for (int i = 0; i < nld; ++i) loads.push_back({number(), number(), number(), number()});
  std::vector<zalk::Point> points;
  for (int i = 0; i < npt; ++i) points.push_back({number(), number(), number()});
  const zalk::AnalysisResult r = zalk::analyse(s, loads, points);
  if (!r.status) return std::puts(r.status.error->text.c_str()), 1;
  for (const zalk::Response& p : r.responses) {
    for (double v : {p.w, p.u_x, p.u_y}) print(v);
    for (const zalk::Tensor* t : {&p.stress, &p.strain})
      for (double v : {t->xx, t->yy, t->zz, t->xy, t->yz, t->xz}) print(v);
  }
  return 0;
}

int rate() {
  std::string table;
  int n = 0;
  std::cin >> table >> n;
  double v[23];
  for (double& x : v) x = number();
  zalk::Section s;
  for (int k = 0; k < 5; ++k) {
    s.days[k] = v[k], s.air_temperature_f[k] = v[5 + k];
    s.base_factor[k] = v[13 + k], s.subgrade_factor[k] = v[18 + k];
  }
  s.surface_thickness_in = v[10], s.base_thickness_in = v[11], s.previous_day_air_f = v[12];
  std::vector<zalk::DeflectionTest> tests(static_cast<std::size_t>(n));
  for (zalk::DeflectionTest& t : tests) {
    t.hour = number(), t.load_lb = number(), t.reps_per_year = number();
    t.surface_temperature_f = number();
    for (int k = 0; k < 6; ++k) t.deflections_mils.push_back(number());
  }
  zalk::Rater rater;
  if (const zalk::Status st = rater.load_table(table); !st) return std::puts(st.error->text.c_str()), 1;
  const zalk::SectionRating r = rater.rate(s, tests);
  if (!r.status) return std::puts(r.status.error->text.c_str()), 1;
  for (const zalk::RatingResult& t : r.tests)
    for (double x : {t.allowable_load, t.e_surface, t.e_surface_72f, t.e_base, t.e_subgrade, t.depth_in})
      print(x);
  return 0;
}

}  // namespace

int main() {
  std::string what;
  std::cin >> what;
  if (what == "analyse") return analyse();
  if (what == "rate") return rate();
  return 2;
}
