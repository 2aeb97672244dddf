// Drops the connection of a request without sending a byte. The HTTP library
// always writes a status line once a handler returns, so a request that is
// never to be answered has its socket shut down first.
#pragma once

namespace devserver {

// Shuts down the accepted socket whose local and remote ports are these;
// returns whether one was found.
bool shutDownConnection(int localPort, int remotePort);

}  // namespace devserver
