// Cost of the analysis deck round trip (done on every engine call) and of
// reading a deflection-table-sized text with one fixed layout of real fields.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/deck.h"
#include "io/fortio.h"

namespace {

using namespace zalk;

struct Cases {
  std::vector<float> e1{523456.f, 400000.f, 300000.f, 200000.f, 100000.f};
  std::vector<float> e2{30000.f, 31000.f, 32000.f, 33000.f, 34000.f};
  std::vector<float> e3{10000.f, 11000.f, 12000.f, 13000.f, 14000.f};
  engine::DeckRequest request(int ncases, int mode) const {
    engine::DeckRequest r;
    r.h1 = 4.f;
    r.h2 = 8.f;
    r.h3 = 12.f;
    r.q = 0.82f;
    r.e1 = e1.data();
    r.e2 = e2.data();
    r.e3 = e3.data();
    r.ncases = ncases;
    r.mode = mode;
    return r;
  }
};

void BM_DeckTextModeTwoFiveCases(benchmark::State& state) {
  const Cases cases;
  engine::ProblemSet set;
  for (auto _ : state) {
    const std::string text = engine::write_deck_text(cases.request(5, 2));
    engine::read_deck_text(text, set);
    benchmark::DoNotOptimize(set.problems.data());
  }
}
BENCHMARK(BM_DeckTextModeTwoFiveCases);

void BM_DeckFileModeOne(benchmark::State& state) {
  const Cases cases;
  const auto dir = std::filesystem::temp_directory_path() / "zalk_bench_deck";
  std::filesystem::create_directories(dir);
  const auto path = dir / "input_m.txt";
  engine::ProblemSet set;
  for (auto _ : state) {
    engine::write_deck_file(path, cases.request(1, 1));
    engine::read_deck_file(path, set);
    benchmark::DoNotOptimize(set.problems.data());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DeckFileModeOne);

// 45,056 records of "(3(TR1,F6.0),3(TR1,F8.0),9(TR2,F12.8))".
std::string table_text(int records) {
  std::string text;
  unsigned s = 1u;
  for (int r = 0; r < records; ++r) {
    for (int k = 0; k < 3; ++k) {
      text += ' ';
      fortio::put_f(text, double(r % 97 + k), 6, 0);
    }
    for (int k = 0; k < 3; ++k) {
      text += ' ';
      fortio::put_f(text, double(1000 * (r % 53) + k), 8, 0);
    }
    for (int k = 0; k < 9; ++k) {
      s = s * 1664525u + 1013904223u;
      text += "  ";
      fortio::put_f(text, (s >> 8) / double(1u << 24), 12, 8);
    }
    text += '\n';
  }
  return text;
}

void BM_TableRecords(benchmark::State& state) {
  const int records = 45056;
  const std::string text = table_text(records);
  std::vector<fortio::RealField> fields;
  fortio::append_fields(fields, 3, 1, 6, 0);
  fortio::append_fields(fields, 3, 1, 8, 0);
  fortio::append_fields(fields, 9, 2, 12, 8);
  std::vector<double> values(fields.size());
  for (auto _ : state) {
    fortio::RecordReader reader(text);
    double sum = 0;
    while (reader.next()) {
      if (fortio::read_reals(reader.record(), fields, values.data()) >= 0) state.SkipWithError("bad field");
      sum += values[14];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_TableRecords)->Unit(benchmark::kMillisecond);

void BM_WriteE83(benchmark::State& state) {
  std::string out;
  out.reserve(64);
  double v = 523456.0;
  for (auto _ : state) {
    out.clear();
    fortio::put_e(out, v, 8, 3);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_WriteE83);

}  // namespace
