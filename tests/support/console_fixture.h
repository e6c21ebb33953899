// The one fixture of the core's tests: a console on fakes, driven and read as a person would.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/lifecycle.h"
#include "support/fakes.h"

namespace velmora::testing {

// A console on fakes. Tests that need a fresh one per row make their own.
struct ConsoleOnFakes {
  FakePlatform fake;
  ManualClock clock;  // the trends'
  FakeDeviceWatch watch;
  Console c{fake.platform()};
  ConsoleState& s = c.state;
  MainWindow& ui = c.ui;

  ConsoleOnFakes() { c.trends.SetClock(clock); }
  // Loaded, with COM1 free and chosen.
  void Connect() {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
    ui.CommPortSelect.UserChoose(1);
    fake.port.writes.clear();
  }
  // DISCONNECT, then COM1 again: the console starts afresh, as it does for the engineer.
  void Reconnect() {
    ui.CommPortSelect.UserChoose(0);
    ui.CommPortSelect.UserChoose(1);
  }
  // Each row's script on the console started afresh, then what `look` shows.
  void CheckRows(const std::string& look,
                 const std::vector<std::pair<std::string, std::string>>& rows) {
    for (const auto& [script, shown] : rows) CheckRows({{script, look, shown}});
  }
  // The same, each row with its own look: {script, look, shown}.
  void CheckRows(const std::vector<std::array<std::string, 3>>& rows) {
    for (const auto& [script, look, shown] : rows) {
      Reconnect();
      Script(script);
      EXPECT_EQ(Look(look), shown) << script;
    }
  }
  // One line from the card, with its CR LF.
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  // Lines from the card, one per '\n', and the engineer's actions: "@cpe N", "@tab N",
  // "@click Name", "@choose Name N", "@edit Name text", "@key Up|Down|Enter", "@tick N" (poll
  // ticks), "@ms N", "@raw text" (received without CR LF), "@send" (a send event), "@lose" (the
  // adapter pulled), "@deferred" (deferred work runs).
  void Script(const std::string& lines);
  // What a person sees, for each blank-separated name, joined by '|': a control's text, list
  // index or caption, "Name.Enabled" / "Name.Visible" (0 or 1), "Name.Colour", "Program",
  // "Cpe0".."Cpe3" (a stored record), "OpStates" and "Rssis" (of the four CPEs), "PCM".
  std::string Look(const std::string& names);
  // n poll ticks of 100 ms; what they wrote.
  std::vector<std::string> Ticks(int n = 1) {
    fake.port.writes.clear();
    fake.clock.Advance(100 * n);
    return fake.port.writes;
  }
};

class ConsoleTest : public ::testing::Test, public ConsoleOnFakes {};

class ConnectedConsoleTest : public ConsoleTest {
 protected:
  void SetUp() override {
    Connect();
    ASSERT_TRUE(fake.port.IsOpen());
  }
};

inline void ConsoleOnFakes::Script(const std::string& lines) {
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] != '@') {
      Receive(line);
      continue;
    }
    std::istringstream words(line.substr(1));
    std::string verb, name, rest;
    words >> verb;
    if (verb == "click" || verb == "choose" || verb == "edit") words >> name;
    std::getline(words >> std::ws, rest);
    const int n = static_cast<int>(std::strtol(rest.c_str(), nullptr, 10));
    Control* k = ui.Find(name);
    if (verb == "cpe")
      ui.CpeSelect.UserChoose(static_cast<std::int16_t>(n));
    else if (verb == "tab")
      ui.GUI_Tabs.UserShowTab(n);
    else if (verb == "click")
      static_cast<CommandButton*>(k)->UserClick();
    else if (verb == "choose")
      static_cast<ComboBox*>(k)->UserChoose(static_cast<std::int16_t>(n));
    else if (verb == "edit")
      static_cast<TextBox*>(k)->UserEdit(rest);
    else if (verb == "tick")
      fake.clock.Advance(100 * n);
    else if (verb == "ms")
      fake.clock.Advance(n);
    else if (verb == "key")
      ui.CommandLineText.UserKeyDown(rest == "Up"     ? Key::Up
                                     : rest == "Down" ? Key::Down
                                                      : Key::Enter);
    else if (verb == "raw")
      fake.port.Feed(rest);
    else if (verb == "send")
      fake.port.RaiseSend();
    else if (verb == "lose")
      fake.port.Lose("Device disconnected");
    else if (verb == "deferred")
      c.RunDeferred();
    else
      ADD_FAILURE() << "no action " << line;
  }
}

inline std::string ConsoleOnFakes::Look(const std::string& names) {
  std::istringstream in(names);
  std::string all;
  bool first = true;
  const auto record = [](const CpeStatusRecord& r) {
    return r.OpState + "|" + r.Rssi + "|" + r.SfdLoss + "|" + r.Lines[0].Hook + "|" +
           r.Lines[0].Ring + "|" + r.Lines[1].Hook + "|" + r.Lines[1].Ring;
  };
  for (std::string name; in >> name;) {
    std::string v;
    const std::size_t dot = name.find('.');
    const Control* k = ui.Find(name.substr(0, dot));
    if (name == "Program") {
      v = ui.ProgramText.Text();
    } else if (name == "PCM") {
      v = std::to_string(s.EEPROM_VALUE_PCM);
    } else if (name == "OpStates" || name == "Rssis") {
      for (const auto& r : s.CpeStatus)
        v += (v.empty() ? "" : ",") + (name == "Rssis" ? r.Rssi : r.OpState);
    } else if (name.size() == 4 && name.rfind("Cpe", 0) == 0) {
      v = record(s.CpeStatus.at(static_cast<std::size_t>(name[3] - '0')));
    } else if (!k) {
      v = "no control " + name;
    } else if (dot != std::string::npos) {
      const std::string p = name.substr(dot + 1);
      const Color colour =
          k->kind() == Kind::TextBox ? static_cast<const TextBox*>(k)->BackColor() : 0;
      v = p == "Enabled"      ? std::to_string(k->Enabled())
          : p == "Visible"    ? std::to_string(k->Visible())
          : colour == kRed    ? "red"
          : colour == kYellow ? "yellow"
          : colour == kGreen  ? "green"
                              : "other";
    } else if (k->kind() == Kind::TextBox) {
      v = static_cast<const TextBox*>(k)->Text();
    } else if (k->kind() == Kind::ComboBox) {
      v = std::to_string(static_cast<const ComboBox*>(k)->ListIndex());
    } else if (k->kind() == Kind::CommandButton) {
      v = static_cast<const CommandButton*>(k)->Caption();
    } else if (k->kind() == Kind::Label) {
      v = static_cast<const Label*>(k)->Caption();
    }
    all += (first ? "" : "|") + v;
    first = false;
  }
  return all;
}

}  // namespace velmora::testing
