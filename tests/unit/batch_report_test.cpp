// The batch program's reports: the JSON a script reads, the JUnit a CI system reads, the audit
// log, each valid whatever bytes a card sent.
#include <gtest/gtest.h>

#include "batch/batch.h"

namespace velmora::batch {
namespace {

Snapshot Card(int sfd) {
  Snapshot s;
  s.program = "LINE CARD APP";
  s.versions = {{"application", "Line Card 4.17"}, {"bootLoader", "BL 1.2"}};
  s.settings = {sfd, 2, std::nullopt};
  s.status = {{"opState", "Ranging Completed Successfully"}};
  return s;
}

TEST(BatchReport, JsonHoldsEachCardsBeforeAndAfter) {
  const std::vector<Change> sfd = {{"sfd", "31", "18"}};
  const DownloadFigures download{40960, 7.25, 0.98125};
  const CardReport changed{
      "rfc2217://rack-3:4001", Result::kChanged, Card(31), Card(18), download, sfd, "", 12.3456};
  const CardReport silent{"/dev/ttyUSB0", Result::kFailed, {}, {}, {}, {}, "No response", 3};
  const std::string snapshot =
      R"("versions":{"before":{"application":"Line Card 4.17","bootLoader":"BL 1.2"},)"
      R"("after":{"application":"Line Card 4.17","bootLoader":"BL 1.2"}},)"
      R"("settings":{"before":{"sfd":31,"KEY":2,"v35":null},"after":{"sfd":18,"KEY":2,"v35":null}},)"
      R"("status":{"before":{"opState":"Ranging Completed Successfully"},)"
      R"("after":{"opState":"Ranging Completed Successfully"}},)";
  const std::string cards =
      R"({"port":"rfc2217://rack-3:4001","result":"changed",)"
      R"("program":{"before":"LINE CARD APP","after":"LINE CARD APP"},)" +
      snapshot +
      R"("download":{"bytes":40960,"seconds":7.250,"efficiency":0.981},)"
      R"("changes":[{"what":"sfd","from":"31","to":"18"}],"error":"","seconds":12.346},)"
      "\n"
      R"({"port":"/dev/ttyUSB0","result":"failed","program":{"before":null,"after":null},)"
      R"("versions":{"before":null,"after":null},"settings":{"before":null,"after":null},)"
      R"("status":{"before":null,"after":null},"changes":[],)"
      R"("error":"No response","seconds":3.000})";
  const auto expected = [&](std::string key) {
    std::string text = "{\"job\":\"rack.yaml\",\"cards\":[\n" + cards + "\n]}\n";
    return text.replace(text.find("KEY"), 3, key).replace(text.find("KEY"), 3, key);
  };
  Job job;
  job.file = "rack.yaml";
  EXPECT_EQ(ReportJson(job, {changed, silent}), expected("telephony"));
  job.genericKey = "range";
  EXPECT_EQ(ReportJson(job, {changed, silent}), expected("range"));
}

TEST(BatchReport, AnyBytesACardSentStayValidJson) {
  const struct {
    std::string text;
    std::string json;
  } rows[] = {
      {"say \"hi\" \\ there", R"("say \"hi\" \\ there")"},
      {std::string("\x1f\n\x1b[0m\t\0", 8), R"("\u001F\u000A\u001B[0m\u0009\u0000")"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA1",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA1\""},
      // A lone Latin-1 byte, a cut-off character, an overlong '/', a surrogate, past U+10FFFF.
      {"\xE9t\xC3 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80\xFF",
       "\"\xEF\xBF\xBDt\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(AuditLine({"t", "u", "h", "p", {row.text, "", ""}}),
              R"({"time":"t","user":"u","host":"h","port":"p","what":)" + row.json +
                  R"(,"from":"","to":""})" + "\n")
        << row.text;
}

TEST(BatchReport, JunitOneCasePerCardWithFailuresAndChanges) {
  CardReport changed, failed, ok;
  changed.port = "tcp://rack-3:4001";
  changed.result = Result::kChanged;
  changed.changes = {{"v35", "DISABLE", "CHANNEL 1"}, {"sfd", "31", "18"}};
  changed.seconds = 2;
  failed.port = "/dev/tty<&>\"\x02";
  failed.error = "Card <3> said \"no\"\nand & \x1b stopped";
  failed.seconds = 1.5;
  ok.port = "/dev/ok";
  ok.result = Result::kOk;
  Job job;
  job.file = "jobs/rack.3.yaml";
  EXPECT_EQ(
      ReportJunit(job, {changed, failed, ok}, 4.0625),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n"
      "  <testsuite name=\"velmora-batch\" tests=\"3\" failures=\"1\" time=\"4.062\">\n"
      "    <testcase classname=\"velmora-batch.rack.3\" name=\"tcp://rack-3:4001\" "
      "time=\"2.000\">\n"
      "      <system-out>v35: DISABLE -&gt; CHANNEL 1\nsfd: 31 -&gt; 18\n</system-out>\n"
      "    </testcase>\n"
      "    <testcase classname=\"velmora-batch.rack.3\" name=\"/dev/tty&lt;&amp;&gt;&quot;"
      "\xEF\xBF\xBD\" time=\"1.500\">\n"
      "      <failure message=\"Card &lt;3&gt; said &quot;no&quot;&#10;and &amp; \xEF\xBF\xBD "
      "stopped\">Card &lt;3&gt; said &quot;no&quot;\nand &amp; \xEF\xBF\xBD stopped</failure>\n"
      "    </testcase>\n"
      "    <testcase classname=\"velmora-batch.rack.3\" name=\"/dev/ok\" time=\"0.000\"/>\n"
      "  </testsuite>\n</testsuites>\n");
}

TEST(BatchReport, AuditFolderFromTheStateDirectoryVariables) {
  EXPECT_EQ(AuditFolder("/var/velmora", "/x", "/home/eng"), "/var/velmora");
  EXPECT_EQ(AuditFolder("", "/x", "/home/eng"), "/x/velmora");
  EXPECT_EQ(AuditFolder(nullptr, "", "/home/eng"), "/home/eng/.local/state/velmora");
  EXPECT_EQ(AuditFolder(nullptr, nullptr, nullptr), "");
}

}  // namespace
}  // namespace velmora::batch
