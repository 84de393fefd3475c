#pragma once

namespace helpertool {

// The tool as its own keeper, what launchd is to a "KeepAlive" job: it holds
// the service's listening socket for good and runs the serving tool (this
// executable with `serverArguments`, the socket as descriptor 3). A server
// killed by a signal or ended with a failure is started again at once, then
// with growing pauses while it keeps dying young, until the keeper gives
// up. A server that ends normally ends the keeper; SIGTERM or SIGINT (which
// the caller has blocked) is passed on to the server and ends both. Clients
// meanwhile wait in the socket's queue, so none finds the service gone.
// Returns the exit status.
int keepAlive(char **serverArguments);

} // namespace helpertool
