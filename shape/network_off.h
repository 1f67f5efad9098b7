// Shutting a process off from the network: the reader of vector files never fetches anything, what
// ever a file names (a /vsicurl/ source, a link to a coordinate system, a schema).
#pragma once

// From here on this process and its children cannot open a socket other than a local (Unix)
// one. False when the system cannot confine it (then the drivers and paths taken are the only
// guard).
bool TurnNetworkOff();
