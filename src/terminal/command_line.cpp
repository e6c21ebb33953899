// Sending a typed command: the click only queues it, the poll timer sends the text it finds.
#include "terminal/command_line.h"

#include "app/console.h"

namespace velmora {

void CommandLineButton_Click(Console& c) {
  c.state.CommandLinePending = true;
  const std::string& text = c.ui.CommandLineText.Text();
  auto& history = c.commandHistory;
  if (!text.empty() && (history.empty() || history.back() != text)) history.push_back(text);
  c.historyPosition = history.size();
  c.historyDraft.clear();
}

bool CommandLineText_KeyDown(Console& c, Key key) {
  auto& field = c.ui.CommandLineText;
  if (key == Key::Enter) {
    c.ui.CommandLineButton.UserClick();
    return true;
  }
  if (field.Locked()) return false;
  const auto& history = c.commandHistory;
  std::size_t& at = c.historyPosition;
  if (key == Key::Up && at > 0) {
    if (at == history.size()) c.historyDraft = field.Text();
    field.SetText(history[--at]);
    return true;
  }
  if (key == Key::Down && at < history.size()) {
    ++at;
    field.SetText(at == history.size() ? c.historyDraft : history[at]);
    return true;
  }
  return false;
}

}  // namespace velmora
