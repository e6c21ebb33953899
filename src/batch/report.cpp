// The job's reports: JSON for people and scripts, JUnit for CI systems, and the audit log.
// A card's texts may hold any byte it sent; the files stay valid whatever it sent.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "batch/batch.h"
#include "recorder/recorder.h"

namespace velmora::batch {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 character at the start of `s`, 0 when it is not one.
std::size_t CharLength(std::string_view s, char32_t* code) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  const std::size_t n = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (n == 0 || s.size() < n) return 0;
  // The second byte's range shuts out overlong forms, surrogates and code points past U+10FFFF.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (b(1) < low || b(1) > high) return 0;
  char32_t c = lead & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = c << 6 | (b(i) & 0x3F);
  }
  *code = c;
  return n;
}

// Copies `s` into `out` character by character; `escape` gives the replacement of a character
// (a view of nothing keeps it as it is). A byte that starts no character becomes U+FFFD.
template <class Escape>
void Clean(std::string& out, std::string_view s, Escape escape) {
  while (!s.empty()) {
    char32_t code = 0;
    const std::size_t n = CharLength(s, &code);
    if (n == 0) {
      out += kReplacement;
      s.remove_prefix(1);
      continue;
    }
    const std::string replaced = escape(code);
    out += replaced.empty() ? s.substr(0, n) : std::string_view(replaced);
    s.remove_prefix(n);
  }
}

std::string Json(std::string_view s) {
  std::string out = "\"";
  Clean(out, s, [](char32_t c) -> std::string {
    if (c == '"') return "\\\"";
    if (c == '\\') return "\\\\";
    if (c >= 0x20) return {};
    char hex[7];
    std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
    return hex;
  });
  return out + "\"";
}

// Three decimals whatever the locale the program runs in.
std::string Fixed(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3).ptr;
  return std::string(text, end);
}

// `attribute`: line breaks and tabs as references, which an attribute's value would otherwise
// lose to spaces.
std::string Xml(std::string_view s, bool attribute = true) {
  std::string out;
  Clean(out, s, [attribute](char32_t c) -> std::string {
    switch (c) {
      case '&':
        return "&amp;";
      case '<':
        return "&lt;";
      case '>':
        return "&gt;";
      case '"':
        return "&quot;";
      case '\t':
        return attribute ? "&#9;" : "";
      case '\n':
        return attribute ? "&#10;" : "";
      case '\r':
        return attribute ? "&#13;" : "";
      default:  // what XML 1.0 does not allow at all
        return c < 0x20 || c == 0xFFFE || c == 0xFFFF ? std::string(kReplacement) : std::string();
    }
  });
  return out;
}

std::string Object(const std::map<std::string, std::string>& fields) {
  std::string out = "{";
  for (const auto& [name, text] : fields) {
    if (out.size() > 1) out += ',';
    out += Json(name) + ":" + Json(text);
  }
  return out + "}";
}

std::string Setting(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "null";
}

// The before and after of one part of the card, null where that snapshot is missing.
template <class Part>
std::string BeforeAfter(const CardReport& card, Part part) {
  return std::string("{\"before\":") + (card.before ? part(*card.before) : "null") +
         ",\"after\":" + (card.after ? part(*card.after) : "null") + "}";
}

std::string CardJson(const std::string& genericKey, const CardReport& card) {
  std::string out = "{\"port\":" + Json(card.port) + ",\"result\":" + Json(ResultName(card.result));
  out += ",\"program\":" + BeforeAfter(card, [](const Snapshot& s) { return Json(s.program); });
  out += ",\"versions\":" + BeforeAfter(card, [](const Snapshot& s) { return Object(s.versions); });
  out += ",\"settings\":" + BeforeAfter(card, [&](const Snapshot& s) {
           return "{\"sfd\":" + Setting(s.settings.sfd) + "," + Json(genericKey) + ":" +
                  Setting(s.settings.generic) + ",\"v35\":" + Setting(s.settings.v35) + "}";
         });
  out += ",\"status\":" + BeforeAfter(card, [](const Snapshot& s) { return Object(s.status); });
  if (card.download)
    out += ",\"download\":{\"bytes\":" + std::to_string(card.download->bytes) +
           ",\"seconds\":" + Fixed(card.download->seconds) +
           ",\"efficiency\":" + Fixed(card.download->efficiency) + "}";
  out += ",\"changes\":[";
  for (const Change& c : card.changes) {
    if (out.back() != '[') out += ',';
    out +=
        "{\"what\":" + Json(c.what) + ",\"from\":" + Json(c.from) + ",\"to\":" + Json(c.to) + "}";
  }
  return out + "],\"error\":" + Json(card.error) + ",\"seconds\":" + Fixed(card.seconds) + "}";
}

}  // namespace

std::string_view ResultName(Result result) {
  switch (result) {
    case Result::kOk:
      return "ok";
    case Result::kChanged:
      return "changed";
    case Result::kFailed:
      break;
  }
  return "failed";
}

std::string ReportJson(const Job& job, const std::vector<CardReport>& cards) {
  const std::string genericKey = job.genericKey.empty() ? "telephony" : job.genericKey;
  // One card a line, so that a diff or grep of two reports lines up by card.
  std::string out = "{\"job\":" + Json(job.file) + ",\"cards\":[";
  for (std::size_t i = 0; i < cards.size(); ++i)
    out += (i ? ",\n" : "\n") + CardJson(genericKey, cards[i]);
  return out + "\n]}\n";
}

std::string ReportJunit(const Job& job, const std::vector<CardReport>& cards, double seconds) {
  // The file's stem: CI systems read a dot in the class name as a package.
  const std::string suite = "velmora-batch." + std::filesystem::path(job.file).stem().string();
  std::size_t failures = 0;
  for (const CardReport& card : cards) failures += card.result == Result::kFailed;
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n"
      "  <testsuite name=\"velmora-batch\" tests=\"" +
      std::to_string(cards.size()) + "\" failures=\"" + std::to_string(failures) + "\" time=\"" +
      Fixed(seconds) + "\">\n";
  for (const CardReport& card : cards) {
    out += "    <testcase classname=\"" + Xml(suite) + "\" name=\"" + Xml(card.port) +
           "\" time=\"" + Fixed(card.seconds) + "\"";
    if (card.result != Result::kFailed && card.changes.empty()) {
      out += "/>\n";
      continue;
    }
    out += ">\n";
    if (card.result == Result::kFailed)
      out += "      <failure message=\"" + Xml(card.error) + "\">" + Xml(card.error, false) +
             "</failure>\n";
    if (!card.changes.empty()) {
      out += "      <system-out>";
      for (const Change& c : card.changes)
        out += Xml(c.what + ": " + c.from + " -> " + c.to + "\n", false);
      out += "</system-out>\n";
    }
    out += "    </testcase>\n";
  }
  return out + "  </testsuite>\n</testsuites>\n";
}

std::string AuditLine(const AuditEntry& e) {
  return "{\"time\":" + Json(e.time) + ",\"user\":" + Json(e.user) + ",\"host\":" + Json(e.host) +
         ",\"port\":" + Json(e.port) + ",\"what\":" + Json(e.change.what) +
         ",\"from\":" + Json(e.change.from) + ",\"to\":" + Json(e.change.to) + "}\n";
}

std::string AuditFolder(const char* stateDir, const char* xdgStateHome, const char* home) {
  const auto set = [](const char* v) { return v && *v; };
  // The recordings' state folder; with no home at all there is none to keep a log in.
  if (!set(stateDir) && !set(xdgStateHome) && !set(home)) return "";
  return RecordingFolder(stateDir, xdgStateHome, home);
}

}  // namespace velmora::batch
