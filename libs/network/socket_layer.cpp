// Socket records, the connection, server and UDP object lists, and the
// polling send and receive loops. Every platform call is made with a zero
// time-out, so it returns at once; the waiting happens here, 1 ms at a
// time, with the script's events pumped once per round and the abort flag
// honoured through the pump.
#include "libs/network/socket_layer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/services/command_services.h"
#include "core/services/list_walks.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/event_handlers.h"
#include "display/event_library.h"
#include "display/events.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_time.h"

int32_t NetworkTimeout = 10000;
bool NetworkStarted = false;
Connection* ConnectionList = nullptr;
Server* ServerList = nullptr;
UDPObject* UDPObjectList = nullptr;
NetworkEventCursors NetworkCursors{};

namespace {

int IoSend(SocketRecord* record, const void* data, size_t length, size_t* outDone)
{
    return OsNetSend(record->descriptor, data, length, outDone, &record->timeout);
}

int IoReceive(SocketRecord* record, void* buffer, size_t size, size_t* outDone)
{
    return OsNetReceive(record->descriptor, buffer, size, outDone, &record->timeout);
}

template <typename T>
void AppendToList(T** head, T* record)
{
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(head);
    while (*link)
        link = &(*link)->next;
    *link = &record->header;
}

template <typename T>
void UnlinkFromList(T** head, T* record)
{
    ObjectHeader** link = reinterpret_cast<ObjectHeader**>(head);
    while (*link && *link != &record->header)
        link = &(*link)->next;
    if (*link)
        *link = record->header.next;
}

template <typename T>
T* FindInList(T* head, ObjectId id)
{
    for (ObjectHeader* h = head ? &head->header : nullptr; h; h = h->next) {
        if (h->id == id.id && h->handle == id.handle)
            return reinterpret_cast<T*>(h);
    }
    return nullptr;
}

uint32_t NotFound(ObjectId id, uint32_t code)
{
    if (id.handle)
        return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return code;
}

void FillHeader(ObjectHeader* header, uint32_t type, ObjectId* id, bool useHandle, void* record)
{
    header->type = type;
    if (useHandle)
        *id = ObjectId{0, reinterpret_cast<uintptr_t>(record)};
    header->id = id->id;
    header->handle = id->handle;
}

// Time since `since` passed the network time-out (0 means never).
bool TimedOut(double since)
{
    if (NetworkTimeout == 0)
        return false;
    return (OsGetEpochSeconds() - since) * 1000.0 > NetworkTimeout;
}

// Calls the function at `function` with one table built by `fill`, through
// the protected call, with the error-handler nesting raised for the call.
template <typename Fill>
uint32_t CallWithTable(VmState* vm, int function, Fill fill)
{
    int base = VmGetTop(vm);
    VmPushValue(vm, function);
    VmNewTable(vm);
    fill(VmGetTop(vm));
    CoreTags.errorHandlerNesting++;
    uint32_t failed = VmPCall(vm, 1, 1, 0);
    CoreTags.errorHandlerNesting--;
    if (failed) {
        VmSetTop(vm, base);
        return failed;
    }
    uint32_t outcome = 0;
    if (VmType(vm, -1) != VM_TNUMBER)
        outcome = ERR_NUMCALLBACK;
    else if (VmGetNumber(vm, -1) == 1 || VmAbortFlag.load())
        outcome = ERR_USERABORT;
    VmPop(vm, 1);
    return outcome;
}

void SetField(VmState* vm, int table, const char* key, double value)
{
    VmPushCString(vm, key);
    VmPushNumber(vm, value);
    VmRawSet(vm, table);
}

uint32_t CallReceiveCallback(VmState* vm, const ReceiveTarget& target, const uint8_t* data, size_t size,
                             size_t total)
{
    return CallWithTable(vm, target.callbackIndex, [&](int table) {
        SetField(vm, table, "action", 0);
        SetField(vm, table, "size", static_cast<double>(size));
        SetField(vm, table, "total", static_cast<double>(total));
        VmPushCString(vm, "data");
        VmPushLString(vm, reinterpret_cast<const char*>(data), size);
        VmRawSet(vm, table);
        if (target.userdataIndex) {
            VmPushCString(vm, "userdata");
            VmPushValue(vm, target.userdataIndex);
            VmRawSet(vm, table);
        }
    });
}

// Hands n bytes to the target; 0 or the code that ends the receive.
uint32_t Deliver(VmState* vm, int32_t mode, ReceiveTarget& target, const uint8_t* data, size_t n,
                 size_t receivedBefore)
{
    if (target.stream) {
        if (StreamWrite(target.stream, data, n) != n)
            return ERR_WRITE;
        return 0;
    }
    if (target.block) {
        size_t need = receivedBefore + n;
        if (mode == RECEIVELINE) {
            // A line that fills the block but for its terminating zero is
            // taken as too long: its end was never seen.
            if (need + 1 >= *target.blockSize)
                return ERR_MEM;
        } else if (need > *target.blockSize) {
            if (mode != RECEIVEALL)
                return ERR_MEM;
            // At least doubling, so that a body of unknown length costs
            // copies in proportion to its size, not to its square.
            size_t step = std::max(need - *target.blockSize, *target.blockSize);
            size_t grown = *target.blockSize + (step + 16383) / 16384 * 16384;
            if (target.grow) {
                if (!target.grow(target.growContext, grown))
                    return ERR_MEM;
            } else {
                auto* bigger = static_cast<uint8_t*>(OsAllocMem(grown, 0));
                if (!bigger)
                    return ERR_MEM;
                std::memcpy(bigger, *target.block, receivedBefore);
                OsFreeMem(*target.block);
                *target.block = bigger;
                *target.blockSize = grown;
            }
        }
        std::memcpy(*target.block + receivedBefore, data, n);
        return 0;
    }
    if (target.callbackIndex)
        return CallReceiveCallback(vm, target, data, n, receivedBefore + n);
    target.text->append(reinterpret_cast<const char*>(data), n);
    return 0;
}

// A round in which the socket could do nothing waits 1 ms, or less when the
// socket becomes ready (direction 1 read, 2 write) before that: the next
// round then finds it ready instead of sleeping through the data.
void IdleRound(int descriptor, int direction)
{
    NetTimeout oneMs{0.001, -1, 0};
    OsNetWait(descriptor, direction, &oneMs);
}

// Room in the target's block that the next bytes may be received into
// directly, bypassing the socket buffer: only in the modes that take bytes
// as they come, once the buffer is empty. Worth it from a buffer's worth up.
size_t DirectRoom(int32_t mode, const ReceiveTarget& target, const SocketBuffer* buffer, size_t count,
                  size_t received)
{
    constexpr size_t kMaxDirect = 1 << 20;
    if (buffer->first < buffer->last || target.stream || !target.block || !*target.block)
        return 0;
    if (mode != RECEIVEBYTES && mode != RECEIVEALL)
        return 0;
    size_t room = *target.blockSize > received ? *target.blockSize - received : 0;
    if (mode == RECEIVEBYTES)
        room = std::min(room, count - received);
    room = std::min(room, kMaxDirect);
    return room >= SOCKET_BUFFER_SIZE ? room : 0;
}

void Consume(SocketBuffer* buffer, uint32_t n)
{
    buffer->first += n;
    buffer->bytesReceived += n;
    if (buffer->first >= buffer->last)
        buffer->first = buffer->last = 0;
}

}  // namespace

uint32_t StartNetwork()
{
    if (!NetworkStarted) {
        if (!OsNetInit())
            return ERR_OPENSOCKET;
        NetworkStarted = true;
    }
    return 0;
}

void InitSocketRecord(SocketRecord* record, int descriptor)
{
    record->descriptor = descriptor;
    OsNetSetNonBlocking(descriptor);
    record->io = SocketIo{record, IoSend, IoReceive, OsNetErrorText};
    record->buffer.created = OsGetEpochSeconds();
    record->buffer.bytesSent = record->buffer.bytesReceived = 0;
    record->buffer.io = &record->io;
    record->buffer.timeout = &record->timeout;
    record->buffer.first = record->buffer.last = 0;
    record->timeout = NetTimeout{-1, -1, 0};
}

uint32_t CreateSocketRecord(SocketRecord** out)
{
    *out = nullptr;
    auto* record = static_cast<SocketRecord*>(OsAllocMem(sizeof(SocketRecord), 1));
    if (!record)
        return ERR_MEM;
    int descriptor;
    if (int code = OsNetSocket(&descriptor, AF_INET, SOCK_STREAM, 0)) {
        OsFreeMem(record);
        SetErrorText(OsNetErrorText(code));
        return ERR_SOCKET;
    }
    InitSocketRecord(record, descriptor);
    *out = record;
    return 0;
}

uint32_t CreateUdpSocketRecord(UdpSocketRecord** out)
{
    *out = nullptr;
    auto* record = static_cast<UdpSocketRecord*>(OsAllocMem(sizeof(UdpSocketRecord), 1));
    if (!record)
        return ERR_MEM;
    if (int code = OsNetSocket(&record->descriptor, AF_INET, SOCK_DGRAM, 0)) {
        OsFreeMem(record);
        SetErrorText(OsNetErrorText(code));
        return ERR_SOCKET;
    }
    OsNetSetNonBlocking(record->descriptor);
    record->timeout = NetTimeout{-1, -1, 0};
    *out = record;
    return 0;
}

void FreeSocketRecord(SocketRecord* record)
{
    if (!record)
        return;
    OsNetClose(&record->descriptor);
    FreeListRecord(record);
}

void FreeUdpSocketRecord(UdpSocketRecord* record)
{
    if (!record)
        return;
    OsNetClose(&record->descriptor);
    OsFreeMem(record);
}

uint32_t AddConnectionRecord(SocketRecord* record, ObjectId* id, bool useHandle, Connection** out)
{
    auto* connection = static_cast<Connection*>(OsAllocMem(sizeof(Connection), 1));
    if (!connection)
        return ERR_MEM;
    FillHeader(&connection->header, OBJ_CLIENT, id, useHandle, connection);
    connection->socket = record;
    record->timeout.block = record->timeout.total = 0;
    AppendToList(&ConnectionList, connection);
    if (out)
        *out = connection;
    return 0;
}

uint32_t AddServerRecord(SocketRecord* record, ObjectId* id, bool useHandle)
{
    auto* server = static_cast<Server*>(OsAllocMem(sizeof(Server), 1));
    if (!server)
        return ERR_MEM;
    FillHeader(&server->header, OBJ_SERVER, id, useHandle, server);
    server->socket = record;
    record->timeout.block = record->timeout.total = 0;
    AppendToList(&ServerList, server);
    return 0;
}

uint32_t AddUDPRecord(UdpSocketRecord* record, ObjectId* id, bool useHandle)
{
    auto* udp = static_cast<UDPObject*>(OsAllocMem(sizeof(UDPObject), 1));
    if (!udp)
        return ERR_MEM;
    FillHeader(&udp->header, OBJ_UDPOBJECT, id, useHandle, udp);
    udp->socket = record;
    record->timeout.block = record->timeout.total = 0;
    AppendToList(&UDPObjectList, udp);
    return 0;
}

uint32_t FindConnection(ObjectId id, Connection** out)
{
    *out = FindInList(ConnectionList, id);
    return *out ? 0 : NotFound(id, ERR_FINDCLIENT);
}

uint32_t FindServer(ObjectId id, Server** out)
{
    *out = FindInList(ServerList, id);
    return *out ? 0 : NotFound(id, ERR_FINDSERVER);
}

uint32_t FindUDPObject(ObjectId id, UDPObject** out)
{
    *out = FindInList(UDPObjectList, id);
    return *out ? 0 : NotFound(id, ERR_FINDUDPOBJECT);
}

bool IsConnectionListed(const Connection* connection)
{
    for (Connection* c = ConnectionList; c; c = reinterpret_cast<Connection*>(c->header.next)) {
        if (c == connection)
            return true;
    }
    return false;
}

void RemoveConnectionRecord(Connection* connection)
{
    UnlinkFromList(&ConnectionList, connection);
    if (NetworkCursors.connection == connection)
        NetworkCursors.connection = reinterpret_cast<Connection*>(connection->header.next);
    FreeSocketRecord(connection->socket);
    FreeListRecord(connection);
}

uint32_t RemoveConnection(ObjectId id)
{
    Connection* connection;
    if (uint32_t code = FindConnection(id, &connection))
        return code;
    if (connection->heldByTransfer)
        return ERR_LOCKEDOBJ;
    RemoveConnectionRecord(connection);
    return 0;
}

uint32_t RemoveServer(ObjectId id)
{
    Server* server;
    if (uint32_t code = FindServer(id, &server))
        return code;
    UnlinkFromList(&ServerList, server);
    if (NetworkCursors.server == server)
        NetworkCursors.server = reinterpret_cast<Server*>(server->header.next);
    FreeSocketRecord(server->socket);
    OsFreeMem(server);
    return 0;
}

uint32_t RemoveUDPObject(ObjectId id)
{
    UDPObject* udp;
    if (uint32_t code = FindUDPObject(id, &udp))
        return code;
    UnlinkFromList(&UDPObjectList, udp);
    if (NetworkCursors.udp == udp)
        NetworkCursors.udp = reinterpret_cast<UDPObject*>(udp->header.next);
    FreeUdpSocketRecord(udp->socket);
    OsFreeMem(udp);
    return 0;
}

bool ParseDottedAddress(const char* text, uint32_t* outIp)
{
    uint32_t ip = 0;
    const char* p = text;
    for (int part = 0; part < 4; part++) {
        if (part > 0) {
            if (*p != '.')
                return false;
            p++;
        }
        if (*p < '0' || *p > '9')
            return false;
        uint32_t value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<uint32_t>(*p++ - '0');
            if (++digits > 3 || value > 255)
                return false;
        }
        ip = ip << 8 | value;
    }
    if (*p)
        return false;
    *outIp = ip;
    return true;
}

int ResolveHost(const char* host, uint32_t* outIp, bool* outResolveFailed)
{
    *outResolveFailed = false;
    if (ParseDottedAddress(host, outIp))
        return 0;
    OsNetHostEntry entry;
    if (int code = OsNetHostByName(host, &entry)) {
        *outResolveFailed = true;
        return code;
    }
    *outIp = entry.addresses[0];
    return 0;
}

// The connect's wait pumps the script's events, so that a long connect
// stays abortable.
static int PumpWhileConnecting(void* vm, uint32_t* outCode)
{
    return vm ? PumpOsEvents(static_cast<VmState*>(vm), 2, 0, outCode) : 0;
}

int ConnectSocketToHost(VmState* vm, SocketRecord* record, const char* host, uint32_t port, int32_t timeoutMs,
                        bool* outResolveFailed, uint32_t* outInterrupt)
{
    *outInterrupt = 0;
    uint32_t ip;
    if (int code = ResolveHost(host, &ip, outResolveFailed))
        return code;
    return OsNetConnect(record->descriptor, NetAddress{ip, static_cast<uint16_t>(port)}, timeoutMs,
                        PumpWhileConnecting, vm, outInterrupt);
}

uint32_t OpenTcpConnection(VmState* vm, const char* host, uint32_t port, ObjectId* id, bool useHandle,
                           Connection** outConnection)
{
    SocketRecord* record;
    if (uint32_t code = CreateSocketRecord(&record))
        return code;
    record->timeout.start = OsGetEpochSeconds();
    bool resolveFailed = false;
    uint32_t interrupt = 0;
    int code = ConnectSocketToHost(vm, record, host, port, NetworkTimeout, &resolveFailed, &interrupt);
    if (code == 0) {
        if (AddConnectionRecord(record, id, useHandle, outConnection) == 0)
            return 0;
        FreeSocketRecord(record);
        return ERR_MEM;
    }
    FreeSocketRecord(record);
    if (!interrupt)
        SetErrorText(resolveFailed ? OsNetResolveErrorText(code) : OsNetErrorText(code));
    if (VmAbortFlag.load())
        return ERR_USERABORT;
    return interrupt ? interrupt : ERR_SOCKET;
}

int BindSocket(int* descriptor, const char* interfaceName, uint32_t port, bool* outResolveFailed)
{
    *outResolveFailed = false;
    uint32_t ip = 0;
    if (std::strcmp(interfaceName, "*") != 0) {
        if (int code = ResolveHost(interfaceName, &ip, outResolveFailed)) {
            OsNetClose(descriptor);
            return code;
        }
    }
    int code = OsNetBind(*descriptor, NetAddress{ip, static_cast<uint16_t>(port)});
    if (code)
        OsNetClose(descriptor);
    return code;
}

uint32_t CallStatusCallback(VmState* vm, Connection* connection)
{
    return CallWithTable(vm, 3, [&](int table) {
        SetField(vm, table, "action", connection->statusAction);
        SetField(vm, table, "count", static_cast<double>(connection->statusCount));
        SetField(vm, table, "total", static_cast<double>(connection->statusTotal));
        if (connection->statusUserdata) {
            VmPushCString(vm, "userdata");
            VmPushValue(vm, 4);
            VmRawSet(vm, table);
        }
    });
}

namespace {

// `hold` holds the connection (see ReceiveOutcome::connectionGone).
int SendWithProgress(VmState* vm, Connection* connection, const ListWalk& hold, const uint8_t* data, size_t length,
                     size_t* outSent, uint32_t* outStatus)
{
    SocketRecord* record = connection->socket;
    size_t sent = 0;
    int code = 0;
    *outStatus = 0;
    while (sent < length && code == 0 && *outStatus == 0) {
        uint32_t pumpCode = 0;
        if (vm && PumpOsEvents(vm, 2, 0, &pumpCode)) {
            // The pump's own code ends the send as a status result would.
            *outStatus = pumpCode;
            code = OS_NET_TIMEOUT;
            break;
        }
        if (!hold.Live(0))
            break;
        size_t done = 0;
        code = record->io.send(record, data + sent, std::min<size_t>(length - sent, SOCKET_BUFFER_SIZE), &done);
        sent += done;
        if (connection->statusArmed && done > 0) {
            connection->statusCount += done;
            *outStatus = CallStatusCallback(vm, connection);
        }
        if (!hold.Live(0))
            break;
    }
    *outSent = sent;
    if (!hold.Live(0))
        return OS_NET_CLOSED;
    record->buffer.bytesSent += static_cast<uint32_t>(sent);
    return code;
}

}  // namespace

int SendAllData(VmState* vm, Connection* connection, const uint8_t* data, size_t length, size_t* outSent,
                uint32_t* outStatus)
{
    *outSent = 0;
    *outStatus = 0;
    if (length == 0)
        return 0;
    ListWalk hold;
    hold.Take(connection);  // the first record always has room
    double lastProgress = OsGetEpochSeconds();
    size_t total = 0;
    for (;;) {
        size_t sent = 0;
        int code = SendWithProgress(vm, connection, hold, data + total, length - total, &sent, outStatus);
        total += sent;
        if (sent > 0)
            lastProgress = OsGetEpochSeconds();
        if (total >= length || *outStatus || code != OS_NET_TIMEOUT) {
            *outSent = total;
            return code;
        }
        if (TimedOut(lastProgress) || VmAbortFlag.load()) {
            *outSent = total;
            return OS_NET_TIMEOUT;
        }
        IdleRound(connection->socket->descriptor, 2);
    }
}

uint32_t SendDataChecked(VmState* vm, Connection* connection, const uint8_t* data, size_t length)
{
    size_t sent;
    uint32_t status;
    int code = SendAllData(vm, connection, data, length, &sent, &status);
    if (VmAbortFlag.load())
        return ERR_USERABORT;
    if (status)
        return status;
    if (code) {
        SetErrorText(connection->socket->io.errorText(code));
        return ERR_SOCKET;
    }
    return sent < length ? static_cast<uint32_t>(ERR_SENDDATA) : 0u;
}

void ReceiveSocketData(VmState* vm, Connection* connection, int32_t mode, size_t count, bool wait,
                       ReceiveTarget& target, ReceiveOutcome* outcome)
{
    ListWalk hold;
    hold.Take(connection);  // the first record always has room
    SocketRecord* record = connection->socket;
    SocketBuffer* buffer = &record->buffer;
    record->timeout.start = OsGetEpochSeconds();
    size_t received = 0;
    bool done = false;
    bool gone = false;
    double lastProgress = OsGetEpochSeconds();
    int code = 0;
    uint32_t stop = 0;
    outcome->pumpCode = 0;
    while (!done && !stop) {
        if (vm && PumpOsEvents(vm, 2, 0, &outcome->pumpCode)) {
            code = OS_NET_TIMEOUT;
            break;
        }
        if ((gone = !hold.Live(0)))
            break;
        code = 0;
        size_t direct = DirectRoom(mode, target, buffer, count, received);
        if (direct) {
            size_t got = 0;
            code = record->io.receive(record, *target.block + received, direct, &got);
            if (got != 0) {
                lastProgress = OsGetEpochSeconds();
                received += got;
                if (mode == RECEIVEBYTES && received >= count)
                    done = true;
                if (connection->statusArmed) {
                    connection->statusCount += static_cast<uint32_t>(got);
                    stop = CallStatusCallback(vm, connection);
                }
                if (code != 0)
                    break;
                continue;
            }
        } else if (buffer->first >= buffer->last) {
            size_t got = 0;
            code = record->io.receive(record, buffer->data, SOCKET_BUFFER_SIZE, &got);
            buffer->first = 0;
            buffer->last = static_cast<uint32_t>(got);
        }
        uint32_t available = buffer->last - buffer->first;
        if (available == 0) {
            if (code == OS_NET_TIMEOUT && wait && !TimedOut(lastProgress)) {
                IdleRound(record->descriptor, 1);
                continue;
            }
            if (code == 0)
                code = OS_NET_TIMEOUT;
            break;
        }
        lastProgress = OsGetEpochSeconds();
        const uint8_t* bytes = buffer->data + buffer->first;
        size_t delivered = 0;
        if (mode == RECEIVELINE) {
            uint32_t used = 0;
            while (used < available && !stop && !gone) {
                uint8_t c = bytes[used++];
                if (c == '\n') {
                    done = true;
                    break;
                }
                if (c == '\r')
                    continue;
                stop = Deliver(vm, mode, target, &c, 1, received);
                if (!stop) {
                    received++;
                    delivered++;
                }
                gone = !hold.Live(0);
            }
            if (gone)
                break;
            Consume(buffer, used);
        } else {
            size_t n = available;
            if (mode == RECEIVEBYTES)
                n = std::min<size_t>(available, count - received);
            stop = Deliver(vm, mode, target, bytes, n, received);
            if (!stop) {
                received += n;
                delivered = n;
                if (mode == RECEIVEBYTES && received >= count)
                    done = true;
            }
            if ((gone = !hold.Live(0)))
                break;
            if (!stop)
                Consume(buffer, static_cast<uint32_t>(n));
        }
        if (!stop && connection->statusArmed && delivered) {
            connection->statusCount += delivered;
            stop = CallStatusCallback(vm, connection);
        }
        if (code != 0)
            break;
    }
    // A connection the script closed meanwhile ends the receive as a peer
    // that closed would.
    if (gone || !hold.Live(0)) {
        gone = true;
        code = OS_NET_CLOSED;
    }
    if (done)
        code = 0;
    outcome->closedAfterData = false;
    if (mode == RECEIVEALL && code == OS_NET_CLOSED && received > 0) {
        code = 0;
        outcome->closedAfterData = true;
    }
    if (mode == RECEIVELINE && target.block && !target.stream)
        (*target.block)[received] = 0;
    outcome->received = received;
    outcome->socketCode = code;
    outcome->stopCode = stop;
    outcome->connectionGone = gone;
}

uint32_t ReceiveResultCode(const ReceiveOutcome& outcome, Connection* connection)
{
    if (outcome.stopCode)
        return outcome.stopCode;
    if (outcome.pumpCode)
        return outcome.pumpCode;
    if (VmAbortFlag.load())
        return ERR_USERABORT;
    switch (outcome.socketCode) {
    case 0:
        return 0;
    case OS_NET_CLOSED:
        return ERR_RECVCLOSED;
    case OS_NET_TIMEOUT:
        return ERR_RECVTIMEOUT;
    default:
        SetErrorText(connection->socket->io.errorText(outcome.socketCode));
        return ERR_SOCKET;
    }
}

bool PollConnectionData(Connection* connection)
{
    if (connection->dataArrived || connection->closed)
        return false;
    SocketRecord* record = connection->socket;
    record->timeout.start = OsGetEpochSeconds();
    if (record->buffer.first < record->buffer.last || OsNetRecv(record->descriptor, &record->timeout, 0) == 0) {
        connection->dataArrived = 1;
        return true;
    }
    return false;
}

bool PollConnectionClosed(Connection* connection)
{
    if (connection->closed)
        return false;
    SocketRecord* record = connection->socket;
    // Bytes still buffered here mean the peer's close is not news yet.
    if (record->buffer.first < record->buffer.last)
        return false;
    if (OsNetRecv(record->descriptor, &record->timeout, 0) == OS_NET_CLOSED) {
        connection->closed = 1;
        return true;
    }
    return false;
}

bool PollUDPData(UDPObject* udp)
{
    if (udp->datagramWaiting)
        return false;
    NetTimeout none{0, 0, 0};
    if (OsNetRecv(udp->socket->descriptor, &none, 1) == 0) {
        udp->datagramWaiting = 1;
        return true;
    }
    return false;
}

bool AcceptConnection(Server* server, uintptr_t* outHandle)
{
    SocketRecord* listener = server->socket;
    listener->timeout.start = OsGetEpochSeconds();
    int descriptor;
    if (OsNetAccept(listener->descriptor, &descriptor, &listener->timeout) != 0)
        return false;
    auto* record = static_cast<SocketRecord*>(OsAllocMem(sizeof(SocketRecord), 1));
    if (!record) {
        OsNetClose(&descriptor);
        return false;
    }
    InitSocketRecord(record, descriptor);
    ObjectId id{};
    if (AddConnectionRecord(record, &id, true, nullptr) != 0) {
        FreeSocketRecord(record);
        return false;
    }
    *outHandle = id.handle;
    return true;
}

void CheckNetworkEvents(VmState*)
{
    if (HasGlobalEventHandler(GEVENT_RECEIVEUDPDATA)) {
        for (NetworkCursors.udp = UDPObjectList; NetworkCursors.udp;) {
            UDPObject* udp = NetworkCursors.udp;
            NetworkCursors.udp = reinterpret_cast<UDPObject*>(udp->header.next);
            if (PollUDPData(udp))
                PostEvent(EVENT_GLOBAL, GEVENT_RECEIVEUDPDATA, ObjectId{udp->header.id, udp->header.handle}, 0,
                          nullptr);
        }
    }
    if (HasGlobalEventHandler(GEVENT_CONNECT)) {
        for (NetworkCursors.server = ServerList; NetworkCursors.server;) {
            Server* server = NetworkCursors.server;
            NetworkCursors.server = reinterpret_cast<Server*>(server->header.next);
            uintptr_t handle;
            // The new connection's handle rides in the payload, which global
            // events only carry as a number.
            while (AcceptConnection(server, &handle))
                PostEvent(EVENT_GLOBAL, GEVENT_CONNECT, ObjectId{server->header.id, server->header.handle},
                          handle, nullptr);
        }
    }
    bool data = HasGlobalEventHandler(GEVENT_RECEIVEDATA);
    bool closed = HasGlobalEventHandler(GEVENT_DISCONNECT);
    if (data || closed) {
        for (NetworkCursors.connection = ConnectionList; NetworkCursors.connection;) {
            Connection* connection = NetworkCursors.connection;
            NetworkCursors.connection = reinterpret_cast<Connection*>(connection->header.next);
            ObjectId id{connection->header.id, connection->header.handle};
            if (data && PollConnectionData(connection))
                PostEvent(EVENT_GLOBAL, GEVENT_RECEIVEDATA, id, 0, nullptr);
            if (closed && PollConnectionClosed(connection))
                PostEvent(EVENT_GLOBAL, GEVENT_DISCONNECT, id, 0, nullptr);
        }
    }
}

void FreeNetwork(VmState* vm)
{
    SetNetworkEventPhase(nullptr);
    UpdateNetworkPolling(vm);
    NetworkCursors = NetworkEventCursors{};
    while (Connection* connection = ConnectionList) {
        ConnectionList = reinterpret_cast<Connection*>(connection->header.next);
        FreeSocketRecord(connection->socket);
        FreeListRecord(connection);
    }
    while (Server* server = ServerList) {
        ServerList = reinterpret_cast<Server*>(server->header.next);
        FreeSocketRecord(server->socket);
        OsFreeMem(server);
    }
    while (UDPObject* udp = UDPObjectList) {
        UDPObjectList = reinterpret_cast<UDPObject*>(udp->header.next);
        FreeUdpSocketRecord(udp->socket);
        OsFreeMem(udp);
    }
    if (NetworkStarted) {
        OsNetExit();
        NetworkStarted = false;
    }
}
