#include "ui/ScanController.h"

#include <string_view>
#include <utility>

#include "net/UnitReply.h"
#include "ui/AppInfo.h"

namespace zn7qx {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kNoUnitsFound = "No units found.";
constexpr std::string_view kCanceledNoUnitsFound = "Scan canceled. No units found.";

// The units listed: every item but the two placeholders, which no unit's item
// (an address, ": " and its text) can equal.
int UnitCount(const TextList& units) {
  int count = 0;
  for (int i = 0; i < units.Count(); ++i) {
    const std::string item = units.Item(i);
    if (item != kNoUnitsFound && item != kCanceledNoUnitsFound) ++count;
  }
  return count;
}

std::string RangeSize(NumericAddress count) {
  return std::string("(The range selected contains ") + std::to_string(count) + " addresses.)";
}

}  // namespace

ScanController::ScanController(ScanView& view, ScanSeams seams) : view_(view), seams_(std::move(seams)) {}

ScanController::~ScanController() { OnClose(); }

void ScanController::ShowCritical(const std::string& title, const std::string& text) {
  view_.ShowMessage({title, text, MessageIcon::Critical});
}

void ScanController::BeginScan() {
  view_.Queue().Clear();
  view_.Units().Clear();
  view_.Others().Clear();
  view_.SetStatusText("Beginning Scan...");

  const NetworkAddress start = DottedToNetwork(view_.StartText());
  if (!IsUsableAddress(start)) {
    ShowCritical("Start Address Incorrect",
                 std::string("The format of the start address is incorrect.") + std::string(kCrLf) +
                     "Format should be like: 192.168.1.1" + std::string(kCrLf) +
                     "Also, the address cannot be 0.0.0.0 or 255.255.255.255");
    return;
  }
  const NetworkAddress end = DottedToNetwork(view_.EndText());
  if (!IsUsableAddress(end)) {
    ShowCritical("End Address Incorrect",
                 std::string("The format of the end address is incorrect.") + std::string(kCrLf) +
                     "Format should be like: 192.168.1.255" + std::string(kCrLf) +
                     "Also, the address cannot be 0.0.0.0 or 255.255.255.255");
    return;
  }

  const NumericAddress first = NetworkToNumeric(start);
  const NumericAddress last = NetworkToNumeric(end);
  const NumericAddress count = last - first + 1;
  if (count > kMaxScanAddresses) {
    ShowCritical("Too Many Addresses", std::string("Please select a range containing no more than 512 addresses.") +
                                           std::string(kCrLf) + RangeSize(count));
    return;
  }
  if (count < 1) {
    ShowCritical("Too Many Addresses", std::string("Please select a range containing at least one address.") +
                                           std::string(kCrLf) + RangeSize(count));
    return;
  }

  TextList& queue = view_.Queue();
  for (NumericAddress n = first; n <= last; ++n) queue.Append(NetworkToDotted(NumericToNetwork(n)));
}

void ScanController::CancelScan() {
  view_.Queue().Clear();
  TextList& units = view_.Units();
  view_.SetStatusText("Scan canceled. Found " + std::to_string(UnitCount(units)) + " ZN7QX unit(s).");
  if (units.Count() == 0) units.Append(std::string(kCanceledNoUnitsFound));
}

void ScanController::PingTick(int index) {
  TextList& queue = view_.Queue();
  if (queue.Count() > 0) {
    view_.SetLastErrorText("");
    if (!seams_.socketsInitialize()) {
      // Nothing was probed, so no completion summary: it would read as an
      // empty network searched.
      view_.SetStatusText("Windows Sockets not responding correctly.");
      queue.Clear();
    } else {
      const std::string address = queue.Item(0);
      queue.Remove(0);
      view_.SetStatusText("Pinging " + address + ". Addresses remaining: " + std::to_string(queue.Count()));

      ICMP_ECHO_REPLY reply{};
      const std::int32_t status = seams_.ping(address, reply, view_.WhileProbeWaits());
      if (status == IP_SUCCESS) {
        const std::string_view data(reply.Data, sizeof reply.Data);
        if (auto text = UnitTextFromReply(data)) {
          view_.Units().Append(address + ": " + *text);
        } else {
          view_.Others().Append(address);
        }
      } else if (status != IP_REQ_TIMED_OUT) {
        view_.SetLastErrorText("Last ping error: " + seams_.statusText(status));
      }
      seams_.socketsCleanup();

      if (queue.Count() == 0) {
        TextList& units = view_.Units();
        if (units.Count() > 0) {
          view_.SetStatusText("Completed scanning. " + std::to_string(units.Count()) + " ZN7QX unit(s) found.");
        } else {
          view_.SetStatusText("Completed scanning. No ZN7QX units found.");
          units.Append(std::string(kNoUnitsFound));
        }
      }
    }
  }
  view_.SetTimerEnabled(index);
}

void ScanController::SetDefaultRange() {
  const NumericAddress mask = seams_.localSubnetMask();
  const NumericAddress ip = seams_.localIPAddress();
  const SubnetEnds subnet = SubnetOf(mask, ip);
  view_.SetStartText(NetworkToDotted(subnet.network));
  view_.SetEndText(NetworkToDotted(subnet.broadcast));
}

void ScanController::OnOpen() {
  if (open_) return;
  open_ = true;
  seams_.setIPInfoMessageSink([this](const std::string& text) {
    view_.ShowMessage({std::string(kApplicationName), text, MessageIcon::None});
  });
  seams_.socketsInitialize();
  SetDefaultRange();
}

void ScanController::NotifyIfEchoNotPermitted() {
  if (seams_.echoPermitted()) return;
  view_.ShowMessage({std::string(kApplicationName),
                     "ICMP echo is not permitted for this user, so a scan could not reach any unit." +
                         std::string(kCrLf) + seams_.echoPermissionAdvice(),
                     MessageIcon::Warning});
}

void ScanController::OnClose() {
  if (!open_) return;
  open_ = false;
  // A scan ends with the window: nothing is left to probe once the sockets go.
  view_.Queue().Clear();
  seams_.socketsCleanup();
  seams_.setIPInfoMessageSink(nullptr);
}

}  // namespace zn7qx
