// The index service of this process: one per process, as there is one
// engine per process. The window and `qvsearch --serve` start it where
// they hand the engine its listener, and stop it before they let the
// engine go.
#pragma once

#include <functional>
#include <string>

#include "IQvSearch.h"

namespace qvServiceHost {

// Initialises `engine` with the service's listener in front of `ownerSink`
// and `ownerList` (either may be null), then answers on the socket in
// qvService::SocketFolder(). `restoreOwner`, when given, is called after
// the service searched, to put the owner's own query back (from the
// service's thread). The engine is initialised even when the service
// cannot listen: false then, with the reason (`busy`: another process
// serves already).
bool Start(IQvSearch* engine, IQvSearchNotify* ownerSink, IQvListWindow* ownerList,
           std::function<void()> restoreOwner = {}, std::string* error = nullptr, bool* busy = nullptr);

// Stops answering and removes the socket; the engine is left as it is.
void Stop();

// The socket the service answers on; empty when it does not run.
std::string Path();

}  // namespace qvServiceHost
