#pragma once
// Where interface discovery gets its adapter list: the real listing, or, in
// tests, a scripted one.

#include <functional>

#include "net/linux/Adapters.h"

namespace zn7qx::linuxnet {

using AdapterSource = std::function<AdapterListing()>;

// An empty source restores ListAdapters.
void SetAdapterSource(AdapterSource source);
AdapterListing FetchAdapters();

}  // namespace zn7qx::linuxnet
