// The field-file readers (F25 and JILS, the format told by content) on
// arbitrary bytes: never a crash or a read beyond the text, every drop kept
// whole, and every drop line accounted for: it is either a drop or a rejected
// line named in a diagnostic, never both, never lost.
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "io/fwd.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Lines as the readers count them: LF, CR LF or a lone CR ends one; a
// byte-order mark opening the text is not part of line 1. lines[0] is unused.
std::vector<std::string_view> lines_of(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines(1);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// An F25 drop line opens with a line id below 1000: optional '+', optional
// '-' (then only zeros), digits.
bool f25_drop_line(std::string_view line) {
  std::string_view id = trimmed(line.substr(0, line.find(',')));
  if (!id.empty() && id.front() == '+') id.remove_prefix(1);
  const bool negative = !id.empty() && id.front() == '-';
  if (negative) id.remove_prefix(1);
  if (id.empty()) return false;
  long value = 0;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
    value = value > 1000 ? value : value * 10 + (c - '0');
  }
  return negative ? value == 0 : value < 1000;
}

// A JILS drop line opens with a digit, sign or point and holds no colon.
bool jils_drop_line(std::string_view line) {
  line = trimmed(line);
  if (line.empty()) return false;
  const char c = line.front();
  return ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') && line.find(':') == line.npos;
}

void check_every_drop_line(const zalk::io::FwdFile& f, std::string_view text) {
  const std::vector<std::string_view> lines = lines_of(text);
  std::vector<char> seen(lines.size() + 1, 0);
  auto mark = [&](int line) {
    if (line < 1 || std::size_t(line) >= lines.size() || seen[std::size_t(line)]) __builtin_trap();
    seen[std::size_t(line)] = 1;
  };
  for (const auto& d : f.drops) mark(d.line);
  for (int line : f.rejected_lines) mark(line);
  const bool jils = f.format == zalk::io::FwdFormat::jils;
  for (std::size_t i = 1; i < lines.size(); ++i)
    if ((jils ? jils_drop_line(lines[i]) : f25_drop_line(lines[i])) != bool(seen[i])) __builtin_trap();
  if (f.rejected_lines.size() != std::size_t(f.drops_rejected)) __builtin_trap();
  if (f.diagnostics.size() > 1000) return;  // past the list's limit lines are only in rejected_lines
  for (int line : f.rejected_lines) {
    bool named = false;
    for (const auto& d : f.diagnostics) named |= d.line == line;
    if (!named) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zalk::fuzz::as_text(data, size);
  const zalk::io::FwdFile f = zalk::io::read_fwd(text, "fuzz");
  for (const auto& d : f.drops)
    if (d.offsets_mm.size() != d.deflections_um.size() || d.sensor_slots.size() != d.offsets_mm.size())
      __builtin_trap();
  if (!f.header_ok) {
    if (!f.drops.empty() || f.diagnostics.empty()) __builtin_trap();
    return 0;
  }
  check_every_drop_line(f, text);
  return 0;
}
