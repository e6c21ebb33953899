// The poll timer's tick: queued requests first, then the once-a-second command of the program.
#include "scheduler/poll_cycle.h"

#include <initializer_list>
#include <string>

#include "app/console.h"
#include "recorder/console_recording.h"
#include "replies/numbers.h"

namespace velmora {
namespace {

void SendAll(Console& c, std::initializer_list<const char*> commands) {
  for (const char* command : commands) SendCommand(c, command);
}

// One step of the ten-step status schedule; the first round also reads what the console
// needs once: EEPROM settings, versions, operational and line state.
void SendPollStep(Console& c, int step, bool firstRound) {
  if (firstRound) {
    switch (step) {
      case 3:
        SendAll(c, {"ree 0", "ree 4"});
        break;
      case 4:
        SendAll(c, {"ree 5", "versions"});
        break;
      case 5:
        SendAll(c, {"op_status", "line_state"});
        break;
      case 6:
        SendAll(c, {"debug 1"});
        break;
      default:
        break;
    }
  }
  if (step % 2 == 0) SendAll(c, {"rdm ff28 4", "rdm ff12 8"});
  if (step == 3 || step == 7) SendAll(c, {"battery", "temperature"});
}

void SendCommandLine(Console& c) {
  if (!c.state.CommandLinePending) return;
  // The text as it is now, not as it was when the button was clicked.
  SendCommand(c, c.ui.CommandLineText.Text());
  c.state.CommandLinePending = false;
}

void SendQueuedWrites(Console& c) {
  auto& s = c.state;
  auto& ui = c.ui;
  if (s.SfdWritePending) {
    SendCommand(c, "wee 0 " + HexText(s.SfdWriteValue));
    s.SfdWritePending = false;
  }
  if (s.GenericWritePending) {
    // With no entry chosen there is nothing right to write.
    const std::int16_t choice = ui.GenericSelect.ListIndex();
    if (choice >= 0 && s.ProgramType == ProgramType::LineCardApp) {
      // The line card keeps its telephony mode in the two low bits of the byte.
      s.EEPROM_VALUE_PCM = static_cast<std::uint8_t>((s.EEPROM_VALUE_PCM & 0xFC) | (choice & 3));
      SendCommand(c, "wee 4 " + HexText(s.EEPROM_VALUE_PCM));
    } else if (choice >= 0) {
      SendCommand(c, "wee 4 " + HexText(choice));
    }
    s.GenericWritePending = false;
  }
  if (s.V35WritePending) {
    const std::int16_t choice = ui.V35Select.ListIndex();
    if (choice >= 0) SendCommand(c, "wee 5 " + HexText(choice));
    s.V35WritePending = false;
  }
}

}  // namespace

void SendCommand(Console& c, std::string_view command) {
  std::string line;
  line.reserve(command.size() + 2);
  line.append(command).append("\r\n");
  c.MSComm1.Output(line);
  if (command.starts_with("wee ")) RecordEvent(c, "settings-written", command);
}

void TransmitTimer_Timer(Console& c) {
  auto& s = c.state;
  s.PollTick = static_cast<std::uint8_t>(s.PollTick + 1);
  if (s.PollTick == 10) s.PollTick = 0;
  if (!c.MSComm1.IsOpen()) return;

  switch (s.ProgramType) {
    case ProgramType::Unknown:
      if (s.PollTick == 0) SendCommand(c, "cpu");
      return;
    case ProgramType::BootLoader:
      SendCommandLine(c);
      if (s.PollTick == 0) SendCommand(c, "help");
      return;
    case ProgramType::LineCardApp:
    case ProgramType::CpeApp:
      break;
    default:
      return;
  }

  SendCommandLine(c);
  SendQueuedWrites(c);
  const bool terminalShown = c.ui.GUI_Tabs.ShownCaption() == "Terminal";
  if (terminalShown) {
    // The card's debug output would flood the pane the engineer is reading.
    if (!s.TerminalDebugOffSent) {
      SendCommand(c, "debug 0");
      s.TerminalDebugOffSent = true;
    }
    return;
  }
  s.TerminalDebugOffSent = false;
  if (s.PollTick != 0) return;
  s.PollStep = static_cast<std::uint8_t>(s.PollStep + 1);
  SendPollStep(c, s.PollStep, s.InitialReadPending);
  if (s.PollStep >= 10) {
    s.PollStep = 0;
    s.InitialReadPending = false;
  }
}

}  // namespace velmora
