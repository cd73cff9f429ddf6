#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "net/ICMPPing.h"
#include "tools/zn7qx-scan/SafeText.h"
#include "tools/zn7qx-scan/ScanOutput.h"

namespace zn7qx::scan {
namespace {

using namespace std::string_literals;

NumericAddress Num(const char* dotted) { return NetworkToNumeric(DottedToNetwork(dotted)); }

SweepResult Sample() {
  SweepResult r;
  r.answered = {
      {Num("198.18.0.2"), Outcome::Host, 0, "", 1500},
      {Num("198.18.0.7"), Outcome::Unit, 0, "Unit-7", 250},
      {Num("198.18.0.9"), Outcome::Error, IP_DEST_HOST_UNREACHABLE, "", 3000},
      {Num("198.18.0.10"), Outcome::Unit, 0, "A,\"b\"\x1b[31m\\\xe9\n"s, 10},
  };
  r.counts.addresses = 16;
  r.counts.sent = 16;
  r.counts.units = 2;
  r.counts.hosts = 1;
  r.counts.errors = 1;
  r.counts.silent = 12;
  r.counts.elapsed = std::chrono::milliseconds(351);
  return r;
}

const std::vector<AddressRange> kRanges{{Num("198.18.0.0"), Num("198.18.0.15")}};

std::string Write(const SweepResult& r, Format format, bool all) {
  std::ostringstream out;
  WriteResults(out, r, kRanges, OutputOptions{format, all});
  return out.str();
}

TEST(ScanOutput, TextListsUnitsInTheWindowsFormWithTheirTextMadeSafe) {
  EXPECT_EQ(Write(Sample(), Format::Text, false),
            "198.18.0.7: Unit-7\n"
            "198.18.0.10: A,\"b\"\\x1b[31m\\\\\\xe9\\x0a\n");
}

TEST(ScanOutput, TextWithAllAddsHostsAndErrorsWithTheStatusText) {
  EXPECT_EQ(Write(Sample(), Format::Text, true),
            "198.18.0.2 host\n"
            "198.18.0.7: Unit-7\n"
            "198.18.0.9 error: Destination Host Unreachable\n"
            "198.18.0.10: A,\"b\"\\x1b[31m\\\\\\xe9\\x0a\n");
}

TEST(ScanOutput, CsvQuotesWhereNeededAndCarriesNoRawControlBytes) {
  EXPECT_EQ(Write(Sample(), Format::Csv, true),
            "address,kind,text,status,status_text,rtt_ms\r\n"
            "198.18.0.2,host,,0,Success!,1.500\r\n"
            "198.18.0.7,unit,Unit-7,0,Success!,0.250\r\n"
            "198.18.0.9,error,,11003,Destination Host Unreachable,3.000\r\n"
            "198.18.0.10,unit,\"A,\"\"b\"\"\\x1b[31m\\\\\\xe9\\x0a\",0,Success!,0.010\r\n");
  EXPECT_EQ(Write(Sample(), Format::Csv, false).find("host"), std::string::npos);
}

TEST(ScanOutput, JsonIsValidAndKeepsEveryByteOfTheText) {
  const auto doc = nlohmann::json::parse(Write(Sample(), Format::Json, true));
  ASSERT_EQ(doc["ranges"], nlohmann::json::array({"198.18.0.0-198.18.0.15"}));
  ASSERT_EQ(doc["results"].size(), 4u);
  EXPECT_EQ(doc["results"][1]["address"], "198.18.0.7");
  EXPECT_EQ(doc["results"][1]["kind"], "unit");
  EXPECT_EQ(doc["results"][1]["text"], "Unit-7");
  EXPECT_EQ(doc["results"][2]["status"], 11003);
  EXPECT_EQ(doc["results"][2]["status_text"], "Destination Host Unreachable");
  EXPECT_FALSE(doc["results"][2].contains("text"));
  // 0xE9 read as ISO 8859-1 is U+00E9.
  EXPECT_EQ(doc["results"][3]["text"], "A,\"b\"\x1b[31m\\\u00e9\n");
  EXPECT_EQ(doc["summary"]["units"], 2);
  EXPECT_EQ(doc["summary"]["silent"], 12);
  EXPECT_DOUBLE_EQ(doc["summary"]["elapsed_ms"].get<double>(), 351.0);

  const auto unitsOnly = nlohmann::json::parse(Write(Sample(), Format::Json, false));
  EXPECT_EQ(unitsOnly["results"].size(), 2u);
}

TEST(ScanOutput, JsonSurvivesAnyByteSequence) {
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  SweepResult r;
  r.answered = {{Num("198.18.0.1"), Outcome::Unit, 0, every, 1}};
  const auto doc = nlohmann::json::parse(Write(r, Format::Json, false));
  const std::string text = doc["results"][0]["text"];
  EXPECT_EQ(text, Latin1ToUtf8(every));
}

TEST(ScanOutput, SummaryUsesTheWindowsWords) {
  SweepCounts c = Sample().counts;
  EXPECT_EQ(SummaryLine(c),
            "Completed scanning. 2 ZN7QX unit(s) found. 16 addresses: 1 other hosts, 1 errors, 12 silent; "
            "0.351 s.");
  c.units = 0;
  EXPECT_EQ(SummaryLine(c).rfind("Completed scanning. No ZN7QX units found. ", 0), 0u);
  c.interrupted = true;
  EXPECT_EQ(SummaryLine(c).rfind("Scan canceled. Found 0 ZN7QX unit(s). ", 0), 0u);
}

TEST(SafeText, EscapesEverythingButPrintableAscii) {
  EXPECT_EQ(EscapeText("Unit 7 (lab) ~ok"), "Unit 7 (lab) ~ok");
  EXPECT_EQ(EscapeText("\0\t\x7f\x80\xff\\"s), "\\x00\\x09\\x7f\\x80\\xff\\\\");
  EXPECT_EQ(Latin1ToUtf8("a\xe9\xff"), "a\xc3\xa9\xc3\xbf");
}

}  // namespace
}  // namespace zn7qx::scan
