#include "cardsim/pty_line.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora::cardsim {

bool PtyLine::Open(std::string& error) {
  Close();
  int master = -1;
  int slave = -1;
  std::array<char, 128> name{};
  if (openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  termios settings{};
  if (tcgetattr(slave, &settings) == 0) {
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B57600);
    cfsetospeed(&settings, B57600);
    tcsetattr(slave, TCSANOW, &settings);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  master_ = master;
  slave_ = slave;
  slave_path_ = name.data();
  openers_ = 0;

  // The console's opens and closes of the slave: our own descriptor is older than the watch,
  // so only other openers count.
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && inotify_add_watch(watch_, slave_path_.c_str(),
                                       IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(watch_);
    watch_ = -1;
  }
  return true;
}

void PtyLine::Close() {
  for (int* fd : {&watch_, &slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  openers_ = 0;
}

std::string PtyLine::TakeWatchEvents() {
  if (watch_ < 0) return {};
  const int before = openers_;
  alignas(inotify_event) std::array<char, 4096> buffer{};
  while (true) {
    const ssize_t got = read(watch_, buffer.data(), buffer.size());
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
      if ((event->mask & IN_OPEN) != 0) ++openers_;
      if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && openers_ > 0) --openers_;
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        // Lost count: from now on assume someone listens, as without notices.
        close(watch_);
        watch_ = -1;
        return "lost track of the console's opens; assuming it listens";
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (before > 0 && openers_ == 0) {
    // What the card said and nobody read is gone with the closed port, as on a real one.
    tcflush(slave_, TCIFLUSH);
    return "console closed the line";
  }
  if (before == 0 && openers_ > 0) return "console opened the line";
  return {};
}

bool PointLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    error = link + " exists and is not a symlink; not replacing it";
    return false;
  }
  const std::string temporary = link + ".cardsim-" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    error = "symlink " + link + ": " + std::strerror(errno);
    return false;
  }
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    error = "symlink " + link + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void RemoveLinkTo(const std::string& link, const std::string& target) {
  std::vector<char> buffer(target.size() + 2);
  const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
  if (length >= 0 && std::string(buffer.data(), static_cast<std::size_t>(length)) == target) {
    unlink(link.c_str());
  }
}

}  // namespace velmora::cardsim
