// zn7qx-scan: finds ZN7QX units in one fast sweep of ICMP echo requests.

#include <iostream>
#include <optional>
#include <utility>

#include "app/zn7qx-scan/CommandLine.h"
#include "app/zn7qx-scan/Console.h"
#include "app/zn7qx-scan/OnLinkPath.h"
#include "app/zn7qx-scan/Plan.h"
#include "app/zn7qx-scan/Request.h"
#include "app/zn7qx-scan/Runs.h"
#include "net/ICMPPing.h"
#include "net/linux/EchoSocket.h"
#include "net/linux/Neighbours.h"
#include "net/linux/Privilege.h"
#include "scan/LinkTransport.h"
#include "scan/ScanOutput.h"
#include "scan/SocketTransport.h"
#include "scan/StopSignals.h"
#include "scan/Sweep.h"

using namespace zn7qx;
using namespace zn7qx::cli;
using namespace zn7qx::scan;

int main(int argc, char** argv) {
  // Under systemd every line of standard error is an error, unless marked.
  const JournalErrors journalErrors;
  // Nothing runs set-ID, not even the argument parser; the capabilities are
  // dropped below, once the socket is set up.
  linuxnet::RefuseSetIdStart("zn7qx-scan", kExitNotPermitted);
  Request request;
  if (const auto status = ParseCommandLine(argc, argv, request)) return *status;
  Plan plan;
  if (const auto status = MakePlan(request, plan)) return *status;

  linuxnet::EchoSocket socket = linuxnet::EchoSocket::Open();
  if (!socket) {
    std::cerr << "zn7qx-scan: ICMP echo is not permitted to this process.\n" << EchoPermissionAdvice() << '\n';
    return kExitNotPermitted;
  }
  EnlargeSocketBuffers(socket.fd());
  OnLinkPath onLink = PrepareOnLinkPath(plan, socket.identifier());
  // The sockets are open: nothing further needs any privilege.
  linuxnet::EnforceLeastPrivilege("zn7qx-scan", kExitNotPermitted);
  const StopSignals signals;

  const Voice voice{!request.quiet && TerminalDrawsProgress()};
  SweepOptions sweep = plan.sweep;
  sweep.stop = &signals.stop();
  if (voice.progress) sweep.progress = [](const SweepCounts& c) { std::cerr << "\r\033[K" << ProgressLine(c) << std::flush; };
  // Hardware addresses only where they are written.
  std::optional<linuxnet::NeighbourTable> neighbours;
  if (request.mac || request.all || request.json || request.csv || request.watching) neighbours.emplace();
  sweep.hardware = NeighbourLookUp(neighbours, voice);
  SocketTransport kernel(std::move(socket), &signals.waitMask());
  std::optional<LinkTransport> link;
  if (!onLink.links.empty()) {
    link.emplace(kernel, std::move(onLink.links), plan.sweep.timeout);
  } else {
    UseKernelResolution(onLink, sweep, voice);
  }
  EchoTransport& transport = link ? static_cast<EchoTransport&>(*link) : kernel;

  const int status = request.watching ? Watch(request, plan, transport, sweep, voice)
                                      : SweepOnce(request, plan, transport, sweep, voice);
  // After the output, a signal that came ends the program as its own would.
  signals.DieIfReceived();
  return status;
}
