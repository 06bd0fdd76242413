#include "tools/recorded_sets.h"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "engine/driver.h"
#include "engine/quorvan.h"
#include "legacy/host_arrays.h"
#include "rating/context.h"
#include "legacy/host_rating.h"
#include "rating/grids.h"
#include "tests/support/layer_points.h"
#include "tests/support/reference_structures.h"
#include "tools/defltable_records.h"
#include "apps/rate/rate_csv.h"

namespace recorded {
namespace {

namespace fs = std::filesystem;
namespace engine = zalk::engine;
namespace rating = zalk::rating;
namespace legacy = zalk::legacy;

// ---- values as bit patterns ------------------------------------------------

std::uint64_t bits_of(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::uint64_t bits_of(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::uint64_t bits_of(int v) { return std::uint32_t(v); }

template <class T>
Row row_of(std::string where, char kind, const T* values, std::size_t n) {
  Row r{std::move(where), kind, {}};
  for (std::size_t i = 0; i < n; ++i) r.bits.push_back(bits_of(values[i]));
  return r;
}

// The value a pattern stands for, for messages.
std::string value_text(char kind, std::uint64_t bits) {
  char text[64];
  if (kind == 'd') {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    std::snprintf(text, sizeof text, "%016" PRIx64 " (%.17g)", bits, v);
  } else if (kind == 'f') {
    const std::uint32_t b = std::uint32_t(bits);
    float v;
    std::memcpy(&v, &b, sizeof v);
    std::snprintf(text, sizeof text, "%08" PRIx64 " (%.9g)", bits, double(v));
  } else if (kind == 'i') {
    std::snprintf(text, sizeof text, "%08" PRIx64 " (%d)", bits, int(std::int32_t(std::uint32_t(bits))));
  } else {
    std::snprintf(text, sizeof text, "%016" PRIx64, bits);
  }
  return text;
}

// "<prefix><n>", put together by appending (GCC 12 warns wrongly about
// "text" + std::to_string(n)).
std::string numbered(std::string prefix, int n) {
  prefix.append(std::to_string(n));
  return prefix;
}

int hex_digits(char kind) { return kind == 'f' || kind == 'i' ? 8 : 16; }

// ---- engine ----------------------------------------------------------------

void set_engine_paths(engine::EngineWorkspace& ws, Paths paths) {
  if (paths == Paths::defaults) return;
  ws.solver.reuse_pivots = false;
  ws.intervals.fit_sets_together = false;
}

// Numbers in [0, 1) from the words of mt19937, whose sequence the standard
// fixes (its distributions are not portable).
class Uniform {
 public:
  explicit Uniform(std::uint32_t seed) : rng_(seed) {}
  double operator()() { return double(rng_()) * 0x1p-32; }

 private:
  std::mt19937 rng_;
};

// Moduli over four decades, thick layers whose exponentials underflow at
// large m, every kind of bond, one or two loads of radius 0.8 to 12 (the
// second of the same radius half the time, so that the transform tables are
// shared), points on the axis and off it at the top and the middle of
// every layer.
engine::DeckProblem random_problem(Uniform& unit) {
  engine::DeckProblem p;
  p.nlayer = 2 + int(unit() * 9.0);
  for (int i = 0; i < p.nlayer; ++i) {
    p.emod[i] = std::pow(10.0, 3.0 + 4.0 * unit());
    p.pratio[i] = 0.15 + 0.34 * unit();
    const double roll = unit();
    p.thick[i] = i + 1 == p.nlayer ? 0.0 : roll < 0.1 ? 20.0 + 400.0 * unit() : 0.5 + 30.0 * unit();
    const double kind = unit();
    p.bond[i] = kind < 0.6 ? 1.0 : kind < 0.75 ? 0.0 : unit();
  }
  if (unit() < 0.2) p.emod[1] = p.emod[0] * (1.0 + p.pratio[1]) / (1.0 + p.pratio[0]);
  p.nload = 1 + int(unit() * 2.0);
  for (int j = 0; j < p.nload; ++j) {
    p.press[j] = 50.0 + 100.0 * unit();
    p.radius[j] = j > 0 && unit() < 0.5 ? p.radius[0] : 0.8 + 11.2 * unit();
    p.xload[j] = 12.0 * j;
  }
  zalk::testing::place_points_in_every_layer(p);
  return p;
}

// Every result slot of every point of the problem analysed last.
void add_point_rows(const engine::EngineWorkspace& ws, const std::string& prefix, int npoint,
                    std::vector<Row>& rows) {
  for (int k = 1; k <= npoint; ++k) {
    std::array<double, engine::kSlots> slots{};
    for (int s = 1; s <= engine::kSlots; ++s) slots[std::size_t(s - 1)] = engine::result_slot(ws, s, k);
    rows.push_back(row_of(numbered(prefix + ".p", k), 'd', slots.data(), slots.size()));
  }
}

constexpr int kRandomStructures = 60;

void add_random_structures(engine::EngineWorkspace& ws, std::vector<Row>& rows) {
  engine::ProblemSet set;
  engine::read_deck_text(engine::write_deck_text(engine::DeckRequest{}), set);  // the reader's tolerances
  Uniform unit(3071);
  for (int t = 1; t <= kRandomStructures; ++t) {
    const engine::DeckProblem p = random_problem(unit);
    engine::analyse_problem(ws, p, set.abstol, set.reltol);
    add_point_rows(ws, numbered("r", t), p.npoint, rows);
  }
}

void add_reference_structures(engine::EngineWorkspace& ws, std::vector<Row>& rows) {
  const float seastab[5] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  for (const zalk::testing::ReferenceStructure& s : zalk::testing::kReferenceStructures) {
    const float e1 = float(s.e1), e2 = float(s.e2), e3 = float(s.e3);
    for (int mode : {1, 2}) {
      float defl[8] = {};
      float resp[10] = {};
      engine::quorvan(ws, float(s.h1), float(s.h2), float(s.h3), &e1, &e2, &e3, 1.0f, defl, resp, seastab, 1,
                      mode);
      const std::string prefix = numbered(std::string(s.id) + ".m", mode);
      add_point_rows(ws, prefix, ws.current.npt, rows);
      if (mode == 1) rows.push_back(row_of(prefix + ".defl", 'f', defl, 8));
      if (mode == 2) rows.push_back(row_of(prefix + ".resp", 'f', resp, 9));  // the tenth is never written
    }
  }
}

// ---- the sample through the legacy core -----------------------------------

// The host's arrays, column-major with the library's extents.
struct Host {
  std::vector<double> fwd = std::vector<double>(legacy::kFwdSize, 0.0);
  std::vector<double> result = std::vector<double>(legacy::kResultSize, 0.0);
  std::vector<double> sect = std::vector<double>(legacy::kSectSize, 0.0);
  std::array<int, legacy::kMaxSections> ntest{};

  static std::size_t at(int p, int j, int k) { return legacy::test_at(p, j, k); }
  double& sect_at(int p, int c) { return sect[legacy::row_at(p, c)]; }

  // Section row p from a sample section; the shared seasonal factors in row 1.
  void put_section(int p, const rate_csv::Section& s, const std::array<double, 10>& factors) {
    for (int c = 1; c <= 13; ++c) sect_at(p, c) = s.columns[std::size_t(c - 1)];
    for (int c = 14; c <= 23; ++c) sect_at(1, c) = factors[std::size_t(c - 14)];
  }
  void put_test(int p, int j, const rate_csv::Test& t) {
    for (int k = 1; k <= 10; ++k) fwd[at(p, j, k)] = t.slabs[std::size_t(k - 1)];
  }
};

rate_csv::Input read_sample(const fs::path& source) {
  const fs::path dir = source / "data" / "sample";
  rate_csv::Input in;
  const fs::path sections = dir / "sections.csv", tests = dir / "tests.csv";
  in.sections = rate_csv::read_sections(rate_csv::read_file(sections), sections.string(), in.factors);
  rate_csv::read_tests(rate_csv::read_file(tests), tests.string(), in);
  return in;
}

// A rating context on the shipped table, its engine created here so that
// the paths are set before the first call.
void set_up_context(rating::RatingContext& ctx, Paths paths, const fs::path& source) {
  ctx.table = source / "data" / "backdefl.txt";
  ctx.engine = engine::make_engine_workspace();
  set_engine_paths(*ctx.engine, paths);
  if (paths == Paths::plain) ctx.share_surface_work = false;
}

void add_block_rows(const rating::OwnedBlocks& b, std::vector<Row>& rows) {
  const std::pair<const char*, std::uint64_t> blocks[] = {
      {"CODE", fnv1a(b.code.get(), sizeof *b.code)},    {"DD", fnv1a(b.dd.get(), sizeof *b.dd)},
      {"COM1", fnv1a(b.com1.get(), sizeof *b.com1)},    {"COM2", fnv1a(b.com2.get(), sizeof *b.com2)},
      {"COM3", fnv1a(b.com3.get(), sizeof *b.com3)},    {"DEPTH", fnv1a(b.depth.get(), sizeof *b.depth)},
      {"DAM", fnv1a(b.dam.get(), sizeof *b.dam)}};
  for (const auto& [name, hash] : blocks) rows.push_back({std::string("block.") + name, 'h', {hash}});
}

}  // namespace

std::uint64_t fnv1a(const void* bytes, std::size_t size) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < size; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ULL;
  }
  return h;
}

Recording engine_outputs(Paths paths) {
  Recording r;
  r.header = {"r<n>.p<k>: random structure n, point k; <S>.m<mode>.p<k>: reference structure S through the",
              "entry in mode 1 or 2, point k: result slots 1..15 (d). <S>.m1.defl: the 8 deflections (f);",
              "<S>.m2.resp: the 9 indicators (f)."};
  auto ws = engine::make_engine_workspace();
  set_engine_paths(*ws, paths);
  add_random_structures(*ws, r.rows);
  add_reference_structures(*ws, r.rows);
  return r;
}

std::vector<int> table_sample() {
  constexpr std::size_t kSampled = 2500;
  Uniform unit(45056);
  std::set<int> picked;
  while (picked.size() < kSampled) picked.insert(1 + int(unit() * rating::kTableRecords));
  return {picked.begin(), picked.end()};
}

Recording table_records(Paths paths, const fs::path& deck, int stride) {
  Recording r;
  r.header = {"rec<n>: record n (line n of data/backdefl.txt): the 8 deflections (f)."};
  auto ws = engine::make_engine_workspace();
  set_engine_paths(*ws, paths);
  const std::vector<int> sample = table_sample();
  for (std::size_t i = 0; i < sample.size(); i += std::size_t(stride)) {
    float defl[8] = {};
    defltable_records::deflections(*ws, deck, defltable_records::grid_point(sample[i] - 1), defl);
    r.rows.push_back(row_of(numbered("rec", sample[i]), 'f', defl, 8));
  }
  return r;
}

Recording sample_rating(Paths paths, const fs::path& source) {
  Recording r;
  r.header = {"<section>.t<j>: RESULT(p, j, 1..6) of test j (d); block.<name>: hash of the block",
              "after the call (h)."};
  const rate_csv::Input in = read_sample(source);
  Host host;
  const int nsec = int(in.sections.size());
  for (int p = 1; p <= nsec; ++p) {
    host.put_section(p, in.sections[std::size_t(p - 1)], in.factors);
    const auto& tests = in.tests[std::size_t(p - 1)];
    host.ntest[std::size_t(p - 1)] = int(tests.size());
    for (int j = 1; j <= int(tests.size()); ++j) host.put_test(p, j, tests[std::size_t(j - 1)]);
  }
  rating::RatingContext ctx;
  set_up_context(ctx, paths, source);
  rating::OwnedBlocks blocks;
  legacy::rate_sections(ctx, blocks.view, host.fwd.data(), host.result.data(), host.sect.data(), host.ntest.data(),
                        &nsec);
  for (int p = 1; p <= nsec; ++p) {
    for (int j = 1; j <= host.ntest[std::size_t(p - 1)]; ++j) {
      std::array<double, 6> result{};
      for (int k = 1; k <= 6; ++k) result[std::size_t(k - 1)] = host.result[Host::at(p, j, k)];
      r.rows.push_back(row_of(numbered(in.sections[std::size_t(p - 1)].id + ".t", j), 'd', result.data(), 6));
    }
  }
  add_block_rows(blocks, r.rows);
  return r;
}

Recording sample_overlay(Paths paths, const fs::path& source) {
  Recording r;
  r.header = {"<section>.npass: NPASS (i); .tpass, .rpass: TPASS and RPASS of passes 1..NPASS (d);",
              ".basin: FWD(i, 1, 3..8) after the iteration (d); block.<name>: hash of the block (h)."};
  const rate_csv::Input in = read_sample(source);
  const fs::path file = source / "data" / "sample" / "overlay.csv";
  const auto items = rate_csv::read_overlay(rate_csv::read_file(file), file.string(), in);
  Host host;
  std::array<double, legacy::kMaxSections> h3{}, e1{}, e2{}, e3{};
  const int nsec = int(items.size());
  for (int i = 1; i <= nsec; ++i) {
    const rate_csv::OverlayItem& item = items[std::size_t(i - 1)];
    host.put_section(i, in.sections[item.section], in.factors);
    host.put_test(i, 1, in.tests[item.section].front());
    h3[std::size_t(i - 1)] = item.h3;
    e1[std::size_t(i - 1)] = item.e1;
    e2[std::size_t(i - 1)] = item.e2;
    e3[std::size_t(i - 1)] = item.e3;
  }
  rating::RatingContext ctx;
  set_up_context(ctx, paths, source);
  rating::OwnedBlocks blocks;
  const double dh = 1.0;
  std::array<int, legacy::kMaxSections> npass{};
  std::vector<double> rpass(std::size_t(legacy::kMaxSections) * legacy::kMaxPasses, 0.0);
  std::vector<double> tpass = rpass;
  legacy::overlay_iteration(ctx, blocks.view, h3.data(), e1.data(), e2.data(), e3.data(), host.fwd.data(),
                            host.sect.data(), &nsec, nullptr, &dh, npass.data(), rpass.data(), tpass.data());
  for (int i = 1; i <= nsec; ++i) {
    const std::string id = in.sections[items[std::size_t(i - 1)].section].id;
    const int n = npass[std::size_t(i - 1)];
    std::vector<double> t, a;
    for (int k = 1; k <= n; ++k) {
      t.push_back(tpass[std::size_t(k - 1) * legacy::kMaxSections + std::size_t(i - 1)]);
      a.push_back(rpass[std::size_t(k - 1) * legacy::kMaxSections + std::size_t(i - 1)]);
    }
    std::array<double, 6> basin{};
    for (int k = 3; k <= 8; ++k) basin[std::size_t(k - 3)] = host.fwd[Host::at(i, 1, k)];
    r.rows.push_back(row_of(id + ".npass", 'i', &n, 1));
    r.rows.push_back(row_of(id + ".tpass", 'd', t.data(), t.size()));
    r.rows.push_back(row_of(id + ".rpass", 'd', a.data(), a.size()));
    r.rows.push_back(row_of(id + ".basin", 'd', basin.data(), basin.size()));
  }
  add_block_rows(blocks, r.rows);
  return r;
}

// ---- text ------------------------------------------------------------------

std::string format(const Recording& r) {
  std::string out;
  out += "# Recorded by tools/record_outputs from the plain algorithms; see tests/data/README.md.\n";
  for (const std::string& line : r.header) out += "# " + line + "\n";
  char hex[20];
  for (const Row& row : r.rows) {
    out += row.where;
    out += ' ';
    out += row.kind;
    for (std::uint64_t b : row.bits) {
      std::snprintf(hex, sizeof hex, " %0*" PRIx64, hex_digits(row.kind), b);
      out += hex;
    }
    out += '\n';
  }
  return out;
}

Recording parse(std::string_view text) {
  Recording r;
  std::istringstream in{std::string(text)};
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      throw std::runtime_error("line " + std::to_string(number) + ": " + why);
    };
    std::istringstream words(line);
    Row row;
    std::string kind, value;
    if (!(words >> row.where >> kind) || kind.size() != 1 || std::string("dfih").find(kind[0]) == std::string::npos)
      fail("expected <where> <d|f|i|h> values");
    row.kind = kind[0];
    while (words >> value) {
      if (int(value.size()) != hex_digits(row.kind) ||
          value.find_first_not_of("0123456789abcdef") != std::string::npos)
        fail("not a bit pattern of kind " + kind + ": " + value);
      row.bits.push_back(std::strtoull(value.c_str(), nullptr, 16));
    }
    r.rows.push_back(std::move(row));
  }
  return r;
}

Comparison compare(const Recording& expected, const Recording& actual, bool subset) {
  constexpr std::size_t kReported = 8;
  Comparison c;
  auto report = [&](const std::string& what) {
    ++c.mismatches;
    if (c.first.size() < kReported) c.first.push_back(what);
  };
  std::map<std::string_view, const Row*> recorded;
  for (const Row& row : expected.rows) recorded.emplace(row.where, &row);
  if (!subset && expected.rows.size() != actual.rows.size())
    report(std::to_string(actual.rows.size()) + " rows computed, " + std::to_string(expected.rows.size()) +
           " recorded");
  for (const Row& row : actual.rows) {
    const auto it = recorded.find(row.where);
    if (it == recorded.end()) {
      report(row.where + ": not recorded");
      continue;
    }
    const Row& want = *it->second;
    if (want.kind != row.kind || want.bits.size() != row.bits.size()) {
      report(row.where + ": " + std::to_string(row.bits.size()) + " values of kind " + row.kind + " computed, " +
             std::to_string(want.bits.size()) + " of kind " + want.kind + " recorded");
      continue;
    }
    for (std::size_t i = 0; i < row.bits.size(); ++i) {
      ++c.values;
      if (row.bits[i] != want.bits[i])
        report(row.where + " value " + std::to_string(i + 1) + ": recorded " + value_text(want.kind, want.bits[i]) +
               ", computed " + value_text(row.kind, row.bits[i]));
    }
  }
  return c;
}

}  // namespace recorded
