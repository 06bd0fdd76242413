#include "io/field_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include "io/platform.h"

namespace zalk::io::field_text {

void add_diagnostic(std::vector<F25Diagnostic>& list, F25Diagnostic diagnostic) {
  constexpr std::size_t kMaxDiagnostics = 1000;
  if (list.size() == kMaxDiagnostics) {
    list.push_back({diagnostic.file, diagnostic.line, 1,
                    "further diagnostics are not listed; every rejected drop's line is still listed "
                    "among the rejected lines"});
  }
  if (list.size() > kMaxDiagnostics) return;
  list.push_back(std::move(diagnostic));
}

Lines::Lines(std::string_view text) : text_(text) {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

// Two memchr scans (LF, then CR before it) are several times faster than one
// search for either character.
bool Lines::next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const char* begin = text_.data() + pos_;
  const std::size_t rest = text_.size() - pos_;
  const void* lf = std::memchr(begin, '\n', rest);
  std::size_t length = lf == nullptr ? rest : std::size_t(static_cast<const char*>(lf) - begin);
  if (const void* cr = std::memchr(begin, '\r', length)) length = std::size_t(static_cast<const char*>(cr) - begin);
  unterminated_ = length == rest;
  const std::size_t stop = pos_ + length;
  line = text_.substr(pos_, stop - pos_);
  pos_ = stop;
  if (!unterminated_) pos_ += text_.compare(stop, 2, "\r\n") == 0 ? 2 : 1;
  ++number_;
  return true;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

void split_commas(std::string_view line, std::vector<Field>& fields) {
  fields.clear();
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    while (i < line.size() && blank(line[i])) ++i;
    Field f;
    f.column = int(start) + 1;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? line.size() : close;
      // Devices pad quoted text with blanks to a fixed width.
      f.text = trim(line.substr(i + 1, end - i - 1));
      f.quoted = true;
      i = line.find(',', end);
    } else {
      const std::size_t comma = line.find(',', i);
      f.text = trim(line.substr(i, comma == std::string_view::npos ? line.npos : comma - i));
      i = comma;
    }
    fields.push_back(f);
    if (i == std::string_view::npos) break;
    ++i;  // past the comma
  }
}

void split_blanks(std::string_view line, std::vector<Field>& fields) {
  fields.clear();
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::size_t end = i;
    while (end < line.size() && !blank(line[end])) ++end;
    fields.push_back({line.substr(i, end - i), int(i) + 1, false});
    i = end;
  }
}

bool to_double(std::string_view s, double& v) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool to_int(std::string_view s, int& v) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

namespace {

// The length of the UTF-8 sequence a lead byte opens and the least value it
// may encode (shorter forms are overlong), 0 for a byte that cannot lead.
int sequence_length(unsigned char c, char32_t& least) {
  if (c < 0x80) return least = 0, 1;
  if ((c & 0xE0) == 0xC0) return least = 0x80, 2;
  if ((c & 0xF0) == 0xE0) return least = 0x800, 3;
  if ((c & 0xF8) == 0xF0) return least = 0x10000, 4;
  return 0;
}

}  // namespace

bool valid_utf8(std::string_view s) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  for (std::size_t i = 0; i < s.size();) {
    // Field files are nearly all ASCII: eight bytes at a time until one is not.
    std::uint64_t word = 0;
    if (i + 8 <= s.size() && (std::memcpy(&word, s.data() + i, 8), (word & kHighBits) == 0)) {
      i += 8;
      continue;
    }
    char32_t least = 0;
    const int n = sequence_length(static_cast<unsigned char>(s[i]), least);
    if (n == 0 || i + std::size_t(n) > s.size()) return false;
    char32_t cp = n == 1 ? static_cast<unsigned char>(s[i]) : static_cast<unsigned char>(s[i]) & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + std::size_t(k)]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += std::size_t(n);
  }
  return true;
}

std::string latin1_to_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string utf8_text(std::string_view s, bool file_is_utf8) {
  return file_is_utf8 ? std::string(s) : latin1_to_utf8(s);
}

std::string quoted_excerpt(std::string_view s, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char ch : s.substr(0, n)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += ch;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (s.size() > n) out += "...";
  return out + "\"";
}

bool load_file(const std::filesystem::path& path, std::string& text, std::string& name, std::string& why) {
  constexpr std::uintmax_t kMaxFileBytes = 256u << 20;
  name = platform::display_name(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return why = "not a readable regular file", false;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return why = "its size cannot be read", false;
  if (size > kMaxFileBytes) return why = "larger than 256 MB; not a field file", false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return why = "cannot be opened", false;
  text.assign(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), std::streamsize(size));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

}  // namespace zalk::io::field_text
