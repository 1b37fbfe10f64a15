#pragma once

namespace velk::test {

// A loopback TCP port the system considers free right now, for a program
// started with that port; 0 when no port could be had.
int freePort();

}  // namespace velk::test
