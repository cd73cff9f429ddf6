#include "app/zn7qx-scan/Runs.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "net/mdlConvertIPForms.h"
#include "scan/Metrics.h"
#include "scan/ScanOutput.h"
#include "scan/SiteConfig.h"
#include "scan/Watch.h"
#include "scan/WatchStateFile.h"

namespace zn7qx::cli {

using namespace zn7qx::scan;

SweepOptions::Hardware NeighbourLookUp(std::optional<linuxnet::NeighbourTable>& neighbours, const Voice& voice) {
  return [&neighbours, &voice](std::span<AddressResult> answers) {
    if (!neighbours) return;
    std::vector<std::uint32_t> addresses;
    std::vector<AddressResult*> answered;
    for (AddressResult& r : answers) {
      if (r.outcome == Outcome::Error || !r.mac.empty()) continue;  // none, or read off the link itself
      addresses.push_back(static_cast<std::uint32_t>(NumericToNetwork(r.address)));
      answered.push_back(&r);
    }
    if (addresses.empty()) return;
    const auto found = neighbours->LookUp(addresses);
    if (!found) {
      voice.Say("cannot read the kernel's neighbour table (" + neighbours->error() + "): no hardware addresses", 4);
      neighbours.reset();
      return;
    }
    for (std::size_t i = 0; i < answered.size(); ++i) answered[i]->mac = (*found)[i];
  };
}

int Watch(const Request& r, const Plan& plan, EchoTransport& transport, SweepOptions sweep, const Voice& voice) {
  sweep.progress = nullptr;
  WatchOptions watch;
  watch.interval = plan.interval;
  const Format format = r.json ? Format::Json : Format::Text;
  // In the journal each line carries its priority: a unit gone silent is a
  // warning, one moved or changed a notice.
  const bool journal = StandardOutputIsTheJournal();
  const auto writeChanges = [&](const std::vector<Change>& changes, std::int64_t number) {
    const std::string time = IsoTime(std::time(nullptr));
    errno = 0;
    for (const Change& c : changes) {
      if (journal) std::cout << '<' << JournalPriority(c.event) << '>';
      WriteChange(std::cout, c, format, time, number);
    }
    return WrittenOut();
  };
  // The units a watch before this one knew, said once when they cannot be had.
  std::string saved;
  if (!r.statePath.empty()) {
    LoadedUnits loaded = LoadUnits(r.statePath);
    if (loaded.problem.empty()) {
      watch.start = std::move(loaded.state);
      saved = SavedUnits(watch.start);
    } else {
      voice.Say(loaded.problem, loaded.missing ? 5 : 4);
    }
  }
  std::optional<WatchMetrics> metrics;
  // A site's file names the site in every series.
  if (!r.metricsPath.empty()) metrics.emplace(r.sitePath.empty() ? "" : SiteName(r.sitePath));
  watch.afterSweep = [&](const SweepDone& done) {
    if (!done.changes.empty()) {
      voice.Clear();
      if (!writeChanges(done.changes, done.number)) return false;
    }
    if (metrics) {
      metrics->Update(done, transport.Now(),
                      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
      if (const std::string problem = ReplaceFile(r.metricsPath, metrics->Text()); !problem.empty()) {
        voice.Say(problem);
        return false;
      }
    }
    if (!r.statePath.empty()) {
      if (std::string units = SavedUnits(done.state); units != saved) {
        if (const std::string problem = ReplaceFile(r.statePath, units); !problem.empty()) {
          voice.Say(problem);
          return false;
        }
        saved = std::move(units);
      }
    }
    if (voice.progress) std::cerr << "\r\033[K" << WatchStatusLine(done.number, done.state.Count()) << std::flush;
    return true;
  };
  watch.tooSlow = [&](std::chrono::microseconds took) {
    char text[200];
    std::snprintf(text, sizeof text, "a sweep of %lld addresses took %.1f s, longer than the %g s between sweeps: "
                  "the next ones follow at once", static_cast<long long>(plan.count),
                  static_cast<double>(took.count()) / 1e6, static_cast<double>(plan.interval.count()) / 1e6);
    voice.Say(text, 4);
  };
  int ended = kExitWriteFailed;
  watch.failed = [&](const std::string& why) {
    voice.Say("the watch stopped: " + why);
    ended = kExitLinkFailed;
  };
  std::int64_t sweeps = 0;
  const WatchState state = RunWatch(plan.merged, transport, sweep, watch, &sweeps);
  voice.Clear();
  // The units present, unless the output already failed.
  if (WrittenOut()) (void)writeChanges(state.Present(), sweeps);
  if (!r.quiet)
    std::cerr << StandardErrorPriority(6) << "Watch ended after " << sweeps << " sweep(s): " << state.Count() << " ZN7QX unit(s) present.\n";
  return ended;  // a watch ends by a signal, when it cannot write, or when its link went away
}

int SweepOnce(const Request& r, const Plan& plan, EchoTransport& transport, const SweepOptions& sweep,
              const Voice& voice) {
  const SweepResult result = RunSweep(plan.merged, transport, sweep);
  voice.Clear();
  OutputOptions output;
  output.all = r.all;
  output.mac = r.mac || r.all;  // a full listing names what answered
  output.format = r.json ? Format::Json : r.csv ? Format::Csv : Format::Text;
  errno = 0;
  WriteResults(std::cout, result, plan.merged, output);
  const bool wroteAll = WrittenOut();
  if (!r.quiet) std::cerr << StandardErrorPriority(6) << SummaryLine(result.counts) << '\n';
  if (!wroteAll) return kExitWriteFailed;
  if (!result.failure.empty()) return Fail(kExitLinkFailed, "the sweep stopped short: " + result.failure);
  return result.counts.units > 0 ? kExitUnits : kExitNoUnits;
}

}  // namespace zn7qx::cli
