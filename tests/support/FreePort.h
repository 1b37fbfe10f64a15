#pragma once

namespace velk::test {

// A loopback TCP port for a program started with that port; 0 when no port
// could be had. The port lies outside the range the system hands out for
// port 0 and for outgoing connections, so no server or client of a test
// running beside this one can take it between now and the program's bind,
// and it is held for every test of the machine that asks here until this
// process ends.
int freePort();

}  // namespace velk::test
