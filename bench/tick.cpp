// The least a Qt program can cost where the console polls and reads: an event loop with one
// 100 ms timer and nothing else, or (--read PTY FD) an event loop woken by a pseudo-terminal,
// writing the monotonic time of each read to FD. The benchmark measures them beside the
// console's idle and latency figures, on the same machine.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTimer tick;
  if (argc == 4 && std::string_view(argv[1]) == "--read") {
    const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int out = std::atoi(argv[3]);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [fd, out] {
      char buffer[256];
      if (::read(fd, buffer, sizeof buffer) <= 0) return;
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      const std::int64_t at = std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
      if (::write(out, &at, sizeof at) != sizeof at) QCoreApplication::exit(1);
    });
  } else {
    tick.start(100);
  }
  return app.exec();
}
