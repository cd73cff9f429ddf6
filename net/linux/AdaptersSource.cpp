#include "net/linux/AdaptersSource.h"

#include <utility>

namespace zn7qx::linuxnet {

namespace {
AdapterSource& Installed() {
  static AdapterSource source;
  return source;
}
}  // namespace

void SetAdapterSource(AdapterSource source) { Installed() = std::move(source); }

AdapterListing FetchAdapters() {
  const AdapterSource& source = Installed();
  return source ? source() : ListAdapters();
}

}  // namespace zn7qx::linuxnet
