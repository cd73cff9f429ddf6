// What zn7qx-scan prints: text for people, CSV and JSON for programs, the
// summary line, a watch's changes. Unit texts are outside input: no raw
// control byte gets out.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "net/ICMPPing.h"
#include "scan/SafeText.h"
#include "scan/ScanOutput.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

using namespace std::string_literals;
using scan::Format;
using scan::Outcome;

scan::SweepResult Sample() {
  scan::SweepResult r;
  r.answered = {
      {Num("198.18.0.2"), Outcome::Host, 0, "", 1500},
      {Num("198.18.0.7"), Outcome::Unit, 0, "Unit-7", 250},
      {Num("198.18.0.9"), Outcome::Error, IP_DEST_HOST_UNREACHABLE, "", 3000, scan::ErrorOrigin::Icmp, 3, 1},
      {Num("198.18.0.10"), Outcome::Unit, 0, "A,\"b\"\x1b[31m\\\xe9\n"s, 10},
      {Num("198.18.0.12"), Outcome::Error, IP_DEST_NET_UNREACHABLE, "", 0, scan::ErrorOrigin::Local, 0, 0, ENETUNREACH},
  };
  r.answered[0].mac = "02:5a:c6:12:00:02";
  r.answered[1].mac = "02:00:5e:10:00:07";
  r.counts = {.addresses = 16, .sent = 15, .units = 2, .hosts = 1, .errors = 2, .silent = 11, .ignored = 3,
              .elapsed = std::chrono::milliseconds(351), .interrupted = true};
  return r;
}

std::string Write(Format format, bool all, const scan::SweepResult& r = Sample(), bool mac = false) {
  std::ostringstream out;
  scan::WriteResults(out, r, {{Num("198.18.0.0"), Num("198.18.0.15")}}, {format, all, mac});
  return out.str();
}

TEST(ScanOutput, TextListsUnitsInTheWindowsFormAndWithAllHostsAndErrors) {
  const std::string unit10 = "198.18.0.10: A,\"b\"\\x1b[31m\\\\\\xe9\\x0a\n";
  EXPECT_EQ(Write(Format::Text, true), "198.18.0.2 host\n198.18.0.7: Unit-7\n"
                                       "198.18.0.9 error: Destination Host Unreachable\n" + unit10 +
                                       "198.18.0.12 error: Destination Net Unreachable\n");
  EXPECT_EQ(Write(Format::Text, false, Sample(), true), "02:00:5e:10:00:07 198.18.0.7: Unit-7\n-                 " + unit10);
  EXPECT_TRUE(Write(Format::Text, true, Sample(), true)
                  .starts_with("02:5a:c6:12:00:02 198.18.0.2 host\n02:00:5e:10:00:07 198.18.0.7: Unit-7\n"
                               "-                 198.18.0.9 error: "));
}

TEST(ScanOutput, CsvNamesErrorsByTypeAndCodeInLinuxsWordsAndEndsLinesWithLf) {
  EXPECT_EQ(Write(Format::Csv, true),
            "address,kind,text,status,icmp_type,icmp_code,error,rtt_ms,mac\n"
            "198.18.0.2,host,,0,,,,1.500,02:5a:c6:12:00:02\n"
            "198.18.0.7,unit,Unit-7,0,,,,0.250,02:00:5e:10:00:07\n"
            "198.18.0.9,error,,11003,3,1,Destination Host Unreachable,3.000,\n"
            "198.18.0.10,unit,\"A,\"\"b\"\"\\x1b[31m\\\\\\xe9\\x0a\",0,,,,0.010,\n"
            "198.18.0.12,error,,11002,,,Network is unreachable,0.000,\n");
  EXPECT_EQ(Write(Format::Csv, false).find("host"), std::string::npos);
}

TEST(ScanOutput, JsonIsValidAndKeepsEveryByteOfAnyText) {
  const auto doc = nlohmann::json::parse(Write(Format::Json, true));
  EXPECT_EQ(doc["ranges"], nlohmann::json::array({"198.18.0.0-198.18.0.15"}));
  ASSERT_EQ(doc["results"].size(), 5u);
  EXPECT_EQ(doc["results"][1], nlohmann::json::parse(R"({"address": "198.18.0.7", "kind": "unit", "text": "Unit-7",
                                                          "status": 0, "rtt_ms": 0.25, "mac": "02:00:5e:10:00:07"})"));
  EXPECT_EQ(doc["results"][2], nlohmann::json::parse(R"({"address": "198.18.0.9", "kind": "error", "status": 11003,
      "icmp_type": 3, "icmp_code": 1, "error": "Destination Host Unreachable", "rtt_ms": 3.0, "mac": null})"));
  EXPECT_EQ(doc["results"][4]["error"], "Network is unreachable");
  EXPECT_FALSE(doc["results"][4].contains("icmp_type"));
  EXPECT_EQ(doc["summary"], nlohmann::json::parse(R"({"addresses": 16, "sent": 15, "units": 2, "hosts": 1,
      "errors": 2, "silent": 11, "ignored": 3, "elapsed_ms": 351.0, "interrupted": true,
      "arp_requests": null, "deferred": 0})"));
  EXPECT_EQ(nlohmann::json::parse(Write(Format::Json, false))["results"].size(), 2u);
}

// A unit's text in JSON: every control as a \u escape, never raw, so that
// nothing acts on a terminal or splits a line; letters stay letters. (A
// watch's JSON Lines take the same escapes: see its change lines below.)
TEST(ScanOutput, JsonWritesEveryControlAsAnEscapeAndKeepsTheLetters) {
  const struct {
    const char* name;
    std::string bytes, json;
  } rows[] = {
      {"C0", "\x01\x1b[2J\n\t", R"(\u0001\u001b[2J\u000a\u0009)"},
      {"DEL", "a\x7f", R"(a\u007f)"},
      {"C1's ends, and the letter after", "\x80\x9f\xa0", R"(\u0080\u009f)" "\xc2\xa0"},
      {"quote and backslash", "\"\\", R"(\"\\)"},
      {"Latin-1 letters", "\xe9\xff", "\u00e9\u00ff"},
  };
  for (const auto& row : rows) {
    scan::SweepResult r;
    r.answered = {{Num("198.18.0.1"), Outcome::Unit, 0, row.bytes, 1}};
    EXPECT_NE(Write(Format::Json, false, r).find("\"text\": \"" + row.json + "\""), std::string::npos) << row.name;
  }
  EXPECT_EQ(scan::EscapeJsonControls("[\"\xe2\x80\xa8\xe2\x80\xa9\"]"), R"(["\u2028\u2029"])");

}

TEST(ScanOutput, TheSummaryUsesTheWindowsWords) {
  scan::SweepCounts c = Sample().counts;
  c.interrupted = false;
  EXPECT_EQ(scan::SummaryLine(c),
            "Completed scanning. 2 ZN7QX unit(s) found. 16 addresses: 1 other hosts, 2 errors, 11 silent; 0.351 s.");
  c.arpSent = 40;  // the link resolved by the sweep itself
  EXPECT_TRUE(scan::SummaryLine(c).ends_with(" 11 silent; 0.351 s; 40 ARP requests."));
  c.units = 0;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Completed scanning. No ZN7QX units found. "));
  c.interrupted = true;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Scan canceled. Found 0 ZN7QX unit(s). "));
  // A watch's times carry the zone's offset.
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  EXPECT_EQ(scan::IsoTime(1893456000), "2030-01-01T01:00:00+01:00");
  ::unsetenv("TZ");
  ::tzset();
}

TEST(ScanOutput, AWatchWritesEachChangeOnALineOfItsOwn) {
  using scan::Event;
  const std::string t = "2030-01-02T03:04:05+01:00 ";
  const struct {
    scan::Change change;
    std::string text, json;
  } rows[] = {
      {{Event::Appeared, Num("198.18.0.80"), 0, "New\n\xe9", "02:5a:c6:12:00:50", "", ""},
       "appeared 02:5a:c6:12:00:50 198.18.0.80: New\\x0a\\xe9",
       R"("event":"appeared","address":"198.18.0.80","text":"New\u000aé","mac":"02:5a:c6:12:00:50")"},
      {{Event::Silent, Num("198.18.0.81"), 0, "Gone", "", "", ""},
       "silent   -                 198.18.0.81: Gone", R"("event":"silent","address":"198.18.0.81","text":"Gone","mac":null)"},
      {{Event::Changed, Num("198.18.0.82"), 0, "B", "02:00:5e:10:00:02", "A", ""},
       "changed  02:00:5e:10:00:02 198.18.0.82: B  (was: A)",
       R"("event":"changed","address":"198.18.0.82","text":"B","mac":"02:00:5e:10:00:02","old_text":"A")"},
      {{Event::Moved, Num("198.18.0.84"), Num("198.18.0.83"), "M", "02:00:5e:10:00:01", "M", ""},
       "moved    02:00:5e:10:00:01 198.18.0.83 -> 198.18.0.84: M",
       R"("event":"moved","address":"198.18.0.84","from":"198.18.0.83","text":"M","mac":"02:00:5e:10:00:01")"},
  };
  for (const auto& row : rows) {
    std::ostringstream text, json;
    scan::WriteChange(text, row.change, Format::Text, t.substr(0, 25), 3);
    scan::WriteChange(json, row.change, Format::Json, t.substr(0, 25), 3);
    EXPECT_EQ(text.str(), t + row.text + "\n");
    EXPECT_EQ(json.str(), R"({"time":"2030-01-02T03:04:05+01:00","sweep":3,)" + row.json + "}\n");
  }
}

}  // namespace
}  // namespace zn7qx::test
