#pragma once

namespace velk::agent {

// The desktop agent from start to end: the Qt application, the single-instance
// guard (a second agent on the same port ends at once with 0 and writes
// nothing), the log, the agent's objects, the launch mode, the event loop and
// the ordered shut-down. Returns the process exit code. argc must outlive the
// call (the Qt application keeps a reference to it).
int runDesktopAgent(int& argc, char** argv);

}  // namespace velk::agent
