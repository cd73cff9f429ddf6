// The not-permitted notice names the window's own file in a command meant for
// a root shell: whatever the path holds, the shell must see it as one inert
// word.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "net/ICMPPing.h"
#include "ui/ScanSeams.h"

namespace zn7qx {
namespace {

// What sh makes of the word that follows "setcap cap_net_raw+ep" in the advice.
std::string ShellSees(const std::string& advice) {
  const std::string lead = "setcap cap_net_raw+ep ";
  const auto at = advice.find(lead);
  if (at == std::string::npos) return "<no setcap line>";
  const auto end = advice.find('\n', at);
  const std::string word = advice.substr(at + lead.size(), end - at - lead.size());
  std::FILE* shell = ::popen(("printf '%s' " + word).c_str(), "r");
  if (shell == nullptr) return "<popen failed>";
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, shell)) > 0;) out.append(buffer, n);
  ::pclose(shell);
  return out;
}

TEST(PermissionAdvice, NamesThePathAsOneInertShellWord) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zn7qx-advice-test";
  std::filesystem::create_directories(dir);
  const std::string marker = (dir / "ran").string();
  std::filesystem::remove(marker);
  for (const std::string& path :
       {std::string("/usr/bin/zn7qx-finder"), std::string("/opt/My Tools/zn7qx-finder"),
        std::string("/home/o'neil/zn7qx-finder"), "/tmp/$(touch " + marker + ")/zn7qx-finder",
        "/tmp/`touch " + marker + "`;touch " + marker + "/x", std::string("/tmp/a\"b\\c*?[x]&|<>#!~")}) {
    const std::string advice = AdviceNamingProgram(EchoPermissionAdvice(), path);
    EXPECT_EQ(advice.find("<program>"), std::string::npos) << advice;
    EXPECT_EQ(ShellSees(advice), path);
  }
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the shell ran part of a path";
  std::filesystem::remove_all(dir);
}

TEST(PermissionAdvice, KeepsThePlaceholderWithoutAFileToName) {
  const std::string generic(EchoPermissionAdvice());
  ASSERT_NE(generic.find("<program>"), std::string::npos);
  EXPECT_EQ(AdviceNamingProgram(generic, ""), generic);
  EXPECT_EQ(AdviceNamingProgram(generic, "/usr/bin/zn7qx-finder (deleted)"), generic);
}

}  // namespace
}  // namespace zn7qx
