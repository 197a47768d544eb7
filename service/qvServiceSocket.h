// Where the index service listens, and the two ends of its socket: a
// folder of the user's own (0700) under $XDG_RUNTIME_DIR, a socket in it
// (0600), and a lock beside it held by the one process that serves.
#pragma once

#include <sys/types.h>

#include <string>

namespace qvService {

// $XDG_RUNTIME_DIR/qvsearch/, or /tmp/qvsearch-UID/ without it; ends in '/'.
std::string SocketFolder();
// SocketFolder() + "qvsearch.sock".
std::string SocketPath();

// Makes the folder (0700) when missing and checks that it is a folder of
// this user that no one else may enter; false with the reason.
bool PrepareSocketFolder(const std::string& folder, std::string* error);

// The listening end: takes the lock beside the socket, replaces a socket
// left by a process that ended, binds and listens (non-blocking, 0600).
// Returns the socket, or -1 with the reason; `busy` tells that another
// process holds the lock (it serves already). `lockFd` receives the
// lock's descriptor, held as long as the service runs.
int ListenOn(const std::string& folder, int* lockFd, bool* busy, std::string* error);

// The client's end: connects to the socket in `folder` and checks that the
// process on the other side is of this user. -1 with the reason.
int ConnectTo(const std::string& folder, std::string* error);

// The user id of the process on the other end of a connected socket, or
// -1 when the system does not tell.
long PeerUid(int fd, pid_t* pid = nullptr);

}  // namespace qvService
