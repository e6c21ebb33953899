// Program download: restart the card, catch its boot loader, stream the file, wait for the flash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class Console;

constexpr int kDownloadBurstBlocks = 2;
constexpr int kDownloadSendThreshold = 500;
constexpr int kResetWatchdogMs = 9000;
constexpr int kStopWatchdogMs = 2000;
constexpr int kFlashingTickMs = 400;
constexpr int kFlashingProgressStep = 5;

// Why a program file cannot be downloaded, in the words of the box the window shows; nothing
// when it can. `length` is the file's, `text` as much of it as was read (at most 16 MiB and a bit).
std::optional<std::string> ProgramFileFault(std::string_view text, std::int64_t length,
                                            const std::string& title);
void DownloadButton_Click(Console& c);
void HandleBootLoaderReply(Console& c, const std::string& text);
// One send event of the port, after pending window events have run.
void DownloadSendStep(Console& c);
void DownloadTimer_Timer(Console& c);
void EndDownload(Console& c);
// The port failed under a running download: end it in order before the port is given up.
void EndDownloadForLostPort(Console& c);

}  // namespace velmora
