// The batch program's words: a job over many cards, and what it found and changed on each.
// Toolkit-free: the job file is read, the cards are run and the reports are written here; the
// program around it only brings the ports, timers and the terminal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmora::batch {

// The three EEPROM settings, as list indexes or the SFD number, as the window's controls hold
// them. `generic` is the telephony mode on the line card application and the range on the CPE
// application (the same EEPROM byte 4).
struct Settings {
  std::optional<int> sfd;      // 0 to 255
  std::optional<int> generic;  // telephony 0 to 3, or range 0 to 1
  std::optional<int> v35;      // 0 to 2
  bool operator==(const Settings&) const = default;
};

// A job as its file gives it.
struct Job {
  std::string file;                      // the job file, as named on the command line
  std::vector<std::string> cards;        // port addresses, as the console's Ports entries take them
  std::optional<int> expect;             // the program each card should run: 1 boot loader,
                                         // 2 line card application, 3 CPE application
  Settings settings;                     // what each card should hold; unset: left alone
  // Which setting key the job used for byte 4 ("telephony" or "range"), to check it against
  // the program a card runs.
  std::string genericKey;
  std::optional<std::string> program;    // program file path, resolved against the job file's folder
  std::optional<std::string> versionsAfter;  // the application version the download must bring
};

// Why a job file cannot be run: the file, the line (0 when none) and the key named.
struct JobError {
  std::string text;  // "FILE:LINE: KEY: what is wrong", ready to print
};

// Reads a job file's text. `file` names it in errors and resolves a relative program path.
std::variant<Job, JobError> ReadJob(std::string_view text, const std::string& file);

enum class Result { kOk, kChanged, kFailed };
std::string_view ResultName(Result result);  // "ok", "changed", "failed"

// What a card showed at one moment: the window's fields, as they read.
struct Snapshot {
  std::string program;   // "BOOT LOADER", "LINE CARD APP", "CPE APP", "UNKNOWN"
  std::map<std::string, std::string> versions;  // "bootLoader", "application", "firmware"
  Settings settings;
  std::map<std::string, std::string> status;    // field name (lower camel case) to its text
};

struct DownloadFigures {
  std::int64_t bytes = 0;
  double seconds = 0;     // from the first byte handed to the port to the last
  double efficiency = 0;  // bytes a second over the line's bytes a second (0 when unknown)
};

// One setting changed on one card: "sfd" from "31" to "18".
struct Change {
  std::string what;
  std::string from;
  std::string to;
};

struct CardReport {
  std::string port;
  Result result = Result::kFailed;
  std::optional<Snapshot> before;
  std::optional<Snapshot> after;
  std::optional<DownloadFigures> download;
  std::vector<Change> changes;
  std::string error;  // empty unless failed: the words the window's box would say, or ours
  double seconds = 0;
};

// The whole job's report, as JSON (one object with "job", "cards": [...]).
std::string ReportJson(const Job& job, const std::vector<CardReport>& cards);
// One JUnit test case per card, for CI systems.
std::string ReportJunit(const Job& job, const std::vector<CardReport>& cards, double seconds);

// One line of the audit log (JSON Lines): when, who, where, what changed.
struct AuditEntry {
  std::string time;  // ISO 8601 UTC, e.g. "2026-12-07T19:45:04.123Z"
  std::string user;
  std::string host;
  std::string port;
  Change change;
};
std::string AuditLine(const AuditEntry& entry);  // ends with '\n'

// The audit log's place: $VELMORA_STATE_DIR, else $XDG_STATE_HOME/velmora, else
// $HOME/.local/state/velmora; empty when none is known.
std::string AuditFolder(const char* stateDir, const char* xdgStateHome, const char* home);

}  // namespace velmora::batch
