// Starting another program without ever waiting for it.
#pragma once

#include <string>
#include <vector>

namespace qvSpawn {

// Starts argv[0] (looked up on $PATH when it has no '/') with the given
// arguments, in `workDir` when that is not empty. The program runs in a
// session of its own with default signal handling, no descriptors of ours
// beyond standard input, output and error, and init as its parent: we
// never wait for it and it never becomes a zombie of ours. True once the
// program has been executed; false when it could not be found or started.
bool StartDetached(const std::vector<std::string>& argv,
                   const std::string& workDir = std::string());

// The file that would be run for `program`: itself when it contains a '/',
// else the first executable regular file of that name along $PATH; empty
// when there is none.
std::string FindProgram(const std::string& program);

}  // namespace qvSpawn
