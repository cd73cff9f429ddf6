// Prints why this network namespace is not isolated (exit 3), or nothing
// (exit 0). For scripts that check the check.
#include <cstdio>

#include "tests/support/IsolationCheck.h"

int main() {
  const std::string problem = zn7qx::testsupport::IsolationProblem();
  if (problem.empty()) return 0;
  std::printf("%s\n", problem.c_str());
  return 3;
}
