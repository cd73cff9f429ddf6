// The scan pace of the real window over the real probe, inside the simulated
// network of bench-network.json: one scan of answering addresses (ideal
// N x 100 ms, the timer's pace) and one of silent ones (ideal N x 300 ms, the
// probe's time-out). Prints measured against ideal, and what a probe costs.
// With --reader COMMAND (a screen reader, tools/screen-reader/reader.py),
// each scan runs again while the reader reads the window over and over, and
// the two paces are compared. With --scans N, then N scans of eight answering
// addresses in a row, and the descriptors, resident set and live heap before
// and after them. Run it through run.sh, which builds the isolated
// network (and with --reader the accessibility bus) around it.

#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "tools/bench-common/ProcessFigures.h"
#include "tools/zn7qx-sim/NamespaceCheck.h"
#include "ui/AppInfo.h"
#include "ui/ScanSeams.h"
#include "ui/frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;

// bench-network.json: units at .2-.61, ordinary hosts at .62-.121, the rest silent.
constexpr int kFirstAnswering = 2;
constexpr int kUnitCount = 60;
constexpr int kAnsweringCount = 120;
constexpr int kFirstSilent = 130;
constexpr int kSilentCount = 125;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct ProbeCost {
  int probes = 0;
  double cpuSeconds = 0;
};

struct Phase {
  const char* name;
  int first, count, idealMsPerAddress, expectedUnits, expectedOthers;
};

std::string Address(int last) { return "198.18.0." + std::to_string(last); }

// One scan to its summary; false when it did not end in time.
bool Scan(zn7qx::frmMain& window, const Phase& phase, double ideal) {
  window.txtIpAddrStart->setText(QString::fromStdString(Address(phase.first)));
  window.txtIpAddrEnd->setText(QString::fromStdString(Address(phase.first + phase.count - 1)));
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(ideal * 3000) + 5000);
  window.cmdBeginScan->click();
  while (!window.lblStatus->text().startsWith(QStringLiteral("Completed scanning.")) && Clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return Clock::now() < deadline;
}

bool RunQuietly(zn7qx::frmMain& window, const Phase& phase, ProbeCost& cost) {
  const int probes = cost.probes;
  return Scan(window, phase, phase.count * phase.idealMsPerAddress / 1000.0) && cost.probes - probes == phase.count &&
         window.lstIpZN7QX->count() == phase.expectedUnits;
}

bool RunPhase(zn7qx::frmMain& window, const Phase& phase, ProbeCost& cost, const char* how, double& measured) {
  const ProbeCost before = cost;
  const double cpuBefore = ThreadCpuSeconds();
  const long rssBefore = ResidentKiB();
  const double ideal = phase.count * phase.idealMsPerAddress / 1000.0;
  const auto start = Clock::now();
  (void)Scan(window, phase, ideal);
  measured = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  const long rssAfter = ResidentKiB();

  const int probes = cost.probes - before.probes;
  const int units = phase.expectedUnits == 0 && window.lstIpZN7QX->count() == 1 &&
                            window.lstIpZN7QX->item(0)->text() == QStringLiteral("No units found.")
                        ? 0
                        : window.lstIpZN7QX->count();
  const int others = window.lstIpOther->count();
  std::printf("%-9s %3d addresses%s: measured %7.3f s, ideal %7.3f s (N x %d ms), measured/ideal %.3f\n",
              phase.name, phase.count, how, measured, ideal, phase.idealMsPerAddress, measured / ideal);
  if (probes > 0) {
    std::printf("%-9s per probe: %.1f us CPU in Ping, %.1f us CPU per tick in all, RSS %+ld KiB over the scan\n", "",
                (cost.cpuSeconds - before.cpuSeconds) / probes * 1e6, cpu / probes * 1e6, rssAfter - rssBefore);
  }
  const bool ok = probes == phase.count && units == phase.expectedUnits && others == phase.expectedOthers;
  if (!ok) {
    std::fprintf(stderr, "bench-window: %s scan probed %d (expected %d), found %d units (expected %d), %d others (expected %d): %s\n",
                 phase.name, probes, phase.count, units, phase.expectedUnits, others, phase.expectedOthers,
                 window.lblStatus->text().toStdString().c_str());
  }
  return ok;
}

// A screen reader reading the window over and over, which the window answers
// while it scans.
class Reader {
 public:
  explicit Reader(QString command) : command_(std::move(command)) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  }
  // Started, and past its first whole reading.
  bool Start() {
    output_.clear();
    QStringList words = QProcess::splitCommand(command_);
    if (words.isEmpty()) return false;
    const QString program = words.takeFirst();
    process_.start(program, words);
    return process_.waitForStarted(5000) && Until([&] { return output_.contains("reading\n"); });
  }
  // What it says of its readings.
  std::string Stop() {
    process_.terminate();
    Until([&] { return process_.state() == QProcess::NotRunning; });
    output_ += process_.readAllStandardOutput();
    return output_.trimmed().split('\n').last().toStdString();
  }

 private:
  // The window answers the reader meanwhile.
  bool Until(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      output_ += process_.readAllStandardOutput();
    }
    return done();
  }

  QString command_;
  QProcess process_;
  QByteArray output_;
};

// Many scans in a row leave no descriptor, resident memory or heap behind.
bool LongRun(zn7qx::frmMain& window, int scans, ProbeCost& cost) {
  using namespace zn7qx::bench;
  const Phase phase{"long run", kFirstAnswering, 8, 100, 8, 0};
  ProbeCost quiet;
  // Two scans first fill the caches that stay (allocator arenas, fonts).
  for (int i = 0; i < 2; ++i) (void)RunQuietly(window, phase, quiet);
  const int fds = OpenDescriptors();
  const long rss = VmRssKiB();
  const std::size_t heap = LiveHeapBytes();
  bool ok = true;
  for (int i = 0; i < scans; ++i) ok = RunQuietly(window, phase, cost) && ok;
  std::printf("long run: %d scans of %d addresses: descriptors %d -> %d, VmRSS %ld -> %ld KiB, live heap %zu -> %zu "
              "bytes\n",
              scans, phase.count, fds, OpenDescriptors(), rss, VmRssKiB(), heap, LiveHeapBytes());
  return ok && OpenDescriptors() == fds;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("bench-window"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Scan pace of the real window in the simulated network"));
  parser.addHelpOption();
  const QCommandLineOption answeringOption(QStringLiteral("answering"),
                                           QStringLiteral("answering addresses to scan (1-120, default 100)"),
                                           QStringLiteral("N"), QStringLiteral("100"));
  const QCommandLineOption silentOption(QStringLiteral("silent"),
                                        QStringLiteral("silent addresses to scan (1-125, default 20)"),
                                        QStringLiteral("N"), QStringLiteral("20"));
  const QCommandLineOption scansOption(QStringLiteral("scans"),
                                       QStringLiteral("then this many scans in a row for the long run (0-1000, "
                                                      "default 0)"),
                                       QStringLiteral("N"), QStringLiteral("0"));
  const QCommandLineOption readerOption(QStringLiteral("reader"),
                                        QStringLiteral("a screen reader's command: each scan runs again while it "
                                                       "reads the window"),
                                        QStringLiteral("COMMAND"));
  parser.addOption(readerOption);
  parser.addOption(answeringOption);
  parser.addOption(silentOption);
  parser.addOption(scansOption);
  parser.process(app);
  bool okAnswering = false, okSilent = false, okScans = false;
  const int answering = parser.value(answeringOption).toInt(&okAnswering);
  const int silent = parser.value(silentOption).toInt(&okSilent);
  const int scans = parser.value(scansOption).toInt(&okScans);
  if (!okAnswering || !okSilent || !okScans || answering < 1 || answering > kAnsweringCount || silent < 1 ||
      silent > kSilentCount || scans < 0 || scans > 1000) {
    std::fprintf(stderr, "bench-window: --answering takes 1 to %d, --silent 1 to %d, --scans 0 to 1000\n",
                 kAnsweringCount, kSilentCount);
    return 2;
  }

  zn7qx::sim::ExitUnlessIsolated("bench-window");
  if (!zn7qx::EchoPermitted()) {
    std::fprintf(stderr, "bench-window: ICMP echo is not permitted here; nothing to measure\n%s\n",
                 std::string(zn7qx::EchoPermissionAdvice()).c_str());
    return 77;
  }

  ProbeCost cost;
  zn7qx::ScanSeams seams = zn7qx::RealSeams();
  auto ping = seams.ping;
  seams.ping = [&cost, ping](const std::string& address, zn7qx::ICMP_ECHO_REPLY& reply,
                             const zn7qx::PingWaitHook& whileWaiting) {
    const double before = ThreadCpuSeconds();
    const std::int32_t status = ping(address, reply, whileWaiting);
    cost.cpuSeconds += ThreadCpuSeconds() - before;
    ++cost.probes;
    return status;
  };
  zn7qx::frmMain window(std::move(seams));
  window.SetMessagePresenter([](QWidget*, const zn7qx::MessageBoxRequest& request) {
    std::fprintf(stderr, "bench-window: message box \"%s\": %s\n", request.title.c_str(), request.text.c_str());
  });
  window.show();

  const int units = answering < kUnitCount ? answering : kUnitCount;
  const Phase phases[] = {
      {"answering", kFirstAnswering, answering, 100, units, answering - units},
      {"silent", kFirstSilent, silent, zn7qx::PingTimeoutMs, 0, 0},
  };
  std::unique_ptr<Reader> reader;
  if (parser.isSet(readerOption)) reader = std::make_unique<Reader>(parser.value(readerOption));
  bool ok = true;
  for (const Phase& phase : phases) {
    double without = 0, with = 0;
    ok = RunPhase(window, phase, cost, "", without) && ok;
    if (!reader) continue;
    if (!reader->Start()) {
      std::fprintf(stderr, "bench-window: the reader did not start reading\n");
      return 1;
    }
    ok = RunPhase(window, phase, cost, " with a reader", with) && ok;
    const std::string said = reader->Stop();
    std::printf("%-9s with a reader / without: %.3f (%s)\n", phase.name, with / without, said.c_str());
  }
  if (reader) {
    // How fast the window answers is shown here; the accessibility test
    // checks only what a busy machine cannot break.
    std::printf("goals with a reader: a ratio near 1 (the scan keeps its pace), each answer under 50 ms, each whole "
                "reading under 1 s while the list is short (the silent scan)\n");
  }
  if (scans > 0) ok = LongRun(window, scans, cost) && ok;
  std::printf("memory: peak RSS %ld KiB after %d probes\n", PeakKiB(), cost.probes);
  window.close();
  return ok ? 0 : 1;
}
