// Whether a core of this machine stands idle right now, for a scan about
// to offer its helper a share.
//
// When every core is busy, the helper does not make a scan faster: the
// kernel wakes it on the scan's own core, or on a core where it is taken
// off again while it holds a page the scan must then wait for; either way
// the scan ends later than it would alone. The kernel's count of threads
// running or ready to run (the fourth field of /proc/loadavg, "ready/all")
// tells in one read whether a core is left over; the scan's own thread is
// one of them.
#pragma once

#include <string_view>

namespace qvIdleCore {

// True when fewer threads are running or ready to run than the machine
// has cores online, and when that cannot be told (no /proc).
bool Available();

// The count of threads running or ready in the text of /proc/loadavg; -1
// when the text holds none.
long RunnableIn(std::string_view loadavg);

}  // namespace qvIdleCore
