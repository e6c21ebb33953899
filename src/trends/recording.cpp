#include "trends/recording.h"

#include "app/console.h"
#include "recorder/console_recording.h"
#include "replies/numbers.h"

namespace velmora {

void RecordTrend(Console& c, int cpe, Quantity q, int value) {
  c.trends.Record(c.state.ProgramType, cpe, q, value);
}

void RecordCpeReset(Console& c, int cpe, LinkCode why) {
  const CpeStatusRecord& r = c.state.CpeStatus.at(static_cast<std::size_t>(cpe));
  RecordTrend(c, cpe, Quantity::Link, why);
  RecordTrend(c, cpe, Quantity::State, StateCode(r.OpState));
  RecordTrend(c, cpe, Quantity::Signal, static_cast<int>(NumberFromText(r.Rssi)));
  RecordTrend(c, cpe, Quantity::Line1Hook, LineCode(r.Lines[0].Hook));
  RecordTrend(c, cpe, Quantity::Line1Ring, LineCode(r.Lines[0].Ring));
  RecordTrend(c, cpe, Quantity::Line2Hook, LineCode(r.Lines[1].Hook));
  RecordTrend(c, cpe, Quantity::Line2Ring, LineCode(r.Lines[1].Ring));
}

void MarkTrend(Console& c, Quantity q, int value) {
  c.trends.Mark(c.state.ProgramType, q, value);
  if (q == Quantity::Program) RecordEvent(c, "program", ProgramName(value));
  if (q == Quantity::Download) RecordEvent(c, value ? "download-started" : "download-ended", {});
}

void ExportCsv_Click(Console& c) {
  OpenFileRequest request;
  request.title = "Export CSV";
  request.filters = {{"CSV File (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}};
  request.mustExist = false;
  request.refuseReadOnly = true;
  request.saving = true;
  const std::optional<ChosenFile> chosen = c.Dialog.ShowOpen(request);
  if (!chosen) return;
  // A failed export leaves the file it was to replace as it was.
  if (const FileError error = c.files.Replace(chosen->fileName, TrendsCsv(c.trends)))
    c.messages.Warning("Cannot write " + chosen->fileName + ": " + *error);
}

}  // namespace velmora
