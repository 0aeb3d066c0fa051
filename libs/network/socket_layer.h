// The network library's engine room: socket records with their receive
// buffer and time-outs, the script objects built on them (connections,
// servers, UDP objects on the object registry), buffered sends and receives
// that poll with 1 ms sleeps while pumping the script's events, the
// status and receive callbacks into the script, and the polling hooks
// through which the event check turns network activity into events.
//
// Script thread only; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/services/object_registry.h"
#include "platform/posix/os_net.h"

struct VmState;
struct StreamHandle;

constexpr uint32_t SOCKET_BUFFER_SIZE = 8192;

struct SocketRecord;

// The operations of a socket: stream send, stream receive, error text.
struct SocketIo {
    SocketRecord* context;
    int (*send)(SocketRecord* record, const void* data, size_t length, size_t* outDone);
    int (*receive)(SocketRecord* record, void* buffer, size_t size, size_t* outDone);
    const char* (*errorText)(int code);
};

struct SocketBuffer {
    double created;      // seconds since 1970
    uint32_t bytesSent;
    uint32_t bytesReceived;
    SocketIo* io;
    NetTimeout* timeout;
    uint32_t first;      // first unread byte
    uint32_t last;       // end of the buffered bytes
    uint8_t data[SOCKET_BUFFER_SIZE];
};

struct SocketRecord {
    int descriptor;
    SocketIo io;
    SocketBuffer buffer;
    NetTimeout timeout;
};

struct UdpSocketRecord {
    int descriptor;
    NetTimeout timeout;
    uint8_t data[SOCKET_BUFFER_SIZE];
};

struct Connection {
    ObjectHeader header;
    SocketRecord* socket;
    uint32_t dataArrived;
    uint32_t closed;
    uint32_t statusArmed;
    uint64_t statusCount;  // bytes moved; transfers may pass 4 GiB
    uint64_t statusTotal;
    uint32_t statusUserdata;
    uint32_t statusAction;
    uint32_t heldByTransfer;  // the script may not close it (RemoveConnection: ERR_LOCKEDOBJ)
};

struct Server {
    ObjectHeader header;
    SocketRecord* socket;
};

struct UDPObject {
    ObjectHeader header;
    UdpSocketRecord* socket;
    uint32_t datagramWaiting;
};

extern int32_t NetworkTimeout;
extern bool NetworkStarted;
extern Connection* ConnectionList;
extern Server* ServerList;
extern UDPObject* UDPObjectList;

// The event check's cursors: the next record of each kind that it visits.
struct NetworkEventCursors {
    Server* server;
    Connection* connection;
    UDPObject* udp;
};
extern NetworkEventCursors NetworkCursors;

// 0 or ERR_OPENSOCKET: starts the platform socket layer once.
uint32_t StartNetwork();

uint32_t CreateSocketRecord(SocketRecord** out);
uint32_t CreateUdpSocketRecord(UdpSocketRecord** out);
// Gives a record an already open descriptor (non-blocking, io, buffer).
void InitSocketRecord(SocketRecord* record, int descriptor);
void FreeSocketRecord(SocketRecord* record);
void FreeUdpSocketRecord(UdpSocketRecord* record);

// `*id` with useHandle set gets the new record's handle. 0 or ERR_MEM (the
// socket record is then still the caller's).
uint32_t AddConnectionRecord(SocketRecord* record, ObjectId* id, bool useHandle, Connection** out);
uint32_t AddServerRecord(SocketRecord* record, ObjectId* id, bool useHandle);
uint32_t AddUDPRecord(UdpSocketRecord* record, ObjectId* id, bool useHandle);

uint32_t FindConnection(ObjectId id, Connection** out);
uint32_t FindServer(ObjectId id, Server** out);
uint32_t FindUDPObject(ObjectId id, UDPObject** out);
// A connection that a transfer holds is refused with ERR_LOCKEDOBJ.
uint32_t RemoveConnection(ObjectId id);
uint32_t RemoveServer(ObjectId id);
uint32_t RemoveUDPObject(ObjectId id);
bool IsConnectionListed(const Connection* connection);
// Removes one record that is known to be on its list.
void RemoveConnectionRecord(Connection* connection);

bool ParseDottedAddress(const char* text, uint32_t* outIp);
// Host byte order; a name goes through the resolver (first address).
int ResolveHost(const char* host, uint32_t* outIp, bool* outResolveFailed);
int ConnectSocketToHost(VmState* vm, SocketRecord* record, const char* host, uint32_t port, int32_t timeoutMs,
                        bool* outResolveFailed, uint32_t* outInterrupt);
// 0 with *outConnection, or an error code with its text stored.
uint32_t OpenTcpConnection(VmState* vm, const char* host, uint32_t port, ObjectId* id, bool useHandle,
                           Connection** outConnection);
int BindSocket(int* descriptor, const char* interfaceName, uint32_t port, bool* outResolveFailed);

// Sends everything, retrying every 1 ms while the socket is full, until
// NetworkTimeout ms pass without progress. Answers the last socket code.
int SendAllData(VmState* vm, Connection* connection, const uint8_t* data, size_t length, size_t* outSent,
                uint32_t* outStatus);
uint32_t SendDataChecked(VmState* vm, Connection* connection, const uint8_t* data, size_t length);

enum ReceiveMode : int32_t { RECEIVEALL = 0, RECEIVEBYTES = 1, RECEIVELINE = 2 };

// Where received bytes go; the first one set wins.
struct ReceiveTarget {
    StreamHandle* stream = nullptr;
    uint8_t** block = nullptr;       // OsAllocMem block; may be replaced in mode all
    size_t* blockSize = nullptr;
    // How mode all grows the block when it is not an OsAllocMem one: gives
    // it `size` bytes of room keeping its bytes (and updating *block and
    // *blockSize), or answers null, the block then left as it was.
    uint8_t* (*grow)(void* context, size_t size) = nullptr;
    void* growContext = nullptr;
    int callbackIndex = 0;           // stack index of a receive function
    int userdataIndex = 0;           // 0: none
    std::string* text = nullptr;     // the string form
};

struct ReceiveOutcome {
    size_t received;
    int socketCode;        // last socket code (0, -1, -2, errno)
    uint32_t stopCode;     // callback or delivery failure; 0 when none
    uint32_t pumpCode;     // what the event pump asked to report; 0 when none
    bool closedAfterData;  // mode all ended by the peer after at least one byte
    bool connectionGone;   // the script closed or replaced the connection meanwhile
};

// Sending and receiving call out (the status and receive callbacks, the
// event pump), and the script may close or replace the very connection
// meanwhile: the operation then ends as on a closed socket (-2) without
// touching the connection again.

void ReceiveSocketData(VmState* vm, Connection* connection, int32_t mode, size_t count, bool wait,
                       ReceiveTarget& target, ReceiveOutcome* outcome);
// The result for the stream and memory forms.
uint32_t ReceiveResultCode(const ReceiveOutcome& outcome, Connection* connection);

// Status callback at stack index 3 (userdata at 4) when armed.
uint32_t CallStatusCallback(VmState* vm, Connection* connection);

bool PollConnectionData(Connection* connection);
bool PollConnectionClosed(Connection* connection);
bool PollUDPData(UDPObject* udp);
bool AcceptConnection(Server* server, uintptr_t* outHandle);

// The network phase of the event check: posts OnConnect, OnReceiveData,
// OnDisconnect and OnReceiveUDPData for the objects whose handlers are
// installed.
void CheckNetworkEvents(VmState* vm);

void FreeNetwork(VmState* vm);
