// Reading a job file: every fault is found before any card is touched, and named by file,
// line and key so that the engineer can go straight to it.
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <map>
#include <vector>

#include "batch/batch.h"
#include "serial/port_table.h"

namespace velmora::batch {
namespace {

constexpr std::array<std::string_view, 5> kTopKeys = {"cards", "expect", "settings", "program",
                                                      "versions_after"};
constexpr std::array<std::string_view, 4> kSettingKeys = {"sfd", "telephony", "range", "v35"};
constexpr std::array<std::string_view, 3> kPrograms = {"bootloader", "linecard", "cpe"};

// The list items of the window's controls: a setting may be given by index or by its text.
const std::map<std::string_view, std::vector<std::string_view>> kItems = {
    {"telephony", {"T1 & 16 KHz Tone", "E1 & 16 KHz Tone", "T1 & 12 KHz Tone", "E1 & 12 KHz Tone"}},
    {"range", {"Less than 25 miles", "Greater than 25 miles"}},
    {"v35", {"DISABLE", "CHANNEL 1", "CHANNEL 2"}},
};

struct Fault {
  std::string text;
};

struct Entry {
  std::string name;
  YAML::Node key;
  YAML::Node value;
};
using Entries = std::vector<Entry>;

const Entry* Find(const Entries& entries, std::string_view name) {
  for (const Entry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

template <std::size_t N>
std::string Known(std::string_view word, const std::array<std::string_view, N>& known) {
  std::string list;
  for (const auto k : known) list += (list.empty() ? "" : ", ") + std::string(k);
  for (const auto k : known)
    if (Distance(word, k) <= std::max<std::size_t>(1, k.size() / 4))
      return "; did you mean " + std::string(k) + "?";
  return " (known: " + list + ")";
}

// What a node holds, for "must be X, not Y".
std::string Describe(const YAML::Node& node) {
  if (node.IsSequence()) return "a list";
  if (node.IsMap()) return "a map";
  if (node.IsScalar()) return node.Scalar().empty() ? "an empty text" : node.Scalar();
  return "nothing";
}

class Reader {
 public:
  explicit Reader(const std::string& file) : file_(file) {}

  [[noreturn]] void Fail(const YAML::Node& at, const std::string& key, const std::string& what) {
    const int line = at.Mark().is_null() ? 0 : at.Mark().line + 1;
    throw Fault{file_ + (line ? ":" + std::to_string(line) : "") + ": " +
                (key.empty() ? "" : key + ": ") + what};
  }

  // The map's entries in the file's order, unknown and repeated keys refused.
  template <std::size_t N>
  Entries Checked(const YAML::Node& map, const std::string& prefix,
                  const std::array<std::string_view, N>& known) {
    Entries entries;
    for (const auto& entry : map) {
      const std::string name = Describe(entry.first);
      if (std::find(known.begin(), known.end(), name) == known.end())
        Fail(entry.first, prefix + name, "unknown key" + Known(name, known));
      if (const Entry* first = Find(entries, name))
        Fail(entry.first, prefix + name,
             "given twice (first on line " + std::to_string(first->key.Mark().line + 1) + ")");
      entries.push_back({name, entry.first, entry.second});
    }
    return entries;
  }

  // Where a value is: an empty one has no place of its own (yaml-cpp marks the next token), so
  // its key's line.
  static const YAML::Node& At(const Entry& e) { return e.value.IsNull() ? e.key : e.value; }

  std::string Text(const YAML::Node& value, const YAML::Node& at, const std::string& key,
                   const std::string& what) {
    if (!value.IsScalar() || value.Scalar().empty())
      Fail(at, key, "must be " + what + ", not " + Describe(value));
    return value.Scalar();
  }

  std::optional<int> Number(const YAML::Node& value) {
    if (!value.IsScalar()) return std::nullopt;
    const std::string& s = value.Scalar();
    int n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return n;
  }

  int Setting(const std::string& name, const YAML::Node& value, const YAML::Node& at) {
    const std::string key = "settings." + name;
    if (name == "sfd") {
      // The window clamps a larger SFD to 255; a file written ahead of time is told instead.
      const auto n = Number(value);
      if (!n || *n < 0 || *n > 255)
        Fail(at, key, "must be a whole number from 0 to 255, not " + Describe(value));
      return *n;
    }
    const auto& items = kItems.at(name);
    const int last = static_cast<int>(items.size()) - 1;
    if (const auto n = Number(value); n && *n >= 0 && *n <= last) return *n;
    if (value.IsScalar())
      for (int i = 0; i <= last; ++i)
        if (items[i] == value.Scalar()) return i;
    std::string texts;
    for (const auto item : items)
      texts += (texts.empty() ? "\"" : ", \"") + std::string(item) + "\"";
    Fail(at, key,
         "must be 0 to " + std::to_string(last) + " or one of " + texts + ", not " +
             Describe(value));
  }

  Job Read(std::string_view text) {
    std::vector<YAML::Node> documents;
    try {
      documents = YAML::LoadAll(std::string(text));
    } catch (const YAML::Exception& e) {
      throw Fault{file_ + ":" + std::to_string(e.mark.line + 1) + ": not valid YAML: " + e.msg};
    }
    if (documents.empty() || documents[0].IsNull()) throw Fault{file_ + ": the file is empty"};
    if (documents.size() > 1) Fail(documents[1], "", "a job file holds one document, not several");
    const YAML::Node& root = documents[0];
    if (!root.IsMap())
      Fail(root, "", "a job is a map of keys (cards, expect, ...), not " + Describe(root));

    Job job;
    job.file = file_;
    const Entries entries = Checked(root, "", kTopKeys);

    const Entry* cards = Find(entries, "cards");
    if (!cards) Fail(root, "cards", "missing: a job names at least one card");
    if (!cards->value.IsSequence())
      Fail(At(*cards), "cards", "must be a list of port addresses, not " + Describe(cards->value));
    if (cards->value.size() == 0) Fail(cards->value, "cards", "must name at least one card");
    for (std::size_t i = 0; i < cards->value.size(); ++i) {
      const YAML::Node card = cards->value[i];
      const std::string key = "cards[" + std::to_string(i) + "]";
      const std::string address = Text(card, card, key, "a port address");
      if (const std::string fault = PortDeviceFault(address); !fault.empty())
        Fail(card, key, address + ": " + fault);
      const auto same = std::find(job.cards.begin(), job.cards.end(), address);
      if (same != job.cards.end())
        Fail(card, key,
             address + ": given twice (cards[" + std::to_string(same - job.cards.begin()) +
                 "]); two runs on one card would fight");
      job.cards.push_back(address);
    }

    if (const Entry* expect = Find(entries, "expect")) {
      const std::string name = Describe(expect->value);
      const auto found = std::find(kPrograms.begin(), kPrograms.end(), name);
      if (!expect->value.IsScalar() || found == kPrograms.end())
        Fail(At(*expect), "expect", "must be bootloader, linecard or cpe, not " + name);
      job.expect = static_cast<int>(found - kPrograms.begin()) + 1;
    }

    if (const Entry* settings = Find(entries, "settings")) {
      if (!settings->value.IsMap())
        Fail(At(*settings), "settings",
             "must be a map of sfd, telephony, range, v35, not " + Describe(settings->value));
      for (const Entry& e : Checked(settings->value, "settings.", kSettingKeys)) {
        const std::string key = "settings." + e.name;
        const bool generic = e.name == "telephony" || e.name == "range";
        if (job.expect == 1)
          Fail(e.key, key, "not with expect: bootloader (the boot loader has no settings)");
        if (e.name == "telephony" && job.expect == 3)
          Fail(e.key, key, "not with expect: cpe (the CPE application has range, not telephony)");
        if (e.name == "range" && job.expect == 2)
          Fail(e.key, key,
               "not with expect: linecard (the line card application has telephony, not range)");
        if (generic && !job.genericKey.empty())
          Fail(e.key, key, "telephony and range are the same EEPROM byte: give one of them");
        const int value = Setting(e.name, e.value, At(e));
        if (e.name == "sfd") {
          job.settings.sfd = value;
        } else if (e.name == "v35") {
          job.settings.v35 = value;
        } else {
          job.settings.generic = value;
          job.genericKey = e.name;
        }
      }
    }

    if (const Entry* program = Find(entries, "program")) {
      const std::filesystem::path path =
          Text(program->value, At(*program), "program", "a file name");
      // Beside the job file; an absolute path replaces the folder.
      job.program = (std::filesystem::path(file_).parent_path() / path).string();
    }
    if (const Entry* versions = Find(entries, "versions_after")) {
      if (!job.program)
        Fail(versions->key, "versions_after",
             "only with program: it says what the program's download must bring");
      job.versionsAfter = Text(versions->value, At(*versions), "versions_after",
                               "the version the download must bring");
    }
    return job;
  }

 private:
  std::string file_;
};

}  // namespace

std::variant<Job, JobError> ReadJob(std::string_view text, const std::string& file) {
  try {
    return Reader(file).Read(text);
  } catch (const Fault& fault) {
    return JobError{fault.text};
  }
}

}  // namespace velmora::batch
