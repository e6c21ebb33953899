// Taking a recording out of the ring: the last minutes of it, as a recording of its own or as
// an asciicast v2 file (what asciinema and its web player show) for someone without Velmora.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/record_format.h"

namespace velmora {

class Console;

// The records at or after fromUs under the header of the recording they came from.
std::string RecordingText(const Recording& r, std::int64_t fromUs);
// The card's output as "o" events and the console's commands as "i" events, in seconds from
// the first record kept.
std::string AsciicastText(const Recording& r, std::int64_t fromUs);

// "Save Recording…": the last 5 or 30 minutes or everything, chosen with the file type.
void SaveRecording_Click(Console& c);

}  // namespace velmora
