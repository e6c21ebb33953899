#include "recorder/record_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <map>

namespace velmora {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr const char* kFormatName = "velmora-recording";

// Texts are one character per byte (Latin-1); JSON wants UTF-8.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else if (b < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  out += '"';
}

// A flat object of string and integer members; integers are kept as their digits.
using Members = std::map<std::string, std::string, std::less<>>;

class LineParser {
 public:
  explicit LineParser(std::string_view s) : s_(s) {}

  std::optional<Members> Object() {
    Members m;
    Blank();
    if (!Take('{')) return {};
    Blank();
    if (Take('}')) return End(m);
    for (;;) {
      Blank();
      auto key = String();
      Blank();
      if (!key || !Take(':')) return {};
      Blank();
      std::optional<std::string> value;
      if (Peek() == '"')
        value = String();
      else
        value = Integer();
      if (!value) return {};
      m[*key] = *value;
      Blank();
      if (Take('}')) return End(m);
      if (!Take(',')) return {};
    }
  }

 private:
  std::optional<Members> End(Members& m) {
    Blank();
    if (i_ != s_.size()) return {};
    return std::move(m);
  }
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  std::optional<std::string> Integer() {
    const std::size_t from = i_;
    if (Peek() == '-') ++i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    if (i_ == from) return {};
    return std::string(s_.substr(from, i_ - from));
  }
  // Back to one character per byte: code points above U+00FF cannot come from a recording.
  std::optional<std::string> String() {
    if (!Take('"')) return {};
    std::string out;
    while (i_ < s_.size()) {
      const auto b = static_cast<unsigned char>(s_[i_++]);
      if (b == '"') return out;
      unsigned code = b;
      if (b == '\\') {
        const char e = Peek();
        ++i_;
        switch (e) {
          case '"':
          case '\\':
          case '/':
            code = static_cast<unsigned char>(e);
            break;
          case 'b':
            code = 8;
            break;
          case 'f':
            code = 12;
            break;
          case 'n':
            code = 10;
            break;
          case 'r':
            code = 13;
            break;
          case 't':
            code = 9;
            break;
          case 'u': {
            if (i_ + 4 > s_.size()) return {};
            const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, code, 16);
            if (ec != std::errc{} || end != s_.data() + i_ + 4) return {};
            i_ += 4;
            break;
          }
          default:
            return {};
        }
      } else if (b >= 0x80) {
        if ((b & 0xE0) != 0xC0 || i_ >= s_.size()) return {};
        code = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s_[i_++]) & 0x3Fu);
      } else if (b < 0x20) {
        return {};
      }
      if (code > 0xFF) return {};
      out += static_cast<char>(code);
    }
    return {};
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::optional<std::int64_t> Number(const Members& m, std::string_view key) {
  const auto it = m.find(key);
  std::int64_t v = 0;
  if (it == m.end()) return {};
  const auto [end, ec] =
      std::from_chars(it->second.data(), it->second.data() + it->second.size(), v);
  if (ec != std::errc{} || end != it->second.data() + it->second.size()) return {};
  return v;
}

// Empty when the line is a sound record, else why not.
std::string ReadRecord(const Members& m, Record& r) {
  const auto t = Number(m, "t");
  if (!t) return "a record without its time";
  r.us = *t;
  if (const auto it = m.find("event"); it != m.end()) {
    r.kind = RecordKind::Event;
    r.name = it->second;
    if (const auto text = m.find("text"); text != m.end()) r.data = text->second;
    return {};
  }
  for (const auto& [key, kind] : {std::pair{"in", RecordKind::In}, {"out", RecordKind::Out}}) {
    const auto it = m.find(key);
    if (it == m.end()) continue;
    auto bytes = FromBase64(it->second);
    if (!bytes) return "bytes that are not base64";
    r.kind = kind;
    r.data = std::move(*bytes);
    return {};
  }
  return "a record of an unknown kind";
}

}  // namespace

void AppendBase64(std::string& out, std::string_view bytes) {
  // Written in place: a flood's bytes pass through here, four characters for every three.
  const std::size_t from = out.size();
  out.resize(from + (bytes.size() + 2) / 3 * 4);
  char* o = out.data() + from;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  // Two characters per look-up, for the twelve bits they stand for.
  static const auto pairs = [] {
    std::array<std::array<char, 2>, 4096> table{};
    for (unsigned v = 0; v < 4096; ++v) table[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
    return table;
  }();
  for (; i + 3 <= bytes.size(); i += 3, o += 4) {
    const unsigned v = in[i] << 16 | in[i + 1] << 8 | in[i + 2];
    std::memcpy(o, pairs[v >> 12].data(), 2);
    std::memcpy(o + 2, pairs[v & 4095].data(), 2);
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    unsigned v = in[i] << 16;
    if (rest == 2) v |= in[i + 1] << 8;
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
}

std::string Base64(std::string_view bytes) {
  std::string out;
  AppendBase64(out, bytes);
  return out;
}

std::optional<std::string> FromBase64(std::string_view text) {
  if (text.size() % 4 != 0) return {};
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned v = 0;
    int pad = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char ch = text[i + k];
      unsigned d = 0;
      if (ch == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
      } else {
        const char* at = ch ? std::char_traits<char>::find(kAlphabet, 64, ch) : nullptr;
        if (!at || pad) return {};
        d = static_cast<unsigned>(at - kAlphabet);
      }
      v = v << 6 | d;
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

std::string HeaderLine(const RecordingHeader& h) {
  return std::string("{\"format\":\"") + kFormatName +
         "\",\"version\":" + std::to_string(h.version) + ",\"wallMs\":" + std::to_string(h.wallMs) +
         ",\"t\":" + std::to_string(h.startUs) + "}\n";
}

void AppendRecordLine(std::string& out, RecordKind kind, std::int64_t us, std::string_view name,
                      std::string_view data) {
  out += "{\"t\":";
  out += std::to_string(us);
  if (kind == RecordKind::Event) {
    out += ",\"event\":";
    AppendJsonString(out, name);
    out += ",\"text\":";
    AppendJsonString(out, data);
  } else {
    out += kind == RecordKind::In ? ",\"in\":\"" : ",\"out\":\"";
    AppendBase64(out, data);
    out += '"';
  }
  out += "}\n";
}

std::string RecordLine(const Record& r) {
  std::string out;
  AppendRecordLine(out, r.kind, r.us, r.name, r.data);
  return out;
}

std::string ReadFault::Text() const {
  return file + ", line " + std::to_string(line) + ": " + reason;
}

void ParseRecording(std::string_view text, const std::string& file, bool tornTailIsEnd,
                    Recording& into) {
  if (into.fault) return;
  const auto fail = [&](std::size_t line, std::string reason) {
    into.fault = ReadFault{file, line, std::move(reason)};
  };
  std::size_t lineNo = 0;
  for (std::size_t at = 0; at < text.size();) {
    ++lineNo;
    const std::size_t end = text.find('\n', at);
    const bool torn = end == std::string_view::npos;
    const std::string_view line = text.substr(at, torn ? std::string_view::npos : end - at);
    at = torn ? text.size() : end + 1;
    auto members = LineParser(line).Object();
    if (torn && !members) {
      if (tornTailIsEnd) return;
      return fail(lineNo, "the file ends in the middle of a record");
    }
    if (!members) return fail(lineNo, "not a record of a Velmora recording");
    if (lineNo == 1) {
      const auto format = members->find("format");
      if (format == members->end() || format->second != kFormatName)
        return fail(lineNo, "not a Velmora recording");
      const auto version = Number(*members, "version");
      if (!version || *version > kRecordingVersion || *version < 1)
        return fail(lineNo, "a recording of a newer version (" + (*members)["version"] +
                                ") than this console reads (" + std::to_string(kRecordingVersion) +
                                ")");
      const RecordingHeader h{static_cast<int>(*version), Number(*members, "wallMs").value_or(0),
                              Number(*members, "t").value_or(0)};
      if (!into.header) {
        into.header = h;
      } else if (const std::int64_t last = into.records.empty() ? into.header->startUs
                                                                : into.records.back().us;
                 h.startUs + into.offsetUs < last) {
        // A file of a later boot: its clock started again. The wall clock places it, never
        // before what came earlier, so that order and "the last N minutes" hold.
        const std::int64_t placed = into.header->startUs + (h.wallMs - into.header->wallMs) * 1000;
        into.offsetUs = std::max(placed, last) - h.startUs;
      }
      continue;
    }
    Record r;
    if (std::string why = ReadRecord(*members, r); !why.empty()) return fail(lineNo, why);
    r.us += into.offsetUs;
    into.records.push_back(std::move(r));
  }
}

}  // namespace velmora
