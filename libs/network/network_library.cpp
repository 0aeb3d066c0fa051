// The network library's command handlers and its registration.
#include "libs/network/network_library.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "display/event_library.h"
#include "libs/network/socket_layer.h"
#include "libs/network/url_transfer.h"
#include "platform/posix/os_env.h"

namespace {

// The id argument of a creating command: Nil asks for a handle.
struct NewObjectId {
    ObjectId id;
    bool useHandle;
};

NewObjectId ReadNewObjectId(VmState* vm, int index)
{
    if (VmType(vm, index) == VM_TNIL)
        return {ObjectId{}, true};
    return {GetObjectIdArg(vm, index), false};
}

uint32_t PushNewHandle(VmState* vm, const NewObjectId& id)
{
    if (!id.useHandle)
        return 0;
    VmPushLightUserdata(vm, reinterpret_cast<void*>(id.id.handle));
    return 1;
}

int64_t ArgInteger(VmState* vm, int index) { return DoubleToInt64(VmCheckNumber(vm, index)); }

void PushDotted(VmState* vm, uint32_t ip)
{
    char text[16];
    OsNetAddressText(ip, text);
    VmPushCString(vm, text);
}

uint32_t CmdOpenConnection(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    NewObjectId id = ReadNewObjectId(vm, 1);
    const char* host = VmCheckString(vm, 2, nullptr);
    int64_t port = ArgInteger(vm, 3);
    if (port < 1 || port > 65535)
        return ERR_WRONGUSAGE;
    if (uint32_t code = StartNetwork())
        return code;
    if (!id.useHandle)
        RemoveConnection(id.id);
    if (uint32_t code = OpenTcpConnection(vm, host, static_cast<uint32_t>(port), &id.id, id.useHandle, nullptr))
        return code;
    return PushNewHandle(vm, id);
}

uint32_t CmdCloseConnection(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveConnection(GetObjectIdArg(vm, 1));
}

// The socket error of a failed bind or of a look-up of the interface name.
uint32_t BindFailure(int code, bool resolveFailed)
{
    SetErrorText(resolveFailed ? OsNetResolveErrorText(code) : OsNetErrorText(code));
    return ERR_SOCKET;
}

uint32_t CmdCreateServer(VmState* vm)
{
    CheckArgs(vm, 1, 4, 0, 0);
    NewObjectId id = ReadNewObjectId(vm, 1);
    int64_t port = VmType(vm, 2) == VM_TNONE ? 0 : ArgInteger(vm, 2);
    const char* interfaceName = VmOptString(vm, 3, "*", nullptr);
    int64_t backlog = VmType(vm, 4) == VM_TNONE ? 32 : ArgInteger(vm, 4);
    if (port < 0 || port > 65535)
        return ERR_WRONGUSAGE;
    if (uint32_t code = StartNetwork())
        return code;
    if (!id.useHandle)
        RemoveServer(id.id);
    SocketRecord* record;
    if (uint32_t code = CreateSocketRecord(&record))
        return code;
    if (OsNetSetReuseAddress(record->descriptor) != 0) {
        FreeSocketRecord(record);
        return ERR_SOCKOPT;
    }
    bool resolveFailed;
    if (int code = BindSocket(&record->descriptor, interfaceName, static_cast<uint32_t>(port), &resolveFailed)) {
        FreeSocketRecord(record);
        return BindFailure(code, resolveFailed);
    }
    int listenBacklog = backlog < 0 ? 0 : backlog > SOMAXCONN ? SOMAXCONN : static_cast<int>(backlog);
    if (int code = OsNetListen(record->descriptor, listenBacklog)) {
        FreeSocketRecord(record);
        SetErrorText(OsNetErrorText(code));
        return ERR_SOCKET;
    }
    if (AddServerRecord(record, &id.id, id.useHandle) != 0) {
        FreeSocketRecord(record);
        return ERR_MEM;
    }
    return PushNewHandle(vm, id);
}

uint32_t CmdCloseServer(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveServer(GetObjectIdArg(vm, 1));
}

uint32_t CmdSendData(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    Connection* connection;
    if (uint32_t code = FindConnection(GetObjectIdArg(vm, 1), &connection))
        return code;
    size_t length;
    const char* data = VmCheckString(vm, 2, &length);
    size_t sent;
    uint32_t status;
    SendAllData(vm, connection, reinterpret_cast<const uint8_t*>(data), length, &sent, &status);
    VmPushNumber(vm, static_cast<double>(sent));
    return 1;
}

uint32_t CmdReceiveData(VmState* vm)
{
    CheckArgs(vm, 2, 5, 0, 0);
    Connection* connection;
    if (uint32_t code = FindConnection(GetObjectIdArg(vm, 1), &connection))
        return code;
    int64_t mode = ArgInteger(vm, 2);
    int next = 3;
    bool wait = true;
    size_t count = 0;
    if (mode == RECEIVEALL) {
        if (VmType(vm, 3) != VM_TNONE)
            wait = ArgInteger(vm, 3) != 0;
        next = 4;
    } else if (mode == RECEIVEBYTES) {
        int64_t n = ArgInteger(vm, 3);
        if (n <= 0)
            return ERR_WRONGUSAGE;
        count = static_cast<size_t>(n);
        next = 4;
    } else if (mode != RECEIVELINE) {
        return ERR_WRONGUSAGE;
    }
    ReceiveTarget target;
    std::string text;
    if (VmType(vm, next) != VM_TNONE) {
        VmCheckFunction(vm, next);
        target.callbackIndex = next;
        if (VmType(vm, next + 1) != VM_TNONE)
            target.userdataIndex = next + 1;
    } else {
        target.text = &text;
    }
    ReceiveOutcome outcome;
    ReceiveSocketData(vm, connection, static_cast<int32_t>(mode), count, wait, target, &outcome);
    if (outcome.stopCode)
        return outcome.stopCode;
    if (!outcome.connectionGone)
        connection->dataArrived = 0;
    VmPushLString(vm, text.data(), text.size());
    VmPushNumber(vm, static_cast<double>(outcome.received));
    VmPushNumber(vm, mode == RECEIVEALL ? (outcome.closedAfterData ? 1 : 0) : 1);
    return 3;
}

// The peer address of the connection named by the first argument.
uint32_t ConnectionPeer(VmState* vm, NetAddress* address)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Connection* connection;
    if (uint32_t code = FindConnection(GetObjectIdArg(vm, 1), &connection))
        return code;
    if (OsNetPeerAddress(connection->socket->descriptor, address) < 0)
        return ERR_PEERNAME;
    return 0;
}

uint32_t CmdGetConnectionIP(VmState* vm)
{
    NetAddress address;
    if (uint32_t code = ConnectionPeer(vm, &address))
        return code;
    PushDotted(vm, address.ip);
    return 1;
}

uint32_t CmdGetConnectionPort(VmState* vm)
{
    NetAddress address;
    if (uint32_t code = ConnectionPeer(vm, &address))
        return code;
    VmPushNumber(vm, address.port);
    return 1;
}

uint32_t CmdGetHostName(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    if (uint32_t code = StartNetwork())
        return code;
    char name[256];
    if (OsNetLocalHostName(name, sizeof name) < 0)
        return ERR_HOSTNAME;
    VmPushCString(vm, name);
    return 1;
}

void PushStringList(VmState* vm, const char* key, int count, const std::function<void(int)>& pushItem)
{
    VmPushCString(vm, key);
    VmNewTable(vm);
    for (int i = 0; i < count; i++) {
        pushItem(i);
        VmRawSetI(vm, -2, i + 1);
    }
    VmRawSet(vm, -3);
}

void PushHostEntryTable(VmState* vm, const OsNetHostEntry& entry)
{
    VmNewTable(vm);
    VmPushCString(vm, "name");
    VmPushCString(vm, entry.name.c_str());
    VmRawSet(vm, -3);
    PushStringList(vm, "alias", static_cast<int>(entry.aliases.size()),
                   [&](int i) { VmPushCString(vm, entry.aliases[i].c_str()); });
    PushStringList(vm, "ip", static_cast<int>(entry.addresses.size()),
                   [&](int i) { PushDotted(vm, entry.addresses[i]); });
}

// Shared by ToIP and ToHostName: a dotted address is looked up in reverse.
uint32_t LookUpHost(VmState* vm, OsNetHostEntry* entry)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* host = VmCheckString(vm, 1, nullptr);
    if (uint32_t code = StartNetwork())
        return code;
    uint32_t ip;
    int code = ParseDottedAddress(host, &ip) ? OsNetHostByAddr(ip, entry) : OsNetHostByName(host, entry);
    if (code) {
        SetErrorText(OsNetResolveErrorText(code));
        return ERR_SOCKET;
    }
    return 0;
}

uint32_t CmdToIP(VmState* vm)
{
    OsNetHostEntry entry;
    if (uint32_t code = LookUpHost(vm, &entry))
        return code;
    if (entry.addresses.empty())
        VmPushCString(vm, "");
    else
        PushDotted(vm, entry.addresses[0]);
    PushHostEntryTable(vm, entry);
    return 2;
}

uint32_t CmdToHostName(VmState* vm)
{
    OsNetHostEntry entry;
    if (uint32_t code = LookUpHost(vm, &entry))
        return code;
    VmPushCString(vm, entry.name.c_str());
    PushHostEntryTable(vm, entry);
    return 2;
}

uint32_t CmdSetNetworkTimeout(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    int64_t ms = ArgInteger(vm, 1);
    if (ms < 0 || ms > INT32_MAX)
        return ERR_WRONGUSAGE;
    NetworkTimeout = static_cast<int32_t>(ms);
    return 0;
}

constexpr int32_t kKindConnection = 99;
constexpr int32_t kKindUdp = 117;

// The descriptor of the object GetLocalIP and GetLocalPort ask about; a
// kind that names neither connections nor UDP objects means servers.
uint32_t FindLocalSocket(VmState* vm, int* outDescriptor)
{
    CheckArgs(vm, 1, 2, 0, 0);
    ObjectId id = GetObjectIdArg(vm, 1);
    int64_t kind = VmType(vm, 2) == VM_TNONE ? kKindConnection : ArgInteger(vm, 2);
    if (kind == kKindUdp) {
        UDPObject* udp;
        if (uint32_t code = FindUDPObject(id, &udp))
            return code;
        *outDescriptor = udp->socket->descriptor;
    } else if (kind == kKindConnection) {
        Connection* connection;
        if (uint32_t code = FindConnection(id, &connection))
            return code;
        *outDescriptor = connection->socket->descriptor;
    } else {
        Server* server;
        if (uint32_t code = FindServer(id, &server))
            return code;
        *outDescriptor = server->socket->descriptor;
    }
    return 0;
}

// The local address of the socket named by the arguments.
uint32_t LocalSocketAddress(VmState* vm, NetAddress* address)
{
    int descriptor;
    if (uint32_t code = FindLocalSocket(vm, &descriptor))
        return code;
    if (OsNetLocalAddress(descriptor, address) < 0)
        return ERR_SOCKNAME;
    return 0;
}

uint32_t CmdGetLocalIP(VmState* vm)
{
    NetAddress address;
    if (uint32_t code = LocalSocketAddress(vm, &address))
        return code;
    PushDotted(vm, address.ip);
    return 1;
}

uint32_t CmdGetLocalPort(VmState* vm)
{
    NetAddress address;
    if (uint32_t code = LocalSocketAddress(vm, &address))
        return code;
    VmPushNumber(vm, address.port);
    return 1;
}

uint32_t CmdCreateUDPObject(VmState* vm)
{
    CheckArgs(vm, 1, 3, 0, 0);
    NewObjectId id = ReadNewObjectId(vm, 1);
    int64_t port = VmType(vm, 2) == VM_TNONE ? 0 : ArgInteger(vm, 2);
    const char* interfaceName = VmOptString(vm, 3, "*", nullptr);
    if (port < 0 || port > 65535)
        return ERR_WRONGUSAGE;
    if (uint32_t code = StartNetwork())
        return code;
    if (!id.useHandle)
        RemoveUDPObject(id.id);
    UdpSocketRecord* record;
    if (uint32_t code = CreateUdpSocketRecord(&record))
        return code;
    bool resolveFailed;
    if (int code = BindSocket(&record->descriptor, interfaceName, static_cast<uint32_t>(port), &resolveFailed)) {
        FreeUdpSocketRecord(record);
        return BindFailure(code, resolveFailed);
    }
    if (AddUDPRecord(record, &id.id, id.useHandle) != 0) {
        FreeUdpSocketRecord(record);
        return ERR_MEM;
    }
    return PushNewHandle(vm, id);
}

uint32_t CmdCloseUDPObject(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return RemoveUDPObject(GetObjectIdArg(vm, 1));
}

const char* UdpErrorText(int code)
{
    return code == OS_NET_CLOSED ? "connection refused" : OsNetErrorText(code);
}

uint32_t CmdSendUDPData(VmState* vm)
{
    CheckArgs(vm, 4, 4, 0, 0);
    ObjectId id = GetObjectIdArg(vm, 1);
    size_t length;
    const char* data = VmCheckString(vm, 2, &length);
    const char* address = VmCheckString(vm, 3, nullptr);
    int64_t port = ArgInteger(vm, 4);
    if (port < 1 || port > 65535 || length == 0)
        return ERR_WRONGUSAGE;
    UDPObject* udp;
    if (uint32_t code = FindUDPObject(id, &udp))
        return code;
    uint32_t ip;
    if (!ParseDottedAddress(address, &ip))
        return ERR_BADIP;
    size_t sent;
    if (int code = OsNetSendTo(udp->socket->descriptor, data, length, &sent,
                               NetAddress{ip, static_cast<uint16_t>(port)}, &udp->socket->timeout)) {
        SetErrorText(UdpErrorText(code));
        return ERR_SOCKET;
    }
    VmPushNumber(vm, static_cast<double>(sent));
    return 1;
}

uint32_t CmdReceiveUDPData(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    UDPObject* udp;
    if (uint32_t code = FindUDPObject(GetObjectIdArg(vm, 1), &udp))
        return code;
    int64_t maximum = VmType(vm, 2) == VM_TNONE ? SOCKET_BUFFER_SIZE : ArgInteger(vm, 2);
    if (maximum > SOCKET_BUFFER_SIZE)
        maximum = SOCKET_BUFFER_SIZE;
    if (maximum < 0)
        maximum = 0;
    udp->datagramWaiting = 0;
    size_t received;
    NetAddress from{};
    int code = OsNetRecvFrom(udp->socket->descriptor, udp->socket->data, static_cast<size_t>(maximum), &received,
                             &from, &udp->socket->timeout);
    if (code == OS_NET_TIMEOUT) {
        VmPushCString(vm, "");
        VmPushCString(vm, "");
        VmPushNumber(vm, 0);
        return 3;
    }
    if (code) {
        SetErrorText(UdpErrorText(code));
        return ERR_SOCKET;
    }
    VmPushLString(vm, reinterpret_cast<const char*>(udp->socket->data), received);
    PushDotted(vm, from.ip);
    VmPushNumber(vm, from.port);
    return 3;
}

uint32_t CmdIsOnline(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    char host[256];
    uint32_t port;
    bool online = false;
    if (GetOnlineProbe(host, sizeof host, &port) && StartNetwork() == 0) {
        ObjectId id{};
        Connection* connection;
        if (OpenTcpConnection(vm, host, port, &id, true, &connection) == 0) {
            RemoveConnectionRecord(connection);
            online = true;
        }
    }
    VmPushNumber(vm, online ? 1 : 0);
    return 1;
}

}  // namespace

bool GetOnlineProbe(char* host, size_t hostSize, uint32_t* port)
{
    const char* probe = OsGetEnv("QUILLMERE_ONLINE_PROBE");
    if (!probe || !*probe)
        probe = "example.com:80";
    if (std::strcmp(probe, "off") == 0)
        return false;
    const char* colon = std::strrchr(probe, ':');
    size_t length = colon ? static_cast<size_t>(colon - probe) : std::strlen(probe);
    if (length == 0 || length >= hostSize)
        return false;
    std::memcpy(host, probe, length);
    host[length] = 0;
    *port = 80;
    if (colon) {
        char* end;
        long value = std::strtol(colon + 1, &end, 10);
        if (*end || value < 1 || value > 65535)
            return false;
        *port = static_cast<uint32_t>(value);
    }
    return true;
}

const CommandTableEntry kNetworkCommands[] = {
    {"OpenConnection", CmdOpenConnection},
    {"CloseConnection", CmdCloseConnection},
    {"CreateServer", CmdCreateServer},
    {"CloseServer", CmdCloseServer},
    {"SendData", CmdSendData},
    {"ReceiveData", CmdReceiveData},
    {"GetConnectionIP", CmdGetConnectionIP},
    {"GetConnectionPort", CmdGetConnectionPort},
    {"GetHostName", CmdGetHostName},
    {"ToIP", CmdToIP},
    {"ToHostName", CmdToHostName},
    {"DownloadFile", CmdDownloadFile},
    {"UploadFile", CmdUploadFile},
    {"SetNetworkTimeout", CmdSetNetworkTimeout},
    {"GetLocalIP", CmdGetLocalIP},
    {"GetLocalPort", CmdGetLocalPort},
    {"CreateUDPObject", CmdCreateUDPObject},
    {"CloseUDPObject", CmdCloseUDPObject},
    {"SendUDPData", CmdSendUDPData},
    {"ReceiveUDPData", CmdReceiveUDPData},
    {"IsOnline", CmdIsOnline},
    {nullptr, nullptr},
};

const ConstantTableEntry kNetworkConstants[] = {
    {"RECEIVEALL", nullptr, 0},
    {"RECEIVEBYTES", nullptr, 1},
    {"RECEIVELINE", nullptr, 2},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_RESPONSE", nullptr, 1},
    {"NETWORKCONNECTION", nullptr, 99},
    {"NETWORKSERVER", nullptr, 115},
    {"NETWORKUDP", nullptr, 117},
    {"RECEIVEDATA_PACKET", nullptr, 0},
    {nullptr, nullptr, 0},
};

uint32_t RegisterNetworkLibrary(VmState* vm)
{
    VmPushValue(vm, VM_GLOBALSINDEX);
    VmRegisterLibrary(vm, nullptr, kNetworkCommands, 0);
    if (uint32_t code = RegisterLibrary(kNetworkCommands, "network"))
        return code;
    VmRegisterConstants(vm, kNetworkConstants, 0);
    if (uint32_t code = RegisterObjectList(&ServerList))
        return code;
    if (uint32_t code = RegisterObjectList(&ConnectionList))
        return code;
    if (uint32_t code = RegisterObjectList(&UDPObjectList))
        return code;
    SetNetworkEventPhase(CheckNetworkEvents);
    return 0;
}
