// The serial port's events: received text to the pane, the line assembler or the download,
// and the log; send events to the download.
#include "serial/receive_path.h"

#include "app/console.h"
#include "download/download.h"
#include "replies/dispatch.h"
#include "replies/numbers.h"
#include "serial/port_watch.h"
#include "terminal/logging.h"
#include "trends/recording.h"

namespace velmora {

void MSComm1_OnComm(Console& c) {
  auto& s = c.state;
  switch (c.MSComm1.Event()) {
    case CommEvent::Receive: {
      const std::string buf = c.MSComm1.Input();
      AppendTerminal(c, buf);
      // Logged before the hand-over: the boot loader handshake lets pending events run, and a
      // batch received in them must not reach the log before this one.
      if (s.LoggingActive) WriteLog(c, buf);
      if (s.Downloading)
        HandleBootLoaderReply(c, buf);
      else
        SplitReceivedLines(c, buf);
      break;
    }
    case CommEvent::Send:
      c.pump.ProcessEvents();
      DownloadSendStep(c);
      break;
    default:
      break;
  }
}

void SplitReceivedLines(Console& c, std::string text) {
  auto& s = c.state;
  s.RxBuffer += text;
  std::size_t start = 0;
  for (std::size_t end; (end = s.RxBuffer.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    if (end == start) continue;  // empty lines are dropped
    s.ResponseLine.assign(s.RxBuffer, start, end - start);
    try {
      DispatchResponseLine(c);
    } catch (const ReplyError&) {
      // A malformed reply ends that line's handling only.
    }
  }
  s.RxBuffer.erase(0, start);
  if (s.RxBuffer.size() > kMaxUnterminatedLine)
    s.RxBuffer.erase(0, s.RxBuffer.size() - kMaxUnterminatedLine);
}

void AppendTerminal(Console& c, std::string text) {
  if (text.empty()) return;
  const std::string& old = c.ui.TerminalText.Text();
  std::string pane;
  if (text.size() >= kTerminalCapacity) {
    pane.assign(text, text.size() - kTerminalCapacity, kTerminalCapacity);
  } else {
    const std::size_t keep = std::min(old.size(), kTerminalCapacity - text.size());
    pane.reserve(keep + text.size());
    pane.append(old, old.size() - keep, keep).append(text);
  }
  c.ui.TerminalText.SetText(std::move(pane));
  // A replayed card's bytes carry the time they arrived then, which is what "Show Times" shows.
  const std::int64_t then = c.MSComm1.ArrivedWallMs();
  c.paneTimes.Appended(text, then >= 0 ? then : c.trends.clock().WallMs(),
                       c.ui.TerminalText.Text().size());
}

void PortLost(Console& c, const std::string& description) {
  auto& s = c.state;
  MarkTrend(c, Quantity::Port, 0);
  EndDownloadForLostPort(c);
  // Back to DISCONNECT as the engineer's own choice of it would do, unless the engineer has
  // already chosen again.
  if (!c.MSComm1.IsOpen() && s.PortListIndex > 0) {
    const int port = c.ui.CommPortSelect.ItemData(s.PortListIndex);
    c.ui.CommPortSelect.SetListIndex(0);
    // Remembered before the box: a box left open does not stop the reconnect.
    AwaitReturn(c, port);
  }
  c.messages.Warning(description + ReturnNote(c));
}

}  // namespace velmora
