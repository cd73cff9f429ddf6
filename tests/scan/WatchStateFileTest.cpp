// The units a watch keeps between runs: every text comes back byte for byte
// from a file of one plain line a unit; a file missing, damaged or of another
// version gives no units and says why.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "scan/WatchStateFile.h"
#include "tests/support/Addresses.h"

namespace zn7qx::test {
namespace {

// A folder of its own, gone with the test.
struct Folder {
  Folder() : path(::mkdtemp(pattern) != nullptr ? pattern : "/nonexistent") {}
  ~Folder() { std::filesystem::remove_all(path); }
  char pattern[32] = "/tmp/zn7qx-state-XXXXXX";
  std::string path;
};

TEST(WatchStateFile, KeepsEveryTextByteForByteOnALineOfItsOwn) {
  const std::vector<scan::WatchState::Unit> units = {
      {"02:5a:c6:12:00:0a", Num("198.18.0.10"), "quote \" backslash \\ newline \n return \r", "02:5a:c6:12:00:0a", 0},
      {"198.18.0.11", Num("198.18.0.11"), std::string("nul \0 escape \x1b[2J del \x7f high \xff\x85", 32), "", 1},
      {"198.18.0.12#2", Num("198.18.0.12"), "", "", 0},
  };
  const std::string saved = scan::SavedUnits(scan::WatchState(units));
  const Folder folder;
  const std::string path = folder.path + "/units";
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 4) << saved;
  EXPECT_TRUE(std::none_of(saved.begin(), saved.end(), [](char c) { return c != '\n' && (c < ' ' || c > '~'); }));
  std::ofstream(path) << saved;
  const scan::LoadedUnits loaded = scan::LoadUnits(path);
  ASSERT_EQ(loaded.problem, "");
  ASSERT_EQ(loaded.state.Units().size(), units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const scan::WatchState::Unit& u = loaded.state.Units()[i];
    EXPECT_EQ(std::tie(u.id, u.address, u.text, u.mac, u.misses),
              std::tie(units[i].id, units[i].address, units[i].text, units[i].mac, units[i].misses));
  }
}

TEST(WatchStateFile, AFileMissingDamagedOrOfAnotherVersionGivesNoUnitsAndSaysWhy) {
  const std::string good = "zn7qx-watch units 1\n", unit = "u 198.18.0.1 - 0 41";
  const struct {
    const char* name;
    std::optional<std::string> text;  // none: no file
    std::string problem;              // after the file's name
  } rows[] = {
      {"missing", std::nullopt, "no units kept in"},
      {"empty", "", " is not a file of this version's units: the watch starts afresh"},
      {"another version", "zn7qx-watch units 2\n" + unit + "\n", " is not a file of this version's units"},
      {"a field short", good + "u 198.18.0.1 - 0\n", ":2 is damaged: the watch starts afresh"},
      {"a field more", good + unit + " 42\n", ":2 is damaged"},
      {"a text not hexadecimal", good + "u 198.18.0.1 - 0 4g\n", ":2 is damaged"},
      {"half a byte of text", good + "u 198.18.0.1 - 0 414\n", ":2 is damaged"},
      {"an address in another form", good + "u 198.18.0.01 - 0 41\n", ":2 is damaged"},
      {"sweeps missed out of bounds", good + "u 198.18.0.1 - 2 41\n", ":2 is damaged"},
      {"a control byte in an identity", good + unit + "\nu\x1b 198.18.0.2 - 0 41\n", ":3 is damaged"},
      {"cut off in a line", good + unit + "\nu 198.18", ":3 is damaged"},
  };
  const Folder folder;
  const std::string path = folder.path + "/units";
  for (const auto& row : rows) {
    ::unlink(path.c_str());
    if (row.text) std::ofstream(path, std::ios::binary) << *row.text;
    const scan::LoadedUnits loaded = scan::LoadUnits(path);
    EXPECT_NE(loaded.problem.find(row.problem), std::string::npos) << row.name << ": " << loaded.problem;
    EXPECT_EQ(loaded.state.Count(), 0u) << row.name;
    EXPECT_EQ(loaded.missing, !row.text) << row.name;
  }
}

}  // namespace
}  // namespace zn7qx::test
