#pragma once
// The two things the program does with a plan: one sweep with its results,
// or a watch that writes what changed.

#include <optional>

#include "app/zn7qx-scan/Console.h"
#include "app/zn7qx-scan/Plan.h"
#include "app/zn7qx-scan/Request.h"
#include "net/linux/Neighbours.h"
#include "scan/SocketTransport.h"
#include "scan/Sweep.h"

namespace zn7qx::cli {

// Fills in the hardware addresses of answers from the kernel's neighbour
// table; says once when it cannot be read, and goes on without.
scan::SweepOptions::Hardware NeighbourLookUp(std::optional<linuxnet::NeighbourTable>& neighbours, const Voice& voice);

// Sweeps again and again and writes what changed (and the metrics), until a
// signal or a failed write ends it.
int Watch(const Request& r, const Plan& plan, scan::EchoTransport& transport, scan::SweepOptions sweep,
          const Voice& voice);

// One sweep, its results written in the format asked for.
int SweepOnce(const Request& r, const Plan& plan, scan::EchoTransport& transport, const scan::SweepOptions& sweep,
              const Voice& voice);

}  // namespace zn7qx::cli
