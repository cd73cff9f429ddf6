#include "net/mdlGetIPInfo.h"

#include <iostream>
#include <string_view>
#include <utility>

#include "net/linux/AdaptersSource.h"

namespace zn7qx {

namespace {

// The IP helper's status for a machine without adapters (ERROR_NO_DATA).
constexpr int kNoAdapters = 232;

IPInfoMessageSink& Sink() {
  static IPInfoMessageSink sink;
  return sink;
}

void ShowMessage(std::string_view text, int status) {
  const std::string message = std::string(text) + std::to_string(status);
  if (const IPInfoMessageSink& sink = Sink()) {
    sink(message);
  } else {
    std::cerr << message << '\n';
  }
}

enum class Field { Mask, Address };

// Both operations: fetch the list afresh, take the first adapter whose
// address text parses to nonzero, and give the wanted field of it.
NumericAddress SelectedField(Field field) {
  NumericAddress result = 0;
  const linuxnet::AdapterListing listing = linuxnet::FetchAdapters();
  if (listing.status != 0) {
    ShowMessage("GetAdaptersInfo failed with error ", listing.status);
    return result;
  }
  if (listing.adapters.empty()) {
    ShowMessage("GetAdaptersInfo sizing failed with error ", kNoAdapters);
    return result;
  }
  for (const linuxnet::AdapterRecord& adapter : listing.adapters) {
    // Unparsable text gives -1, which is nonzero: such an adapter is taken.
    if (DottedToNetwork(adapter.IpAddress.Text()) == 0) continue;
    const auto& text = field == Field::Mask ? adapter.IpMask : adapter.IpAddress;
    result = NetworkToNumeric(DottedToNetwork(text.Text()));
    break;
  }
  return result;
}

}  // namespace

NumericAddress GetLocalSubnetMask() { return SelectedField(Field::Mask); }

NumericAddress GetLocalIPAddress() { return SelectedField(Field::Address); }

void SetIPInfoMessageSink(IPInfoMessageSink sink) { Sink() = std::move(sink); }

}  // namespace zn7qx
