// The "network" script library: TCP connections and servers, UDP objects,
// host look-ups, URL transfers, the network time-out and the on-line test.
// The handlers are thin layers over libs/network/socket_layer.h.
#pragma once

#include <cstdint>

#include "core/vm/library_glue.h"

struct VmState;

extern const CommandTableEntry kNetworkCommands[];
extern const ConstantTableEntry kNetworkConstants[];

// Registers the commands, records the library as "network", registers its
// constants and the server, connection and UDP lists. 0 or ERR_MEM.
uint32_t RegisterNetworkLibrary(VmState* vm);

// The host and port IsOnline probes, from QUILLMERE_ONLINE_PROBE ("host:port"
// or "off") or the built-in public host. False when probing is switched off.
bool GetOnlineProbe(char* host, size_t hostSize, uint32_t* port);
