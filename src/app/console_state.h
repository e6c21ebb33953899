// The console's working state: every variable the window's handlers share, with its start value.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmora {

// Which program the card is believed to run.
namespace ProgramType {
constexpr std::int32_t Unknown = 0;
constexpr std::int32_t BootLoader = 1;
constexpr std::int32_t LineCardApp = 2;
constexpr std::int32_t CpeApp = 3;
}  // namespace ProgramType

struct LineState {
  std::string Hook = "ON HOOK";
  std::string Ring = "RING OFF";
};

// The stored status of one CPE served by the line card application.
struct CpeStatusRecord {
  std::string OpState = "Acquisition";
  std::string Rssi = "0";
  std::string SfdLoss;
  std::array<LineState, 2> Lines;
};

constexpr std::size_t kDownloadBlockSize = 1000;

struct ConsoleState {
  std::int32_t ProgramType = ProgramType::Unknown;
  std::int16_t PortListIndex = 0;
  std::string RxBuffer;
  std::string ResponseLine;
  bool CommandLinePending = false;
  bool SfdWritePending = false;
  std::int32_t SfdWriteValue = 0;
  bool GenericWritePending = false;
  bool V35WritePending = false;
  std::uint8_t EEPROM_VALUE_PCM = 0;
  std::uint8_t PollTick = 0;
  std::uint8_t PollStep = 0;
  bool InitialReadPending = false;
  bool TerminalDebugOffSent = false;
  std::uint8_t SelectedCpe = 0;
  std::array<CpeStatusRecord, 4> CpeStatus;
  bool LoggingActive = false;
  std::int16_t LogFileNumber = 0;
  bool Downloading = false;
  std::int32_t DownloadStage = 0;
  std::int16_t DownloadFile = 0;  // stays 0: the program is sent from the bytes checked
  std::string DownloadBlock = std::string(kDownloadBlockSize, '\0');
  std::int32_t DownloadLength = 0;
  std::int32_t DownloadSent = 0;
  std::uint8_t ResetRetries = 0;
};

}  // namespace velmora
