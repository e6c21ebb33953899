// The batch program's job file: what a good file asks for, and where a bad one is wrong.
#include <gtest/gtest.h>

#include "batch/batch.h"

namespace velmora::batch {
namespace {

std::string Field(const std::optional<int>& v) {
  return v ? std::to_string(*v) : "-";
}

// A job as one line, or the error's text.
std::string Shown(const std::variant<Job, JobError>& read) {
  if (const auto* error = std::get_if<JobError>(&read)) return error->text;
  const Job& job = std::get<Job>(read);
  std::string text = job.file + " cards=";
  for (const auto& card : job.cards) text += card + ";";
  text += " expect=" + Field(job.expect) + " sfd=" + Field(job.settings.sfd) + " " +
          (job.genericKey.empty() ? "generic" : job.genericKey) + "=" +
          Field(job.settings.generic) + " v35=" + Field(job.settings.v35);
  if (job.program) text += " program=" + *job.program;
  if (job.versionsAfter) text += " after=" + *job.versionsAfter;
  return text;
}

TEST(BatchJob, GoodFilesGiveTheirJobAndBadOnesNameFileLineAndKey) {
  const struct {
    const char* yaml;
    const char* shown;
  } rows[] = {
      {"cards:\n  - rfc2217://rack-3:4001\n  - /dev/serial/by-id/usb-x\n  - tcp://[::1]:2000\n"
       "expect: linecard\nsettings: {sfd: 255, v35: CHANNEL 2, telephony: \"E1 & 12 KHz Tone\"}\n"
       "program: line.hex\nversions_after: Line Card 4.18\n",
       "j/r.yaml cards=rfc2217://rack-3:4001;/dev/serial/by-id/usb-x;tcp://[::1]:2000; "
       "expect=2 sfd=255 telephony=3 v35=2 program=j/line.hex after=Line Card 4.18"},
      {"cards: [/dev/ttyUSB0]\nexpect: cpe\nsettings:\n  range: 1\n  sfd: 0\nprogram: "
       "/srv/cpe.hex\n",
       "j/r.yaml cards=/dev/ttyUSB0; expect=3 sfd=0 range=1 v35=- program=/srv/cpe.hex"},
      {"cards: [/dev/ttyUSB0]\nsettings: {range: Less than 25 miles, v35: 0}\n",
       "j/r.yaml cards=/dev/ttyUSB0; expect=- sfd=- range=0 v35=0"},
      {"cards: [/dev/ttyUSB0]\nexpect: bootloader\n",
       "j/r.yaml cards=/dev/ttyUSB0; expect=1 sfd=- generic=- v35=-"},
      // The window would clamp a larger SFD to 255; a file written ahead of time is told.
      {"cards: [/dev/a]\nexpect: linecard\nsettings:\n  sfd: 256\n",
       "j/r.yaml:4: settings.sfd: must be a whole number from 0 to 255, not 256"},
      {"cards: [/dev/a]\nsettings: {telephony: 4}\n",
       "j/r.yaml:2: settings.telephony: must be 0 to 3 or one of \"T1 & 16 KHz Tone\", "
       "\"E1 & 16 KHz Tone\", \"T1 & 12 KHz Tone\", \"E1 & 12 KHz Tone\", not 4"},
      {"cards: [/dev/a]\nsettings:\n  telephony: 1\n  range: 0\n",
       "j/r.yaml:4: settings.range: telephony and range are the same EEPROM byte: give one "
       "of them"},
      {"cards: [/dev/a]\nexpect: cpe\nsettings: {telephony: 1}\n",
       "j/r.yaml:3: settings.telephony: not with expect: cpe (the CPE application has "
       "range, not telephony)"},
      {"settings: {range: 1}\nexpect: linecard\ncards: [/dev/a]\n",
       "j/r.yaml:1: settings.range: not with expect: linecard (the line card application "
       "has telephony, not range)"},
      {"cards: [/dev/a]\nexpect: bootloader\nsettings: {v35: 1}\n",
       "j/r.yaml:3: settings.v35: not with expect: bootloader (the boot loader has no "
       "settings)"},
      {"cards: [/dev/a]\nsettings: {sfdd: 1}\n",
       "j/r.yaml:2: settings.sfdd: unknown key; did you mean sfd?"},
      {"cards: [/dev/a]\nsettings: [sfd]\n",
       "j/r.yaml:2: settings: must be a map of sfd, telephony, range, v35, not a list"},
      {"cards: [/dev/a]\n\ncolour: red\n",
       "j/r.yaml:3: colour: unknown key (known: cards, expect, settings, program, "
       "versions_after)"},
      {"cards: [/dev/a]\nexpect: cpe\nexpect: linecard\n",
       "j/r.yaml:3: expect: given twice (first on line 2)"},
      {"cards: [/dev/a]\nexpect: line-card\n",
       "j/r.yaml:2: expect: must be bootloader, linecard or cpe, not line-card"},
      {"cards:\n  - /dev/a\n  - tcp://rack-3\n",
       "j/r.yaml:3: cards[1]: tcp://rack-3: the address has no port (HOST:PORT)"},
      {"cards:\n  - /dev/a\n  - ~\n", "j/r.yaml:3: cards[1]: must be a port address, not nothing"},
      {"cards: [/dev/a]\nexpect:\nsettings: {}\n",
       "j/r.yaml:2: expect: must be bootloader, linecard or cpe, not nothing"},
      {"cards:\n  - tcp://r:1\n  - /dev/b\n  - tcp://r:1\n",
       "j/r.yaml:4: cards[2]: tcp://r:1: given twice (cards[0]); two runs on one card would "
       "fight"},
      {"cards: /dev/ttyUSB0\n",
       "j/r.yaml:1: cards: must be a list of port addresses, not /dev/ttyUSB0"},
      {"cards: []\n", "j/r.yaml:1: cards: must name at least one card"},
      {"expect: cpe\n", "j/r.yaml:1: cards: missing: a job names at least one card"},
      {"cards: [/dev/a]\nversions_after: Line Card 4.18\n",
       "j/r.yaml:2: versions_after: only with program: it says what the program's download "
       "must bring"},
      {"cards: [/dev/a\nexpect: cpe\n",
       "j/r.yaml:2: not valid YAML: end of sequence flow not found"},
      {"", "j/r.yaml: the file is empty"},
      {"- /dev/a\n", "j/r.yaml:1: a job is a map of keys (cards, expect, ...), not a list"},
      {"cards: [/dev/a]\n---\ncards: [/dev/b]\n",
       "j/r.yaml:3: a job file holds one document, not several"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Shown(ReadJob(row.yaml, "j/r.yaml")), row.shown) << row.yaml;
}

}  // namespace
}  // namespace velmora::batch
