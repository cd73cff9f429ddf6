// What zn7qx-scan prints: text for people, CSV and JSON for programs, the
// summary line. Unit texts are outside input: no raw control byte gets out.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
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
      {Num("198.18.0.9"), Outcome::Error, IP_DEST_HOST_UNREACHABLE, "", 3000},
      {Num("198.18.0.10"), Outcome::Unit, 0, "A,\"b\"\x1b[31m\\\xe9\n"s, 10},
  };
  r.counts = {.addresses = 16, .sent = 16, .units = 2, .hosts = 1, .errors = 1, .silent = 12,
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
                                       "198.18.0.9 error: Destination Host Unreachable\n" + unit10);
}

TEST(ScanOutput, CsvQuotesWhereNeeded) {
  EXPECT_EQ(Write(Format::Csv, true),
            "address,kind,text,status,status_text,rtt_ms\r\n"
            "198.18.0.2,host,,0,Success!,1.500\r\n"
            "198.18.0.7,unit,Unit-7,0,Success!,0.250\r\n"
            "198.18.0.9,error,,11003,Destination Host Unreachable,3.000\r\n"
            "198.18.0.10,unit,\"A,\"\"b\"\"\\x1b[31m\\\\\\xe9\\x0a\",0,Success!,0.010\r\n");
  EXPECT_EQ(Write(Format::Csv, false).find("host"), std::string::npos);
}

TEST(ScanOutput, JsonIsValidAndKeepsEveryByteOfAnyText) {
  const auto doc = nlohmann::json::parse(Write(Format::Json, true));
  EXPECT_EQ(doc["ranges"], nlohmann::json::array({"198.18.0.0-198.18.0.15"}));
  ASSERT_EQ(doc["results"].size(), 4u);
  EXPECT_EQ(doc["results"][1]["text"], "Unit-7");
  EXPECT_EQ(doc["results"][2]["status_text"], "Destination Host Unreachable");
  EXPECT_FALSE(doc["results"][2].contains("text"));
  EXPECT_EQ(doc["results"][3]["text"], "A,\"b\"\x1b[31m\\\u00e9\n");
  EXPECT_EQ(doc["summary"]["silent"], 12);
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
            "Completed scanning. 2 ZN7QX unit(s) found. 16 addresses: 1 other hosts, 1 errors, 12 silent; 0.351 s.");
  c.units = 0;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Completed scanning. No ZN7QX units found. "));
  c.interrupted = true;
  EXPECT_TRUE(scan::SummaryLine(c).starts_with("Scan canceled. Found 0 ZN7QX unit(s). "));
}

}  // namespace
}  // namespace zn7qx::test
