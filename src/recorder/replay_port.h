// A recording played back as a port: replay://PATH?speed=N|max. Its card sends the recorded
// card's bytes with their recorded spacing (divided by the speed); what the console sends goes
// nowhere but is compared with what the console sent then.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"
#include "platform/timer.h"
#include "recorder/record_format.h"

namespace velmora {

class Console;

struct ReplayAddress {
  std::string path;
  double speed = 1;  // 0: as fast as the console reads
};
// "replay://PATH", "replay://PATH?speed=4", "replay://PATH?speed=max"; nothing otherwise.
std::optional<ReplayAddress> ParseReplayAddress(std::string_view device);

// How what the console sent in a replay compares with what was sent then: each command (a line
// the console wrote) must come in the recorded order; recorded commands the replay did not
// send (the engineer's own, more polls in the same time) are passed over. Nothing is compared
// while the recorded console was downloading a program.
struct CommandComparison {
  std::size_t sent = 0;
  std::size_t matched = 0;
  std::string firstDifference;  // empty when all matched
};
CommandComparison CompareCommands(const std::string& recorded, const std::string& sent);

class ReplayPort : public SerialPort {
 public:
  // timer: the platform's; the port drives it alone.
  explicit ReplayPort(Timer& timer);

  void SetCommPort(int port) override { port_ = port; }
  int CommPort() const override { return port_; }
  OpenFailure Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool Output(const std::string& bytes) override;
  std::string Input() override;
  std::int64_t ArrivedWallMs() const override { return arrivedWallMs_; }
  CommEvent Event() const override { return event_; }
  void SetSThreshold(int n) override { threshold_ = n; }
  int SThreshold() const override { return threshold_; }
  std::string DeviceName(int port) const override { return devices ? devices(port) : ""; }

  std::function<std::string(int port)> devices;
  // The recorded card has said everything: the comparison, and where reading stopped if the
  // file was not sound to its end.
  std::function<void(const std::string& file, const CommandComparison& commands,
                     const std::optional<ReadFault>& fault)>
      onEnded;

 private:
  void Tick();
  void Arm();

  Timer& timer_;
  int port_ = 1;
  bool open_ = false;
  int threshold_ = 0;
  CommEvent event_ = CommEvent::None;
  std::string file_;
  double speed_ = 1;
  Recording recording_;
  bool ended_ = false;
  bool recordedDownloading_ = false;
  std::size_t next_ = 0;       // the next record to play
  std::int64_t playedUs_ = 0;  // recorded time reached
  std::string input_, sent_, recordedSent_;
  std::int64_t inputUs_ = 0;         // when the first byte of input_ arrived then
  std::int64_t arrivedWallMs_ = -1;  // the same, for what Input() gave last
};

// The end of a replay in the console: one line in the Terminal pane, and one box when the file
// was not sound to its end.
void ReplayEnded(Console& c, const std::string& file, const CommandComparison& commands,
                 const std::optional<ReadFault>& fault);

}  // namespace velmora
