// The console's side of the trends: the parsers and the program changes feed them, and the
// engineer exports them.
#pragma once

#include "trends/trends.h"

namespace velmora {

class Console;

// A value a parser stored, for the program the console now sees.
void RecordTrend(Console& c, int cpe, Quantity q, int value);
// A CPE's link went down: the marker, then the start values its record was put back to.
void RecordCpeReset(Console& c, int cpe, LinkCode why);
// A program change or a lost port, stamped at once.
void MarkTrend(Console& c, Quantity q, int value);
// "Export CSV…": every recorded sample into a file the engineer chooses.
void ExportCsv_Click(Console& c);

}  // namespace velmora
