// Writing and reading the analysis deck.
//
// The deck is the only channel between the engine's arguments and its
// analysis: the numbers analysed are those the re-read text yields (moduli
// with three significant digits). The writer refuses values that its fields
// cannot hold, before any file is touched, because a field of asterisks or a
// thickness that runs into the neighbouring field would be misread later.
#include "io/deck.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include "io/fortio.h"
#include "io/platform.h"
#include "io/io_messages.h"
#include "toolkit/errors.h"
#include "zalk/rating_model.hpp"

namespace zalk::engine {
namespace {

using namespace zalk::toolkit;

constexpr std::string_view kRoutine = "QUORVAN";
constexpr std::string_view kTitle = " QuORVAN input plate problem ";

[[noreturn]] void terminal(io::IoMessage m) {
  io::raise(m);
  std::abort();  // not reached: a terminal error never returns
}

// ---- writer ------------------------------------------------------------------

// The fixed values of the deck, 4-byte constants where the configuration says so.
constexpr float kPoisson[4] = {float(kRatingModel.poisson[0]), float(kRatingModel.poisson[1]),
                               float(kRatingModel.poisson[2]), float(kRatingModel.poisson[3])};
constexpr float kBottomModulus = float(kRatingModel.stiff_layer_modulus_psi);
// The plate's radius in the load records' text (F7.3).
static_assert(kRatingModel.plate_radius_in == 5.9);
constexpr std::string_view kNoInterface = " 0000.";
constexpr std::string_view kMode1LoadTail = " 005.900 0000.00 0000.00 0. 0.";
constexpr std::string_view kMode2Loads =
    " 00100.00 003.800 0000.00 0000.00 0. 0.\n"
    " 00100.00 003.800 0013.50 0000.00 0. 0.\n";
constexpr std::string_view kMode1Points =
    "  1 0000.00 0000.00 0000.00 0.\n"
    "  1    8.00    0.00    0.00 0.\n"
    "  1   12.00    0.00    0.00 0.\n"
    "  1   18.00    0.00    0.00 0.\n"
    "  1   24.00    0.00    0.00 0.\n"
    "  1   36.00    0.00    0.00 0.\n"
    "  1   48.00    0.00    0.00 0.\n"
    "  1   60.00    0.00    0.00 0.\n";

// The shortest text that reads back as the value (of the width it was given in).
template <class T>
std::string shortest_text(T value) {
  char buf[64];
  const T mag = value < 0 ? -value : value;
  const bool plain = mag >= T(1e-4) && mag < T(1e15);  // "100000", not "1e+05"
  const auto r = plain ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                       : std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

template <class T>
[[noreturn]] void value_does_not_fit(const std::string& what, T value, std::string_view field,
                                     std::string_view rule) {
  E1STL(1, what);
  E1STL(2, shortest_text(value));
  E1STL(3, field);
  E1STL(4, rule);
  terminal(io::IoMessage::value_does_not_fit);
}

std::string case_text(std::string_view what, int c) {
  return std::string(what) + " in case " + std::to_string(c);
}

void put_modulus(std::string& out, float e, int layer, int c) {
  if (!fortio::put_e(out, double(e), 8, 3)) {
    value_does_not_fit(case_text("modulus of layer " + std::to_string(layer), c), e, "E8.3",
                       "a modulus must be finite and not negative");
  }
}

// The thickness field must begin with a blank: the reader's Poisson's ratio
// field reaches into its first column.
void put_thickness(std::string& out, float h, int layer) {
  const std::size_t start = out.size();
  if (!fortio::put_f(out, double(h), 8, 3) || out[start] != ' ') {
    value_does_not_fit("thickness of layer " + std::to_string(layer), h, "F8.3",
                       "a thickness must be finite, above -100 and below 1000");
  }
}

void put_depth(std::string& out, double z, int point) {
  if (!fortio::put_f(out, z, 8, 3)) {
    value_does_not_fit("depth of point " + std::to_string(point), z, "F8.3",
                       "a depth must be finite, above -1000 and below 10000");
  }
}

void put_layer_record(std::string& out, float e, int layer, float h, int c) {
  put_modulus(out, e, layer, c);
  fortio::put_f(out, double(kPoisson[layer - 1]), 6, 2);
  put_thickness(out, h, layer);
  out += kNoInterface;
  out += '\n';
}

void put_mode1_loads(std::string& out, float q) {
  const float pressure = 100.0f * q;
  out += " 1\n";
  if (!fortio::put_f(out, double(pressure), 9, 3)) {
    value_does_not_fit("pressure 100 x q", pressure, "F9.3",
                       "it must be finite, above -10000 and below 100000");
  }
  out += kMode1LoadTail;
  out += '\n';
  out += " 8\n";
  out += kMode1Points;
}

void put_mode2_point(std::string& out, int layer, std::string_view xy, double depth, int point) {
  fortio::put_i(out, layer, 3);
  out += xy;
  put_depth(out, depth, point);
  out += " 0.\n";
}

void put_mode2_loads(std::string& out, float h1, float h2) {
  out += " 2\n";
  out += kMode2Loads;
  out += " 5\n";
  const int layer_at_6 = h2 < 6.0f ? 3 : 2;
  const int layer_at_12 = h2 < 12.0f ? 3 : 2;
  const double depth_6 = 6.0 + double(h1);       // 8-byte sum
  const double depth_12 = double(h1 + 12.0f);    // 4-byte sum
  constexpr std::string_view kAxis = " 0000.00 0000.00";
  constexpr std::string_view kBetween = " 0006.75 0000.00";
  put_mode2_point(out, 1, kAxis, double(h1), 1);
  put_mode2_point(out, layer_at_6, kAxis, depth_6, 2);
  put_mode2_point(out, layer_at_12, kAxis, depth_12, 3);
  put_mode2_point(out, layer_at_6, kBetween, depth_6, 4);
  put_mode2_point(out, layer_at_12, kBetween, depth_12, 5);
}

void check_request(const DeckRequest& r) {
  if (r.ncases > kMaxProblems) {
    E1STI(1, r.ncases);
    E1STI(2, kMaxProblems);
    terminal(io::IoMessage::too_many_cases);
  }
  if (r.ncases >= 1 && (r.e1 == nullptr || r.e2 == nullptr || r.e3 == nullptr)) {
    E1STI(1, r.ncases);
    terminal(io::IoMessage::no_moduli);
  }
}

// ---- reader ------------------------------------------------------------------

// Names a record or a value of the deck for messages; only formatted on error.
struct What {
  const char* text;  // e.g. "layer record", "modulus of layer"
  int index = 0;     // layer, load or point number (0: none)
  int problem = 0;   // 0: not within a problem
};

std::string describe(const What& w) {
  std::string s = w.text;
  if (w.index > 0) s.append(" ").append(std::to_string(w.index));
  if (w.problem > 0) s.append(" of problem ").append(std::to_string(w.problem));
  return s;
}

class DeckReader {
 public:
  DeckReader(std::string_view text, std::string_view source) : records_(text), source_(source) {}

  std::string_view next(const What& what) {
    if (!records_.next()) {
      E1STL(1, source_);
      E1STI(1, records_.record_number());
      E1STL(2, describe(what));
      E1STI(2, records_.record_number() + 1);
      terminal(io::IoMessage::deck_ends);
    }
    return records_.record();
  }

  int integer(std::string_view rec, int col, int w, const What& what) {
    int v = 0;
    if (!fortio::parse_int(fortio::field_at(rec, col, w), v)) not_a_number(rec, col, w, what);
    return v;
  }

  double real(std::string_view rec, int col, int w, int d, const What& what) {
    double v = 0.0;
    if (!fortio::parse_real(fortio::field_at(rec, col, w), d, v)) not_a_number(rec, col, w, what);
    return v;
  }

  // A count record (3I3): the first value is used, the other two must still be numbers.
  int count(const What& what, int limit, const char* items) {
    const std::string_view rec = next(what);
    const int n = integer(rec, 1, 3, what);
    integer(rec, 4, 3, what);
    integer(rec, 7, 3, what);
    check_limit(n, limit, items, what);
    return n;
  }

  // The analysis indexes its layer tables with a point's layer number.
  void check_layer_of_point(int layer, int nlayer, const What& what) {
    if (layer >= 1 && layer <= nlayer) return;
    E1STI(1, records_.record_number());
    E1STL(1, source_);
    E1STL(2, describe(what));
    E1STI(2, layer);
    E1STI(3, nlayer);
    terminal(io::IoMessage::layer_of_point);
  }

  void check_limit(int n, int limit, const char* items, const What& what) {
    if (n <= limit) return;
    E1STI(1, records_.record_number());
    E1STL(1, source_);
    E1STL(2, describe(what));
    E1STI(2, n);
    E1STL(3, items);
    E1STI(3, limit);
    terminal(io::IoMessage::count_above_limit);
  }

 private:
  [[noreturn]] void not_a_number(std::string_view rec, int col, int w, const What& what) {
    E1STL(1, source_);
    E1STL(2, fortio::describe_field(records_.record_number(), col, w, rec));
    E1STL(3, describe(what));
    terminal(io::IoMessage::not_a_number);
  }

  fortio::RecordReader records_;
  std::string source_;
};

// A count of zero or less reads no values but still takes one record; it is
// kept as 0, so that no caller ever sees a negative count.
void read_layers(DeckReader& r, int p, DeckProblem& prob) {
  const int n = r.count({"layer count record", 0, p}, kMaxLayers, "layers");
  prob.nlayer = n > 0 ? n : 0;
  if (n <= 0) r.next({"record standing for the layer records", 0, p});
  for (int i = 1; i <= n; ++i) {
    const std::string_view rec = r.next({"layer record", i, p});
    const auto k = static_cast<std::size_t>(i - 1);
    prob.emod[k] = r.real(rec, 1, 10, 1, {"modulus of layer", i, p});
    prob.pratio[k] = r.real(rec, 11, 5, 2, {"Poisson's ratio of layer", i, p});
    prob.thick[k] = r.real(rec, 16, 8, 2, {"thickness of layer", i, p});
    prob.bond[k] = r.real(rec, 24, 8, 2, {"interface value of layer", i, p});
  }
  for (int i = 0; i < prob.nlayer; ++i) {
    const auto k = static_cast<std::size_t>(i);
    prob.bond[k] = std::abs(1.0 - prob.bond[k] / 1000.0);
  }
}

void read_loads(DeckReader& r, int p, DeckProblem& prob) {
  const int n = r.count({"load count record", 0, p}, kMaxLoads, "loads");
  prob.nload = n > 0 ? n : 0;
  if (n <= 0) r.next({"record standing for the load records", 0, p});
  for (int j = 1; j <= n; ++j) {
    const std::string_view rec = r.next({"load record", j, p});
    const auto k = static_cast<std::size_t>(j - 1);
    prob.press[k] = r.real(rec, 1, 9, 2, {"pressure of load", j, p});
    prob.radius[k] = r.real(rec, 10, 8, 3, {"radius of load", j, p});
    prob.xload[k] = r.real(rec, 18, 8, 2, {"x of load", j, p});
    prob.yload[k] = r.real(rec, 26, 8, 2, {"y of load", j, p});
    r.real(rec, 34, 3, 0, {"fifth field of load", j, p});
    r.real(rec, 37, 3, 0, {"sixth field of load", j, p});
  }
}

void read_points(DeckReader& r, int p, DeckProblem& prob) {
  const int n = r.count({"point count record", 0, p}, kMaxPoints, "points");
  prob.npoint = n > 0 ? n : 0;
  if (n <= 0) r.next({"record standing for the point records", 0, p});
  for (int k1 = 1; k1 <= n; ++k1) {
    const std::string_view rec = r.next({"point record", k1, p});
    const auto k = static_cast<std::size_t>(k1 - 1);
    prob.lpoint[k] = r.integer(rec, 1, 3, {"layer of point", k1, p});
    r.check_layer_of_point(prob.lpoint[k], prob.nlayer, {"point record", k1, p});
    prob.xpoint[k] = r.real(rec, 4, 8, 2, {"x of point", k1, p});
    prob.ypoint[k] = r.real(rec, 12, 8, 2, {"y of point", k1, p});
    prob.zpoint[k] = r.real(rec, 20, 8, 2, {"depth of point", k1, p});
    r.real(rec, 28, 3, 0, {"fifth field of point", k1, p});
  }
}

void set_tolerances(ProblemSet& out) {
  out.abstol = kRatingModel.absolute_tolerance;
  out.reltol.fill(kRatingModel.relative_tolerance);
}

void read_deck(std::string_view text, std::string_view source, ProblemSet& out) {
  RoutineScope scope(kRoutine);
  DeckReader r(text, source);
  out.title = fortio::read_a(r.next({"title record"}), 1, 50, 50);
  const What count_what{"problem count record"};
  const std::string_view rec = r.next(count_what);
  const int nprob = r.integer(rec, 1, 12, count_what);
  r.check_limit(nprob, kMaxProblems, "problems", count_what);
  out.nprob = nprob > 0 ? nprob : 0;
  // resize() keeps the capacity: a deck of the usual size allocates nothing.
  out.problems.resize(static_cast<std::size_t>(out.nprob));
  for (int p = 1; p <= out.nprob; ++p) {
    DeckProblem& prob = out.problems[static_cast<std::size_t>(p - 1)];
    read_layers(r, p, prob);
    read_loads(r, p, prob);
    read_points(r, p, prob);
  }
  set_tolerances(out);
}

// ---- files -------------------------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void file_error(io::IoMessage code, std::string_view verb, const std::filesystem::path& path,
                             int err) {
  E1STL(1, platform::display_name(path));
  E1STL(2, verb);
  E1STL(3, err != 0 ? std::strerror(err) : "unknown error");
  terminal(code);
}

}  // namespace

std::string write_deck_text(const DeckRequest& request) {
  RoutineScope scope(kRoutine);
  check_request(request);
  std::string out;
  out.reserve(64 + static_cast<std::size_t>(request.ncases > 0 ? request.ncases : 0) * 512);
  out += kTitle;
  out += '\n';
  fortio::put_i(out, request.ncases, 12);
  out += '\n';
  const float h[3] = {request.h1, request.h2, request.h3};
  for (int c = 1; c <= request.ncases; ++c) {
    const auto i = static_cast<std::size_t>(c - 1);
    const float e[3] = {request.e1[i], request.e2[i], request.e3[i]};
    out += "  4  1  1\n";
    for (int layer = 1; layer <= 3; ++layer) put_layer_record(out, e[layer - 1], layer, h[layer - 1], c);
    fortio::put_e(out, double(kBottomModulus), 8, 3);
    fortio::put_f(out, double(kPoisson[3]), 6, 2);
    out += '\n';
    if (request.mode == 1) {
      put_mode1_loads(out, request.q);
    } else {
      put_mode2_loads(out, request.h1, request.h2);
    }
  }
  return out;
}

double modulus_through_deck(float e) {
  std::string record;
  if (!fortio::put_e(record, double(e), 8, 3)) return std::nan("");
  // The reader's modulus field takes two more columns, the blank start of the
  // Poisson's ratio field.
  record += "  ";
  double value = 0.0;
  if (!fortio::parse_real(fortio::field_at(record, 1, 10), 1, value)) return std::nan("");
  return value;
}

void read_deck_text(std::string_view text, ProblemSet& out) {
  read_deck(text, "analysis deck text", out);
}

namespace {

// The deck is rewritten in place and then cut to its new length, rather than
// truncated first: some file systems (ext4's replace-by-truncate heuristic)
// force a file truncated to zero out to disk when it is closed, which costs
// milliseconds on every engine call; rewriting in place costs microseconds.
// `create_mode` opens a deck that does not exist yet.
File open_for_rewrite(const std::filesystem::path& path, const char* create_mode) {
  errno = 0;
  File f(platform::open_file(path, "r+b"));
  if (!f && errno == ENOENT) f.reset(platform::open_file(path, create_mode));
  if (!f) file_error(io::IoMessage::cannot_write, "written", path, errno);
  return f;
}

// Writes the text and cuts the file to its length, through the open file.
void put_text(std::FILE* f, const std::string& text, const std::filesystem::path& path) {
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
      !platform::cut_open_file(f, text.size())) {
    file_error(io::IoMessage::cannot_write, "written", path, errno);
  }
}

std::string get_text(std::FILE* f, const std::filesystem::path& path) {
  std::string text;
  char buf[8192];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  if (std::ferror(f)) file_error(io::IoMessage::cannot_read, "read", path, errno);
  return text;
}

void close_file(File& f, io::IoMessage code, std::string_view verb, const std::filesystem::path& path) {
  if (std::fclose(f.release()) != 0) file_error(code, verb, path, errno);
}

}  // namespace

void write_deck_file(const std::filesystem::path& path, const DeckRequest& request) {
  const std::string text = write_deck_text(request);  // every check before the file is touched
  RoutineScope scope(kRoutine);
  File f = open_for_rewrite(path, "wb");
  put_text(f.get(), text, path);
  close_file(f, io::IoMessage::cannot_write, "written", path);
}

void read_deck_file(const std::filesystem::path& path, ProblemSet& out) {
  std::string text;
  {
    RoutineScope scope(kRoutine);
    errno = 0;
    File f(platform::open_file(path, "rb"));
    if (!f) file_error(io::IoMessage::cannot_read, "read", path, errno);
    text = get_text(f.get(), path);
  }
  read_deck(text, "analysis deck " + platform::display_name(path), out);
}

// One open for both directions: where opening a file is costly (under Wine
// every open and close is a round trip to the server) this halves the cost
// of the deck on every engine call.
void write_and_read_deck_file(const std::filesystem::path& path, const DeckRequest& request,
                              ProblemSet& out) {
  const std::string text = write_deck_text(request);
  std::string back;
  {
    RoutineScope scope(kRoutine);
    File f = open_for_rewrite(path, "w+b");
    put_text(f.get(), text, path);
    if (std::fseek(f.get(), 0, SEEK_SET) != 0) file_error(io::IoMessage::cannot_read, "read", path, errno);
    back = get_text(f.get(), path);
    close_file(f, io::IoMessage::cannot_read, "read", path);
  }
  read_deck(back, "analysis deck " + platform::display_name(path), out);
}

}  // namespace zalk::engine
