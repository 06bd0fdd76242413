#include "rating/defltable.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "io/fortio.h"
#include "io/platform.h"
#include "rating/grids.h"
#include "rating/rating_messages.h"
#include "toolkit/bspline.h"
#include "toolkit/errors.h"

namespace zalk::rating {
namespace {

constexpr int kSensors = 8;
constexpr int kNh = int(HACGRID.size());
constexpr int kNb = int(HBGRID.size());
constexpr int kNd = int(DEPGRID.size());
constexpr int kNe1 = int(E1GRID.size());
constexpr int kNe2 = int(E2GRID.size());
constexpr std::size_t kDtabSize = std::size_t(kNh) * kNb * kNd * kNe1 * kNe2 * kSensors;
constexpr std::size_t kDthkSize = std::size_t(kNd) * kNe1 * kNe2 * kSensors;
static_assert(kNh * kNb * kNd * kNe1 * kNe2 == kTableRecords);

constexpr int kLdf = 20;            // leading dimension of FWORK(20, 20)
constexpr int kOrder = 3;           // spline order in both directions

// Scope name printed after "from" in the table's messages.
constexpr const char* kRoutine = "DEFLTAB";

// Generations of table readings, unique in the process (never 0).
std::uint64_t next_generation() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

// Offsets into the column-major tables, indices 1-based.
std::size_t dtab_at(int i, int k, int d, int m, int n, int s) {
  return std::size_t(i - 1) +
         std::size_t(kNh) *
             (std::size_t(k - 1) +
              std::size_t(kNb) *
                  (std::size_t(d - 1) +
                   std::size_t(kNd) * (std::size_t(m - 1) +
                                       std::size_t(kNe1) * (std::size_t(n - 1) +
                                                            std::size_t(kNe2) * std::size_t(s - 1)))));
}

std::size_t dthk_at(int d, int m, int n, int s) {
  return std::size_t(d - 1) +
         std::size_t(kNd) *
             (std::size_t(m - 1) + std::size_t(kNe1) * (std::size_t(n - 1) + std::size_t(kNe2) * std::size_t(s - 1)));
}

int fwork_at(int i, int k) { return (i - 1) + (k - 1) * kLdf; }

// The table's messages are terminal: the reporter never returns from them.
[[noreturn]] void table_error(TableMessage m) {
  raise(m);
  throw std::logic_error("a terminal error returned");  // unreachable
}

// Room for every record of the layout with a CR-LF line end, and a little
// more: a larger file cannot be a table, and reading it whole (a device such
// as /dev/zero never ends) would only exhaust memory.
constexpr std::size_t kRecordBytes = 174 + 2;
constexpr std::size_t kMaxTableBytes = std::size_t(kTableRecords) * kRecordBytes + (std::size_t(1) << 16);

// The whole file in one read: the table is read on every rating call, so it
// must not go through a stream record by record. A missing table would leave
// every deflection zero and every result meaningless, so it is an error, and
// no empty file is left behind. Only a regular file is read, and never more
// than a table can take.
std::string read_whole_file(const std::filesystem::path& file) {
  toolkit::E1STL(1, platform::display_name(file));
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(file, ec);
  if (!std::filesystem::exists(st)) table_error(TableMessage::table_missing);
  if (!std::filesystem::is_regular_file(st)) table_error(TableMessage::table_not_regular);
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> f(platform::open_file(file, "rb"));
  if (!f) table_error(TableMessage::table_unreadable);
  // The size is a hint (the file may change meanwhile): one read normally
  // takes it all, and the one byte more finds its end.
  const std::uintmax_t hint = std::filesystem::file_size(file, ec);
  std::string text(std::size_t(ec ? 0 : std::min<std::uintmax_t>(hint, kMaxTableBytes)) + 1, '\0');
  std::size_t got = std::fread(text.data(), 1, text.size(), f.get());
  while (got == text.size() && text.size() <= kMaxTableBytes) {
    text.resize(std::min(2 * text.size(), kMaxTableBytes + 1));
    got += std::fread(text.data() + got, 1, text.size() - got, f.get());
  }
  text.resize(got);
  if (std::ferror(f.get())) table_error(TableMessage::table_unreadable);
  if (text.size() > kMaxTableBytes) {
    toolkit::E1STI(1, int(kMaxTableBytes));
    table_error(TableMessage::table_too_large);
  }
  return text;
}

// "(3(TR1,F6.0),3(TR1,F8.0),9(TR2,F12.8))" with 14 list items: the six
// leading scalars and the eight sensors; the fifteenth field is never read.
std::vector<fortio::RealField> record_layout() {
  std::vector<fortio::RealField> fields;
  fortio::append_fields(fields, 3, 1, 6, 0);
  fortio::append_fields(fields, 3, 1, 8, 0);
  fortio::append_fields(fields, kSensors, 2, 12, 8);
  return fields;
}

bool blank(std::string_view field) { return field.find_first_not_of(' ') == std::string_view::npos; }

// Every value of the table is a 4-byte float; a larger one, or infinity,
// would be changed by the conversion into something the file does not say.
bool fits_a_float(double v) { return std::isfinite(v) && std::abs(v) <= double(std::numeric_limits<float>::max()); }

// Reads one record into the six scratch values and the eight deflections.
// A field that is blank (a record cut short reads as blanks), not a number,
// or beyond the range of a 4-byte float is a terminal error naming record
// and columns. (Converting through 8 bytes gives the correctly rounded
// 4-byte value for fields of at most 12 digits with implied or written
// decimals.)
void read_record(const fortio::RecordReader& reader, const std::vector<fortio::RealField>& layout,
                 std::string_view name, std::array<double, 14>& values) {
  for (std::size_t k = 0; k < layout.size(); ++k) {
    const fortio::RealField& f = layout[k];
    const std::string_view field = fortio::field_at(reader.record(), f.first_col, f.width);
    TableMessage fault;
    if (blank(field)) {
      fault = TableMessage::table_blank_field;
    } else if (!fortio::parse_real(field, f.decimals, values[k])) {
      fault = TableMessage::table_not_a_number;
    } else if (!fits_a_float(values[k])) {
      fault = TableMessage::table_out_of_range;
    } else {
      continue;
    }
    toolkit::E1STL(1, name);
    toolkit::E1STL(2, fortio::describe_field(reader.record_number(), f.first_col, f.width, reader.record()));
    table_error(fault);
  }
}

[[noreturn]] void wrong_record_count(std::string_view name, TableMessage m, int records_read) {
  toolkit::E1STL(1, name);
  toolkit::E1STI(1, m == TableMessage::table_short ? records_read : records_read + 1);
  toolkit::E1STI(2, kTableRecords);
  toolkit::E1STI(3, records_read + 1);
  table_error(m);
}

// Grid values into XDATA/YDATA, counts and orders into COM3, then the
// not-a-knot knots of both directions into COM1.
template <std::size_t NX, std::size_t NY>
void set_grid(Blocks& b, const std::array<float, NX>& x, const std::array<float, NY>& y) {
  for (std::size_t i = 0; i < NX; ++i) b.com1.XDATA[i] = x[i];
  for (std::size_t j = 0; j < NY; ++j) b.com1.YDATA[j] = y[j];
  b.com3.NXDATA = int(NX);
  b.com3.NYDATA = int(NY);
  b.com3.KXORD = kOrder;
  b.com3.KYORD = kOrder;
  toolkit::BSNAK(b.com3.NXDATA, b.com1.XDATA, b.com3.KXORD, b.com1.XKNOT);
  toolkit::BSNAK(b.com3.NYDATA, b.com1.YDATA, b.com3.KYORD, b.com1.YKNOT);
}

// BS2IN of the NXDATA x NYDATA leading values of FWORK with the COM1/COM3 grid.
void fit(Blocks& b, const std::array<float, kLdf * kLdf>& fwork, float* coef) {
  toolkit::BS2IN(b.com3.NXDATA, b.com1.XDATA, b.com3.NYDATA, b.com1.YDATA, fwork.data(), kLdf,
                 b.com3.KXORD, b.com3.KYORD, b.com1.XKNOT, b.com1.YKNOT, coef);
}

// BS2GD at the single point (x, y) through XVEC, YVEC and VALUE.
float value_at(Blocks& b, float x, float y, const float* coef) {
  b.com3.NX = 1;
  b.com2.XVEC[0] = x;
  b.com3.NY = 1;
  b.com2.YVEC[0] = y;
  toolkit::BS2GD(0, 0, b.com3.NX, b.com2.XVEC, b.com3.NY, b.com2.YVEC, b.com3.KXORD, b.com3.KYORD,
                 b.com1.XKNOT, b.com1.YKNOT, b.com3.NXCOEF, b.com3.NYCOEF, coef, b.com2.VALUE,
                 b.com3.NX);
  return b.com2.VALUE[0];
}

// The surfaces live in fixed areas: a depth index outside them, or counts
// that do not fit them, would read beyond the blocks.
bool surface_depth_and_counts_fit(const Blocks& b) {
  const int d = b.depth.IDEPTH;
  return d >= 1 && d <= b.com2.depths && b.com3.NXCOEF >= 0 && b.com3.NYCOEF >= 0 &&
         std::size_t(b.com3.NXCOEF) * std::size_t(b.com3.NYCOEF) <= b.com2.slot_length &&
         b.com3.NXCOEF + b.com3.KXORD <= 100 &&
         b.com3.NYCOEF + b.com3.KYORD <= 100;
}

// The same for a sensor index.
void check_surface_index(const Blocks& b, int sensor) {
  if (surface_depth_and_counts_fit(b) && sensor >= 1 && sensor <= b.com2.sensors) return;
  const int d = b.depth.IDEPTH;
  toolkit::RoutineScope scope(kRoutine);
  toolkit::E1STI(1, d);
  toolkit::E1STI(2, sensor);
  table_error(TableMessage::no_surface);
}

}  // namespace

TableRead read_deflection_table(const std::filesystem::path& file, DeflectionTables& t, Blocks& b) {
  toolkit::RoutineScope scope(kRoutine);
  const std::string text = read_whole_file(file);
  return read_deflection_table_text(text, platform::display_name(file), t, b);
}

TableRead read_deflection_table_text(std::string_view text, std::string_view name,
                                     DeflectionTables& t, Blocks& b) {
  toolkit::RoutineScope scope(kRoutine);
  t.generation = next_generation();
  // Every value of the table is written below (a table that is not complete
  // is refused), and every thickness value by fit_thickness.
  t.dtab.resize(kDtabSize);
  t.dthk.resize(kDthkSize);
  const std::vector<fortio::RealField> layout = record_layout();
  fortio::RecordReader reader(text);
  std::array<double, 14> values{};
  for (int i = 1; i <= kNh; ++i) {
    for (int k = 1; k <= kNb; ++k) {
      for (b.depth.IDEPTH = 1; b.depth.IDEPTH <= kNd; ++b.depth.IDEPTH) {
        const int d = b.depth.IDEPTH;
        for (int m = 1; m <= kNe1; ++m) {
          for (int n = 1; n <= kNe2; ++n) {
            if (!reader.next()) wrong_record_count(name, TableMessage::table_short, reader.record_number());
            read_record(reader, layout, name, values);
            for (int s = 1; s <= kSensors; ++s) {
              t.dtab[dtab_at(i, k, d, m, n, s)] = float(values[std::size_t(5 + s)]);
            }
          }
        }
      }
    }
  }
  if (reader.next()) wrong_record_count(name, TableMessage::table_long, kTableRecords);
  return TableRead::Complete;
}

void fit_thickness(DeflectionTables& t, float h, float base, Blocks& b) {
  set_grid(b, HACGRID, HBGRID);
  std::array<float, kLdf * kLdf> fwork{};
  std::array<float, kNh * kNb> coef{};
  for (b.depth.IDEPTH = 1; b.depth.IDEPTH <= kNd; ++b.depth.IDEPTH) {
    const int d = b.depth.IDEPTH;
    for (int m = 1; m <= kNe1; ++m) {
      for (int n = 1; n <= kNe2; ++n) {
        for (int s = 1; s <= kSensors; ++s) {
          for (int k = 1; k <= kNb; ++k) {
            for (int i = 1; i <= kNh; ++i) fwork[fwork_at(i, k)] = t.dtab[dtab_at(i, k, d, m, n, s)];
          }
          fit(b, fwork, coef.data());
          b.com3.NXCOEF = b.com3.NXDATA;
          b.com3.NYCOEF = b.com3.NYDATA;
          t.dthk[dthk_at(d, m, n, s)] = value_at(b, h, base, coef.data());
        }
      }
    }
  }
}

void fit_modulus_surfaces(const DeflectionTables& t, Blocks& b) {
  set_grid(b, E1GRID, E2GRID);
  std::array<float, kLdf * kLdf> fwork{};
  for (b.depth.IDEPTH = 1; b.depth.IDEPTH <= kNd; ++b.depth.IDEPTH) {
    const int d = b.depth.IDEPTH;
    for (int s = 1; s <= kSensors; ++s) {
      for (int n = 1; n <= kNe2; ++n) {
        for (int m = 1; m <= kNe1; ++m) fwork[fwork_at(m, n)] = t.dthk[dthk_at(d, m, n, s)];
      }
      fit(b, fwork, b.com2.slot(s, d));
    }
  }
  b.com3.NXCOEF = kNe1;
  b.com3.NYCOEF = kNe2;
}

namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

constexpr std::size_t kSlotLength = std::size_t(kNe1) * kNe2;  // coefficients of one surface

void keep_section(SurfaceCache& cache, const DeflectionTables& t, float h, float base, const Blocks& b) {
  SectionSurfaces e;
  if (cache.entries.size() == kCachedSections) {
    e = std::move(cache.entries.back());
    cache.entries.pop_back();
  }
  e.table = t.generation;
  e.h = bits(h);
  e.base = bits(base);
  e.value = b.com2.VALUE[0];
  e.dthk = t.dthk;
  e.scoef.resize(std::size_t(kNd) * kSensors * kSlotLength);
  float* out = e.scoef.data();
  for (int d = 1; d <= kNd; ++d) {
    for (int s = 1; s <= kSensors; ++s, out += kSlotLength) {
      std::copy_n(b.com2.slot(s, d), kSlotLength, out);
    }
  }
  cache.entries.insert(cache.entries.begin(), std::move(e));
}

// What fit_thickness and fit_modulus_surfaces leave, from a kept section.
void take_section(const SectionSurfaces& e, float h, float base, DeflectionTables& t, Blocks& b) {
  std::copy(e.dthk.begin(), e.dthk.end(), t.dthk.begin());
  set_grid(b, E1GRID, E2GRID);
  b.com3.NXCOEF = kNe1;
  b.com3.NYCOEF = kNe2;
  b.com3.NX = 1;
  b.com2.XVEC[0] = h;
  b.com3.NY = 1;
  b.com2.YVEC[0] = base;
  b.com2.VALUE[0] = e.value;
  const float* in = e.scoef.data();
  for (int d = 1; d <= kNd; ++d) {
    for (int s = 1; s <= kSensors; ++s, in += kSlotLength) {
      std::copy_n(in, kSlotLength, b.com2.slot(s, d));
    }
  }
  b.depth.IDEPTH = kNd + 1;
}

}  // namespace

void fit_section_surfaces(DeflectionTables& t, float h, float base, Blocks& b, SurfaceCache& cache) {
  auto kept = std::find_if(cache.entries.begin(), cache.entries.end(), [&](const SectionSurfaces& e) {
    return e.table == t.generation && e.h == bits(h) && e.base == bits(base);
  });
  if (kept != cache.entries.end() && t.generation != 0) {
    take_section(*kept, h, base, t, b);
    std::rotate(cache.entries.begin(), kept, kept + 1);
    return;
  }
  const long long raised = toolkit::errors_raised();
  ++cache.fits;
  fit_thickness(t, h, base, b);
  fit_modulus_surfaces(t, b);
  if (toolkit::errors_raised() == raised && t.generation != 0) keep_section(cache, t, h, base, b);
}

float evaluate_surface(Blocks& b, float x1, float x2, int sensor) {
  check_surface_index(b, sensor);
  return value_at(b, x1, x2, b.com2.slot(sensor, b.depth.IDEPTH));
}

SurfacePoint prepare_surface_point(const Blocks& b, float x1, float x2) {
  SurfacePoint p;
  p.x1 = x1;
  p.x2 = x2;
  // Counts that do not fit the blocks leave the point unprepared, so that
  // evaluate_surface reports them exactly as before.
  if (surface_depth_and_counts_fit(b)) {
    toolkit::prepare_point(0, 0, x1, x2, b.com3.KXORD, b.com3.KYORD, b.com1.XKNOT, b.com1.YKNOT,
                           b.com3.NXCOEF, b.com3.NYCOEF, p.basis);
  }
  return p;
}

float evaluate_surface(Blocks& b, const SurfacePoint& p, int sensor) {
  if (!p.basis.ready) return evaluate_surface(b, p.x1, p.x2, sensor);
  check_surface_index(b, sensor);
  const float value = toolkit::prepared_value(p.basis, b.com2.slot(sensor, b.depth.IDEPTH));
  leave_surface_value(b, p, value);
  return value;
}

// What value_at leaves in the blocks, with BS2GD's single-point value.
void leave_surface_value(Blocks& b, const SurfacePoint& p, float value) {
  b.com3.NX = 1;
  b.com2.XVEC[0] = p.x1;
  b.com3.NY = 1;
  b.com2.YVEC[0] = p.x2;
  b.com2.VALUE[0] = value;
}

void gather_sensor_surfaces(const Blocks& b, SensorSurfaces& s) {
  s.ready = surface_depth_and_counts_fit(b);
  if (!s.ready) return;
  s.depth = b.depth.IDEPTH;
  s.kxord = b.com3.KXORD;
  s.kyord = b.com3.KYORD;
  s.nxcoef = b.com3.NXCOEF;
  s.nycoef = b.com3.NYCOEF;
  s.point = {};
  const std::size_t n = std::size_t(s.nxcoef) * std::size_t(s.nycoef);
  s.coef.resize(n);
  for (int k = 0; k < kSurfaceSensors; ++k) {
    const float* c = b.com2.slot(k + 1, s.depth);
    for (std::size_t i = 0; i < n; ++i) s.coef[i][std::size_t(k)] = c[i];
  }
}

bool gathered_for(const SensorSurfaces& s, const Blocks& b, const SurfacePoint& p) {
  return s.ready && p.basis.ready && s.depth == b.depth.IDEPTH && s.kxord == p.basis.kxord &&
         s.kyord == p.basis.kyord && s.nxcoef == p.basis.nxcoef && s.nxcoef == b.com3.NXCOEF &&
         s.nycoef == b.com3.NYCOEF;
}

namespace {

using Lanes = std::array<float, kSurfaceSensors>;

// toolkit::prepared_value for eight coefficient sets at once: in x first,
// then in y, each sum started from zero, as the single-point evaluation.
// KX, KY > 0 fix the orders at compile time; 0 takes them from the point.
template <int KX, int KY>
Lanes sensor_values(const SensorSurfaces& s, const toolkit::PreparedPoint& q) {
  const int kx = KX > 0 ? KX : q.kxord;
  const int ky = KY > 0 ? KY : q.kyord;
  const int cx = q.lx - kx + 1;
  const int cy = q.ly - ky + 1;
  Lanes sum{};
  for (int bb = 0; bb < ky; ++bb) {
    const Lanes* col = s.coef.data() + std::size_t(cy + bb) * std::size_t(s.nxcoef) + std::size_t(cx);
    Lanes inner{};
    for (int a = 0; a < kx; ++a) {
      const float w = q.bx[std::size_t(a)];
      for (std::size_t k = 0; k < inner.size(); ++k) inner[k] += w * col[a][k];
    }
    const float w = q.by[std::size_t(bb)];
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += w * inner[k];
  }
  return sum;
}

}  // namespace

void evaluate_sensors(const SensorSurfaces& s, const SurfacePoint& p, Lanes& values) {
  const toolkit::PreparedPoint& q = p.basis;
  if (q.kxord == kOrder && q.kyord == kOrder) {
    values = sensor_values<kOrder, kOrder>(s, q);
  } else {
    values = sensor_values<0, 0>(s, q);
  }
}

void move_surface_point(const Blocks& b, float x1, float x2, SurfacePoint& p) {
  if (!p.basis.ready) {
    p = prepare_surface_point(b, x1, x2);
    return;
  }
  p.x1 = x1;
  p.x2 = x2;
  toolkit::move_prepared_point(0, 0, x1, x2, b.com1.XKNOT, b.com1.YKNOT, b.com3.NYCOEF, p.basis);
}

}  // namespace zalk::rating
