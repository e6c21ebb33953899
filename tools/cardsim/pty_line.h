// The card's end of the serial line: a pseudo-terminal whose other end the console opens.
#pragma once

#include <string>

namespace velmora::cardsim {

class PtyLine {
 public:
  PtyLine() = default;
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  ~PtyLine() { Close(); }

  // A new raw pseudo-terminal (57600 8N1 nominal, no echo, no CR/LF translation).
  bool Open(std::string& error);
  // Closes both ends, as an adapter pulled from its socket: the console's reads fail.
  void Close();

  bool IsOpen() const { return master_ >= 0; }
  int Master() const { return master_; }
  // The descriptor that tells when someone opens or closes the slave, or -1.
  int WatchFd() const { return watch_; }
  const std::string& SlavePath() const { return slave_path_; }

  // Reads the open and close notices; returns a text for the log when a console came or went.
  std::string TakeWatchEvents();
  // Whether a console has the line open. Without notices (no inotify) it is assumed so.
  bool ConsoleListening() const { return IsOpen() && (watch_ < 0 || openers_ > 0); }

 private:
  int master_ = -1;
  // Kept open so that the master never sees a hang-up while the console closes and re-opens.
  int slave_ = -1;
  int watch_ = -1;
  int openers_ = 0;
  std::string slave_path_;
};

// Points `link` at `target`, replacing an older symlink in one step. Refuses to replace
// anything that is not a symlink.
bool PointLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` if it still points at `target` (another simulator may have taken it over).
void RemoveLinkTo(const std::string& link, const std::string& target);

}  // namespace velmora::cardsim
