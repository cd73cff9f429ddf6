#pragma once
// The window as a screen reader sees it: the widgets it shows, and not the
// queue, the other hosts' list and their headings, which lie beyond its edge
// and are never shown; a reader need not wade through the hundreds of
// addresses a scan queues, taken off one a tick.

namespace zn7qx {

// Once, before the first window is read.
void InstallAccessibleWindow();

}  // namespace zn7qx
