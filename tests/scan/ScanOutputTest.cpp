// What zn7qx-scan prints: text for people, CSV and JSON for programs, the
// summary line. Unit texts are outside input: no raw control byte gets out.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <sstream>

#include "net/ICMPPing.h"
#include "tests/support/Addresses.h"
#include "tools/zn7qx-scan/SafeText.h"
#include "tools/zn7qx-scan/ScanOutput.h"

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
  r.counts = {.addresses = 16, .sent = 15, .units = 2, .hosts = 1, .errors = 2, .silent = 11,
              .elapsed = std::chrono::milliseconds(351)};
  return r;
}

std::string Write(Format format, bool all, const scan::SweepResult& r = Sample()) {
  std::ostringstream out;
  scan::WriteResults(out, r, {{Num("198.18.0.0"), Num("198.18.0.15")}}, {format, all});
  return out.str();
}

TEST(ScanOutput, TextListsUnitsInTheWindowsFormAndWithAllHostsAndErrors) {
  const std::string unit10 = "198.18.0.10: A,\"b\"\\x1b[31m\\\\\\xe9\\x0a\n";
  EXPECT_EQ(Write(Format::Text, false), "198.18.0.7: Unit-7\n" + unit10);
  EXPECT_EQ(Write(Format::Text, true), "198.18.0.2 host\n198.18.0.7: Unit-7\n"
                                       "198.18.0.9 error: Destination Host Unreachable\n" + unit10 +
                                       "198.18.0.12 error: Destination Net Unreachable\n");
}

TEST(ScanOutput, CsvNamesErrorsByTypeAndCodeInLinuxsWordsAndEndsLinesWithLf) {
  EXPECT_EQ(Write(Format::Csv, true),
            "address,kind,text,status,icmp_type,icmp_code,error,rtt_ms\n"
            "198.18.0.2,host,,0,,,,1.500\n"
            "198.18.0.7,unit,Unit-7,0,,,,0.250\n"
            "198.18.0.9,error,,11003,3,1,Destination Host Unreachable,3.000\n"
            "198.18.0.10,unit,\"A,\"\"b\"\"\\x1b[31m\\\\\\xe9\\x0a\",0,,,,0.010\n"
            "198.18.0.12,error,,11002,,,Network is unreachable,0.000\n");
  EXPECT_EQ(Write(Format::Csv, false).find("host"), std::string::npos);
}

TEST(ScanOutput, JsonIsValidAndKeepsEveryByteOfAnyText) {
  const auto doc = nlohmann::json::parse(Write(Format::Json, true));
  EXPECT_EQ(doc["ranges"], nlohmann::json::array({"198.18.0.0-198.18.0.15"}));
  ASSERT_EQ(doc["results"].size(), 5u);
  EXPECT_EQ(doc["results"][1], nlohmann::json::parse(R"({"address": "198.18.0.7", "kind": "unit", "text": "Unit-7",
                                                          "status": 0, "rtt_ms": 0.25})"));
  EXPECT_EQ(doc["results"][2], nlohmann::json::parse(R"({"address": "198.18.0.9", "kind": "error", "status": 11003,
      "icmp_type": 3, "icmp_code": 1, "error": "Destination Host Unreachable", "rtt_ms": 3.0})"));
  EXPECT_EQ(doc["results"][4]["error"], "Network is unreachable");
  EXPECT_FALSE(doc["results"][4].contains("icmp_type"));
  EXPECT_EQ(doc["results"][3]["text"], "A,\"b\"\x1b[31m\\\u00e9\n");
  EXPECT_EQ(doc["summary"]["silent"], 11);
  EXPECT_DOUBLE_EQ(doc["summary"]["elapsed_ms"].get<double>(), 351.0);
  EXPECT_EQ(nlohmann::json::parse(Write(Format::Json, false))["results"].size(), 2u);

  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  scan::SweepResult r;
  r.answered = {{Num("198.18.0.1"), Outcome::Unit, 0, every, 1}};
  EXPECT_EQ(nlohmann::json::parse(Write(Format::Json, false, r))["results"][0]["text"], scan::Latin1ToUtf8(every));
}

TEST(ScanOutput, TheSummaryUsesTheWindowsWords) {
  scan::SweepCounts c = Sample().counts;
  EXPECT_EQ(scan::SummaryLine(c),
            "Completed scanning. 2 ZN7QX unit(s) found. 16 addresses: 1 other hosts, 2 errors, 11 silent; 0.351 s.");
  c.units = 0;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Completed scanning. No ZN7QX units found. "));
  c.interrupted = true;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Scan canceled. Found 0 ZN7QX unit(s). "));
}

}  // namespace
}  // namespace zn7qx::test
