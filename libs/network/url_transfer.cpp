// The URL transfer engine. One call of TransferUrl parses the URL and the
// options, opens its connections as ordinary connections with handles (their
// event flags set, so the event check never reports them), runs the HTTP or
// FTP exchange and releases everything it made, whatever happens. Every line
// read from a peer has a fixed bound and every count of lines has a limit,
// so a hostile server can make a transfer fail but never overflow or loop.
#include "libs/network/url_transfer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "core/io/base64.h"
#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/vm/error_hooks.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "libs/network/socket_layer.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_time.h"

namespace {

constexpr size_t kFieldSize = 256;
constexpr size_t kStatusLineSize = 1024;
constexpr size_t kHeaderLineSize = 32768;
constexpr size_t kFtpLineSize = 1024;
constexpr size_t kFileNameSize = 1008;
constexpr int kMaxRedirects = 5;
// No honest server sends this many header lines, interim responses or
// reply lines; past them the peer is only keeping us busy.
constexpr int kMaxHeaderLines = 1000;
constexpr int kMaxInterimResponses = 100;
constexpr int kMaxFtpReplyLines = 1000;
constexpr size_t kUnknownLengthBlock = 16384;
constexpr size_t kGrowStep = 8192;
constexpr size_t kFtpRound = 1 << 20;
// What a body whose total nobody announced is expected to hold: its block
// then doubles as the bytes arrive. A chunked body counts as one: growing
// it chunk by chunk would regrow the block for every chunk, and the fresh
// end of a block grown by only a little is filled before the system can
// back it with huge pages.
constexpr size_t kUnknownTotal = SIZE_MAX / 4;
// Body bytes bound for a file gather here, so that the file gets few large
// writes rather than one per socket read.
constexpr size_t kFileStageSize = 1 << 16;
// A body whose announced length is at most this gets its whole block at
// once; an announcement beyond it only earns growth by doubling as bytes
// really arrive. Untouched pages of a block cost nothing, so a peer that
// lies within the limit gains nothing either.
constexpr uint64_t kTrustedLength = 256u << 20;
const char kDefaultPassword[] = "guest@quillmere.invalid";
const char kUnsafe[] = "\"<>%\\^[]`+$,";

bool EqualsNoCase(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (LowerCaseTable[static_cast<uint8_t>(a[i])] != LowerCaseTable[static_cast<uint8_t>(b[i])])
            return false;
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return text.size() >= n && EqualsNoCase(text.data(), prefix, n);
}

bool IsSafe(uint8_t c) { return c >= 0x21 && c <= 0x7A && !std::strchr(kUnsafe, c); }

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The credentials of a URL arrive percent-encoded (the URL itself was
// encoded, or given encoded): the peer wants them as they are. False when a
// decoded byte would break the line they are sent on.
bool DecodeCredential(const std::string& text, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        }
        if (c == '\r' || c == '\n' || c == 0)
            return false;
        *out += c;
    }
    return true;
}

// Decimal digits at text[i...], with no overflow: false when there are none
// or the value passes `limit`.
bool ReadDecimal(const std::string& text, size_t* i, uint64_t limit, uint64_t* out)
{
    uint64_t value = 0;
    size_t start = *i;
    while (*i < text.size() && text[*i] >= '0' && text[*i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[*i] - '0');
        if (value > limit)
            return false;
        ++*i;
    }
    *out = value;
    return *i > start;
}

struct FormItem {
    std::string mimeType;  // empty: none
    std::string name;
    std::string alias;
    const char* data = nullptr;
    size_t dataLength = 0;
    StreamHandle* stream = nullptr;
    uint64_t size = 0;
};

// Everything one transfer owns; the destructor gives it all back.
struct Transfer {
    VmState* vm = nullptr;
    bool upload = false;

    // Options.
    int32_t transferMode = 'i';
    std::string fileName;
    bool haveFile = false;
    bool encoded = false;
    std::string proxy;
    bool silentFail = false;
    std::string customHeaders;
    const char* data = nullptr;
    size_t dataLength = 0;
    bool fail404 = false;
    bool redirect = true;
    const char* post = nullptr;
    size_t postLength = 0;
    std::string postType = "application/x-www-form-urlencoded";
    std::string userAgent = "Quillmere 6.1";
    int formIndex = 0;
    bool statusFunction = false;
    bool statusUserdata = false;

    // The parsed URL.
    std::string url;
    char scheme = 0;
    std::string host;
    std::string path;
    std::string targetAuthority;
    uint32_t port = 0;
    std::string user = "anonymous";
    std::string password = kDefaultPassword;
    bool credentials = false;
    std::string boundary;

    std::vector<FormItem> items;
    StreamHandle* file = nullptr;  // download destination or upload source
    // A download's file is written beside the old one and replaces it only
    // when the whole body has arrived; until then the old file stays.
    WholeFileWriter destination;
    uint64_t fileSize = 0;
    Connection* control = nullptr;
    Connection* dataConnection = nullptr;

    // A body bound for a string is received straight into the string's
    // block (VmNewStringBlock), so that it is never copied once more.
    uint8_t* block = nullptr;
    size_t blockSize = 0;
    uint8_t* stage = nullptr;  // kFileStageSize bytes on their way to `file`
    size_t staged = 0;
    size_t bodySize = 0;
    bool stoppedByCallback = false;
    int redirectsFollowed = 0;

    // HTTP response state.
    uint32_t status = 0;
    uint64_t contentLength = 0;
    bool haveContentLength = false;  // an explicit 0 is an empty body
    bool chunked = false;
    std::string location;

    std::string ftpReply;

    ~Transfer()
    {
        for (FormItem& item : items) {
            if (item.stream)
                StreamClose(item.stream);
        }
        if (file && file != destination.stream)
            StreamClose(file);
        DropConnection(&dataConnection);
        DropConnection(&control);
        VmFreeStringBlock(vm, reinterpret_cast<char*>(block), blockSize);
        OsFreeMem(stage);
    }

    static void DropConnection(Connection** connection)
    {
        if (*connection && IsConnectionListed(*connection))
            RemoveConnectionRecord(*connection);
        *connection = nullptr;
    }
};

uint32_t Connect(Transfer& t, const char* host, uint32_t port, Connection** out)
{
    ObjectId id{};
    if (uint32_t code = OpenTcpConnection(t.vm, host, port, &id, true, out))
        return code;
    (*out)->dataArrived = 1;
    (*out)->closed = 1;
    // The script may find the connection (GetObjects) from a status
    // callback, but it is the transfer's until the transfer ends.
    (*out)->heldByTransfer = 1;
    (*out)->statusUserdata = t.statusUserdata ? 1 : 0;
    return 0;
}

uint32_t Send(Transfer& t, Connection* connection, const std::string& text)
{
    return SendDataChecked(t.vm, connection, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// One line into a bounded block; ERR_MEM when it does not fit.
uint32_t ReadLine(Transfer& t, Connection* connection, size_t limit, std::string* out)
{
    std::vector<uint8_t> line(limit);
    uint8_t* p = line.data();
    size_t size = limit;
    ReceiveTarget target;
    target.block = &p;
    target.blockSize = &size;
    uint32_t armed = connection->statusArmed;
    connection->statusArmed = 0;
    ReceiveOutcome outcome;
    ReceiveSocketData(t.vm, connection, RECEIVELINE, 0, true, target, &outcome);
    connection->statusArmed = armed;
    if (uint32_t code = ReceiveResultCode(outcome, connection))
        return code;
    out->assign(reinterpret_cast<const char*>(p), outcome.received);
    return 0;
}

// Gives the body block `size` bytes of room, keeping what it holds.
uint32_t ResizeBlock(Transfer& t, size_t size)
{
    char* resized = VmResizeStringBlock(t.vm, reinterpret_cast<char*>(t.block), t.blockSize, size);
    if (!resized)
        return ERR_MEM;
    t.block = reinterpret_cast<uint8_t*>(resized);
    t.blockSize = size;
    return 0;
}

// The socket layer's way of growing the body block in mode all.
uint8_t* GrowBlock(void* context, size_t size)
{
    auto& t = *static_cast<Transfer*>(context);
    return ResizeBlock(t, size) ? nullptr : t.block;
}

// Makes room for `round` more body bytes. The block grows at least by
// doubling (bounded by the bytes still `expected`), so a large body costs
// few copies, and never beyond what the peer has really sent plus one
// round: a length announced by the peer is not trusted with an allocation.
uint32_t EnsureRoom(Transfer& t, size_t round, size_t expected)
{
    size_t needed = t.bodySize + round;
    if (t.blockSize >= needed)
        return 0;
    size_t grown = std::max({needed, t.blockSize + kGrowStep, std::min(t.blockSize * 2, t.bodySize + expected)});
    return ResizeBlock(t, grown);
}

// The outcome of one receive for the transfer; a stop by the status
// callback ends the body quietly.
uint32_t BodyResult(Transfer& t, const ReceiveOutcome& outcome, Connection* connection)
{
    if (outcome.stopCode == ERR_USERABORT && !VmAbortFlag.load()) {
        t.stoppedByCallback = true;
        return 0;
    }
    return ReceiveResultCode(outcome, connection);
}

// Writes what waits in the file stage.
uint32_t FlushStage(Transfer& t)
{
    size_t n = t.staged;
    t.staged = 0;
    if (n && StreamWrite(t.file, t.stage, n) != n)
        return ERR_WRITE;
    return 0;
}

// Everything until the peer closes, into the file or a growing block.
uint32_t ReceiveUntilClosed(Transfer& t, Connection* connection)
{
    ReceiveTarget target;
    if (t.file) {
        if (uint32_t code = FlushStage(t))
            return code;
        target.stream = t.file;
    } else {
        target.block = &t.block;
        target.blockSize = &t.blockSize;
        target.grow = GrowBlock;
        target.growContext = &t;
    }
    ReceiveOutcome outcome;
    ReceiveSocketData(t.vm, connection, RECEIVEALL, 0, true, target, &outcome);
    t.bodySize += outcome.received;
    return BodyResult(t, outcome, connection);
}

// Exactly `count` bytes into the file or the block; *outReceived tells how
// many came when the peer closed early.
uint32_t ReceiveCounted(Transfer& t, Connection* connection, size_t count, size_t expected, size_t* outReceived)
{
    constexpr size_t kMaxRound = 1 << 20;
    size_t done = 0;
    *outReceived = 0;
    while (done < count) {
        size_t round = std::min(count - done, kMaxRound);
        ReceiveTarget target;
        uint8_t* p = nullptr;
        size_t room = round;
        if (t.file) {
            if (!t.stage && !(t.stage = static_cast<uint8_t*>(OsAllocMem(kFileStageSize, 0))))
                return ERR_MEM;
            round = room = std::min(round, kFileStageSize - t.staged);
            p = t.stage + t.staged;
        } else {
            if (uint32_t code = EnsureRoom(t, round, std::max(expected - std::min(expected, done), round)))
                return code;
            p = t.block + t.bodySize;
        }
        target.block = &p;
        target.blockSize = &room;
        ReceiveOutcome outcome;
        ReceiveSocketData(t.vm, connection, RECEIVEBYTES, round, true, target, &outcome);
        t.bodySize += outcome.received;
        if (t.file) {
            t.staged += outcome.received;
            if (t.staged == kFileStageSize) {
                if (uint32_t code = FlushStage(t))
                    return code;
            }
        }
        done += outcome.received;
        *outReceived = done;
        if (uint32_t code = BodyResult(t, outcome, connection))
            return code;
        if (t.stoppedByCallback)
            return 0;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Options and form items

uint32_t ReadStringField(VmState* vm, int table, const char* key, size_t capacity, std::string* out,
                         bool* found, const char** bytes = nullptr, size_t* length = nullptr)
{
    VmPushCString(vm, key);
    VmGetTable(vm, table);
    *found = VmType(vm, -1) != VM_TNIL;
    uint32_t code = 0;
    if (*found) {
        if (!VmIsString(vm, -1)) {
            code = ERR_STRINGEXPECTED;
        } else {
            size_t n = VmGetStringLength(vm, -1);
            const char* s = VmGetString(vm, -1);
            if (bytes) {
                // The string stays alive in the options table, which the
                // argument keeps on the stack for the whole transfer.
                *bytes = s;
                *length = n;
            } else if (n >= capacity) {
                code = ERR_WRONGUSAGE;
            } else {
                out->assign(s, n);
            }
        }
    }
    VmPop(vm, 1);
    return code;
}

// The script's own header lines go into the request as they stand, so each
// must be one whole "Name: value" line: a CR, LF or NUL inside it, an empty
// line or one that is no header would end the header block early or smuggle
// lines past it. The last line gets its CR LF when the script left it off.
uint32_t CheckCustomHeaders(std::string* text)
{
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find("\r\n", start);
        if (end == std::string::npos)
            end = text->size();
        std::string_view line(text->data() + start, end - start);
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            return ERR_WRONGUSAGE;
        for (char c : line.substr(0, colon))
            if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
                return ERR_WRONGUSAGE;
        start = end + 2;
    }
    if (!text->empty() && !text->ends_with("\r\n"))
        *text += "\r\n";
    return 0;
}

bool ReadIntField(VmState* vm, int table, const char* key, int32_t* out)
{
    VmPushCString(vm, key);
    VmGetTable(vm, table);
    bool found = VmType(vm, -1) != VM_TNIL;
    if (found)
        *out = static_cast<int32_t>(DoubleToInt64(VmGetNumber(vm, -1)));
    VmPop(vm, 1);
    return found;
}

// A file linked into the applet is sent from the applet, as every reader
// of a named file takes it.
uint32_t OpenSourceFile(VmState* vm, const std::string& name, StreamHandle** out, uint64_t* size)
{
    *out = StreamOpen(ResolveLinkedFile(vm, name.c_str(), 0, nullptr), STREAM_READ | STREAM_ADAPTERS);
    if (!*out) {
        SetErrorText(name.c_str());
        return ERR_READFILE;
    }
    if (!StreamKnownSize(*out, size))
        return ERR_FILESIZE;
    return 0;
}

std::string RealFileName(const std::string& name)
{
    ChunkNameParts parts;
    if (IsChunkName(name.c_str()) && ParseChunkName(name.c_str(), &parts))
        return std::string(parts.displayName);
    return PathFilePart(name.c_str());
}

uint32_t MissingField(const char* name)
{
    SetErrorText(name);
    return ERR_MISSINGFIELD;
}

uint32_t ReadFormItem(Transfer& t, int table, FormItem* item)
{
    VmState* vm = t.vm;
    bool found;
    if (uint32_t code = ReadStringField(vm, table, "name", kFieldSize, &item->name, &found))
        return code;
    if (!found)
        return MissingField("Name");
    if (item->name.empty())
        return ERR_WRONGUSAGE;
    std::string fileName;
    bool haveFile;
    if (uint32_t code = ReadStringField(vm, table, "file", kFileNameSize, &fileName, &haveFile))
        return code;
    bool haveData;
    std::string unused;
    if (uint32_t code = ReadStringField(vm, table, "data", 0, &unused, &haveData, &item->data, &item->dataLength))
        return code;
    if (haveFile) {
        if (haveData)
            return ERR_WRONGUSAGE;
        if (uint32_t code = OpenSourceFile(vm, fileName, &item->stream, &item->size))
            return code;
        if (item->size == 0)
            return ERR_WRONGUSAGE;
        item->alias = RealFileName(fileName);
        item->mimeType = "application/octet-stream";
    } else {
        if (!haveData)
            return MissingField("Data");
        if (item->dataLength == 0)
            return ERR_WRONGUSAGE;
        item->size = item->dataLength;
    }
    bool haveMime;
    std::string mime;
    if (uint32_t code = ReadStringField(vm, table, "mimetype", kFieldSize, &mime, &haveMime))
        return code;
    if (haveMime) {
        if (mime.empty())
            return ERR_WRONGUSAGE;
        item->mimeType = mime;
    }
    bool haveAlias;
    std::string alias;
    if (uint32_t code = ReadStringField(vm, table, "filealias", kFieldSize, &alias, &haveAlias))
        return code;
    if (haveAlias) {
        if (item->mimeType.empty())
            return MissingField("MIMEType");
        item->alias = alias;
    } else if (!item->mimeType.empty() && item->alias.empty()) {
        return MissingField("FileAlias");
    }
    return 0;
}

uint32_t ReadFormItems(Transfer& t)
{
    VmState* vm = t.vm;
    for (int key = 0;; key++) {
        VmPushNumber(vm, key);
        VmGetTable(vm, t.formIndex);
        int type = VmType(vm, -1);
        if (type == VM_TNIL) {
            VmPop(vm, 1);
            break;
        }
        if (type != VM_TTABLE) {
            VmPop(vm, 1);
            SetErrorText("formdata");
            return ERR_TABEXPECTED2;
        }
        t.items.emplace_back();
        uint32_t code = ReadFormItem(t, VmGetTop(vm), &t.items.back());
        VmPop(vm, 1);
        if (code)
            return code;
    }
    return t.items.empty() ? static_cast<uint32_t>(ERR_WRONGUSAGE) : 0u;
}

uint32_t ReadOptions(Transfer& t)
{
    VmState* vm = t.vm;
    if (VmType(vm, 2) == VM_TNONE || VmType(vm, 2) == VM_TNIL)
        return 0;
    VmCheckTable(vm, 2);
    int32_t number;
    if (ReadIntField(vm, 2, "transfermode", &number)) {
        if (number != 'i' && number != 'a')
            return ERR_WRONGUSAGE;
        t.transferMode = number;
    }
    bool found;
    std::string unused;
    if (uint32_t code = ReadStringField(vm, 2, "file", kFileNameSize, &t.fileName, &t.haveFile))
        return code;
    if (ReadIntField(vm, 2, "encoded", &number))
        t.encoded = number != 0;
    if (uint32_t code = ReadStringField(vm, 2, "proxy", kFieldSize, &t.proxy, &found))
        return code;
    if (ReadIntField(vm, 2, "silentfail", &number))
        t.silentFail = number != 0;
    if (uint32_t code = ReadStringField(vm, 2, "customheaders", 4096, &t.customHeaders, &found))
        return code;
    if (uint32_t code = CheckCustomHeaders(&t.customHeaders))
        return code;
    if (t.upload) {
        if (uint32_t code = ReadStringField(vm, 2, "data", 0, &unused, &found, &t.data, &t.dataLength))
            return code;
        if (found && t.dataLength == 0)
            return ERR_WRONGUSAGE;
        VmPushCString(vm, "formdata");
        VmGetTable(vm, 2);
        if (VmType(vm, -1) == VM_TTABLE) {
            t.formIndex = VmGetTop(vm);  // stays on the stack for the transfer
        } else {
            if (VmType(vm, -1) != VM_TNIL) {
                VmPop(vm, 1);
                SetErrorText("formdata");
                return ERR_TABEXPECTED2;
            }
            VmPop(vm, 1);
        }
    } else {
        if (ReadIntField(vm, 2, "fail404", &number))
            t.fail404 = number != 0;
        if (ReadIntField(vm, 2, "redirect", &number))
            t.redirect = number != 0;
        if (uint32_t code = ReadStringField(vm, 2, "post", 0, &unused, &found, &t.post, &t.postLength))
            return code;
        if (found && t.postLength == 0)
            return ERR_WRONGUSAGE;
        if (uint32_t code = ReadStringField(vm, 2, "posttype", kFieldSize, &t.postType, &found))
            return code;
        if (uint32_t code = ReadStringField(vm, 2, "useragent", kFieldSize, &t.userAgent, &found))
            return code;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The URL

uint32_t ParseUrl(Transfer& t)
{
    std::string rest;
    if (StartsWithNoCase(t.url, "http://")) {
        t.scheme = 'h';
        t.port = 80;
        rest = t.url.substr(7);
    } else if (StartsWithNoCase(t.url, "ftp://")) {
        t.scheme = 'f';
        t.port = 21;
        rest = t.url.substr(6);
    } else {
        return ERR_UNKPROTOCOL;
    }
    if (t.upload && t.scheme == 'h' && t.data)
        return ERR_WRONGUSAGE;

    size_t slash = rest.find('/');
    t.path = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string hostText = rest.substr(0, slash);
    if (!t.proxy.empty()) {
        if (t.scheme != 'h' || !StartsWithNoCase(t.proxy, "http://"))
            return ERR_WRONGUSAGE;
        t.targetAuthority = hostText;
        std::string proxyRest = t.proxy.substr(7);
        hostText = proxyRest.substr(0, proxyRest.find('/'));
    }
    if (t.scheme == 'f' && t.path.size() > 7 && t.path.compare(t.path.size() - 7, 6, ";type=") == 0) {
        char mode = static_cast<char>(LowerCaseTable[static_cast<uint8_t>(t.path.back())]);
        if (mode != 'i' && mode != 'a')
            return ERR_BADURL;
        t.transferMode = mode;
        t.path.resize(t.path.size() - 7);
    }
    size_t at = hostText.rfind('@');
    if (at != std::string::npos) {
        std::string userInfo = hostText.substr(0, at);
        size_t colon = userInfo.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == userInfo.size())
            return ERR_BADURL;
        if (!DecodeCredential(userInfo.substr(0, colon), &t.user) ||
            !DecodeCredential(userInfo.substr(colon + 1), &t.password))
            return ERR_BADURL;
        if (t.user.size() >= kFieldSize || t.password.size() >= kFieldSize)
            return ERR_BADURL;
        t.credentials = true;
        hostText = hostText.substr(at + 1);
    }
    size_t colon = hostText.find(':');
    if (colon != std::string::npos) {
        size_t i = colon + 1;
        uint64_t port;
        if (!ReadDecimal(hostText, &i, 65535, &port) || port == 0)
            return ERR_BADURL;
        t.port = static_cast<uint32_t>(port);
        hostText.resize(colon);
    }
    if (hostText.empty() || hostText.size() >= kFieldSize)
        return ERR_BADURL;
    t.host = hostText;
    return 0;
}

// ---------------------------------------------------------------------------
// HTTP

uint32_t ReadHttpStatusLine(Transfer& t)
{
    std::string line;
    if (uint32_t code = ReadLine(t, t.control, kStatusLineSize, &line))
        return code;
    int32_t number = 0;
    size_t i = 5;
    uint64_t value;
    if (line.compare(0, 5, "HTTP/") != 0)
        number = 1001;
    else if (i >= line.size() || line[i] < '0' || line[i] > '9')
        number = 1002;
    else {
        while (i < line.size() && ((line[i] >= '0' && line[i] <= '9') || line[i] == '.'))
            i++;
        if (i + 1 >= line.size() || line[i] != ' ' || line[i + 1] < '0' || line[i + 1] > '9')
            number = 1003;
        else {
            i++;
            if (!ReadDecimal(line, &i, 999, &value))
                value = 0;
            t.status = static_cast<uint32_t>(value);
        }
    }
    if (number) {
        SetErrorArgNumber(number);
        return ERR_HTTPERROR;
    }
    return 0;
}

std::string SkipSpaces(const std::string& text, size_t from)
{
    while (from < text.size() && text[from] == ' ')
        from++;
    return text.substr(from);
}

uint32_t ReadHttpHeaders(Transfer& t)
{
    t.contentLength = 0;
    t.haveContentLength = false;
    t.chunked = false;
    t.location.clear();
    for (int lines = 0;; lines++) {
        if (lines >= kMaxHeaderLines)
            return ERR_MEM;
        std::string line;
        if (uint32_t code = ReadLine(t, t.control, kHeaderLineSize, &line))
            return code;
        if (line.empty())
            return 0;
        if (StartsWithNoCase(line, "content-length: ")) {
            std::string value = SkipSpaces(line, 16);
            size_t i = 0;
            uint64_t length;
            // A length that no block could hold is refused, not wrapped.
            if (ReadDecimal(value, &i, UINT32_MAX, &length)) {
                t.contentLength = length;
                t.haveContentLength = true;
            } else if (i > 0) {
                return ERR_MEM;
            }
        } else if (StartsWithNoCase(line, "transfer-encoding: ")) {
            std::string value = SkipSpaces(line, 19);
            if (value.size() == 7 && EqualsNoCase(value.data(), "chunked", 7))
                t.chunked = true;
            else if (!(value.size() == 8 && EqualsNoCase(value.data(), "identity", 8)))
                return ERR_HTTPTE;
        } else if (StartsWithNoCase(line, "location: ")) {
            t.location = SkipSpaces(line, 10);
        }
    }
}

uint32_t SendRequestBody(Transfer& t, Connection* connection, const char* data, size_t length,
                         StreamHandle* stream, int64_t expected)
{
    if (!stream)
        return SendDataChecked(t.vm, connection, reinterpret_cast<const uint8_t*>(data), length);
    std::vector<uint8_t> piece(SOCKET_BUFFER_SIZE);
    uint64_t total = 0;
    for (;;) {
        size_t n = StreamRead(stream, piece.data(), piece.size());
        if (n > 0) {
            if (uint32_t code = SendDataChecked(t.vm, connection, piece.data(), n))
                return code;
            total += n;
        }
        if (n < piece.size())
            break;
    }
    if (expected >= 0 ? total != static_cast<uint64_t>(expected) : !StreamEof(stream))
        return ERR_SENDDATA;
    return 0;
}

void ArmStatus(Transfer& t, Connection* connection, uint32_t action, uint64_t total)
{
    connection->statusArmed = t.statusFunction ? 1 : 0;
    connection->statusAction = action;
    connection->statusCount = 0;
    connection->statusTotal = total;
}

uint64_t MultipartLength(const Transfer& t)
{
    uint64_t length = 0;
    for (const FormItem& item : t.items) {
        length += t.boundary.size() + item.name.size() + 47 + item.size;
        if (!item.mimeType.empty())
            length += item.alias.size() + item.mimeType.size() + 29;
    }
    return length + t.boundary.size() + 4;
}

uint32_t SendHttpRequest(Transfer& t)
{
    bool multipart = t.upload;
    bool hasBody = multipart || t.post;
    uint64_t bodyLength = multipart ? MultipartLength(t) : t.postLength;
    std::string request = hasBody ? "POST " : "GET ";
    request += t.proxy.empty() ? t.path : t.url;
    request += " HTTP/1.1\r\n";
    request += t.customHeaders;
    request += "TE: trailers\r\nConnection: close, TE\r\nHost: ";
    request += t.proxy.empty() ? t.host : t.targetAuthority;
    request += "\r\nUser-Agent: " + t.userAgent + "\r\n";
    if (t.credentials) {
        std::string pair = t.user + ":" + t.password;
        request += "Authorization: Basic " + EncodeBase64String(pair.data(), pair.size()) + "\r\n";
    }
    if (hasBody) {
        request += "Content-Type: " + t.postType + "\r\nContent-Length: " + std::to_string(bodyLength) + "\r\n";
    }
    request += "\r\n";
    if (uint32_t code = Send(t, t.control, request))
        return code;
    if (t.post && !multipart) {
        if (uint32_t code = SendRequestBody(t, t.control, t.post, t.postLength, nullptr, -1))
            return code;
        return Send(t, t.control, "\r\n");
    }
    if (!multipart)
        return 0;
    ArmStatus(t, t.control, 0, bodyLength);
    for (FormItem& item : t.items) {
        std::string head = t.boundary + "\r\nContent-Disposition: form-data; name=\"" + item.name + "\"";
        if (!item.mimeType.empty())
            head += "; filename=\"" + item.alias + "\"\r\nContent-Type: " + item.mimeType + "\r\n";
        else
            head += "\r\n";
        head += "\r\n";
        if (uint32_t code = Send(t, t.control, head))
            return code;
        if (uint32_t code = SendRequestBody(t, t.control, item.data, item.dataLength, item.stream,
                                            static_cast<int64_t>(item.size)))
            return code;
        if (uint32_t code = Send(t, t.control, "\r\n"))
            return code;
    }
    uint32_t code = Send(t, t.control, t.boundary + "--\r\n");
    t.control->statusArmed = 0;
    return code;
}

uint32_t OpenDestinationFile(Transfer& t)
{
    if (!t.haveFile || t.upload)
        return 0;
    if (uint32_t code = BeginWholeFile(t.fileName.c_str(), STREAM_ADAPTERS, &t.destination))
        return code;
    t.file = t.destination.stream;
    return 0;
}

uint32_t ReceiveChunkedBody(Transfer& t)
{
    for (;;) {
        std::string line;
        if (uint32_t code = ReadLine(t, t.control, kFtpLineSize, &line))
            return code;
        size_t i = 0;
        while (i < line.size() && line[i] == ' ')
            i++;
        uint64_t size = 0;
        size_t digits = 0;
        for (; i < line.size() && HexValue(line[i]) >= 0; i++, digits++) {
            size = size * 16 + static_cast<uint64_t>(HexValue(line[i]));
            if (size > UINT32_MAX)
                return ERR_MEM;
        }
        if (digits == 0) {
            SetErrorArgNumber(3000);
            return ERR_HTTPERROR;
        }
        if (size == 0)
            return 0;
        size_t received;
        if (uint32_t code = ReceiveCounted(t, t.control, static_cast<size_t>(size), kUnknownTotal, &received))
            return code;
        if (t.stoppedByCallback)
            return 0;
        ReceiveOutcome outcome;
        // The line end after the chunk, whatever its two bytes are.
        char crlf[2];
        uint8_t* p = reinterpret_cast<uint8_t*>(crlf);
        size_t room = 2;
        ReceiveTarget target;
        target.block = &p;
        target.blockSize = &room;
        uint32_t armed = t.control->statusArmed;
        t.control->statusArmed = 0;
        ReceiveSocketData(t.vm, t.control, RECEIVEBYTES, 2, true, target, &outcome);
        t.control->statusArmed = armed;
        if (uint32_t code = ReceiveResultCode(outcome, t.control))
            return code;
    }
}

uint32_t RunHttp(Transfer& t, bool* redirected)
{
    *redirected = false;
    if (uint32_t code = SendHttpRequest(t))
        return code;
    if (uint32_t code = ReadHttpStatusLine(t))
        return code;
    for (int interim = 0; t.status == 100; interim++) {
        if (interim >= kMaxInterimResponses) {
            SetErrorArgNumber(100);
            return ERR_HTTPERROR;
        }
        if (uint32_t code = ReadHttpHeaders(t))
            return code;
        if (uint32_t code = ReadHttpStatusLine(t))
            return code;
    }
    if (t.status == 401 && !t.credentials)
        return ERR_REQAUTH;
    if (t.status == 404 && t.fail404) {
        SetErrorText(t.path.c_str());
        return ERR_FILENOTFOUND;
    }
    if (uint32_t code = ReadHttpHeaders(t))
        return code;
    if ((t.status == 301 || t.status == 302) && !t.location.empty() && t.redirect &&
        t.redirectsFollowed < kMaxRedirects) {
        *redirected = true;
        return 0;
    }
    if (t.status == 204 || t.status == 304 || (t.status >= 100 && t.status <= 199)) {
        SetErrorArgNumber(static_cast<int32_t>(t.status));
        return ERR_HTTPERROR;
    }
    if (uint32_t code = OpenDestinationFile(t))
        return code;
    uint32_t action = t.upload ? 1 : 0;
    if (t.chunked) {
        ArmStatus(t, t.control, action, 0);
        return ReceiveChunkedBody(t);
    }
    if (t.haveContentLength) {
        ArmStatus(t, t.control, action, t.contentLength);
        size_t received;
        auto length = static_cast<size_t>(t.contentLength);
        if (!t.file && length && t.contentLength <= kTrustedLength) {
            if (uint32_t code = ResizeBlock(t, length))
                return code;
        }
        return ReceiveCounted(t, t.control, length, length, &received);
    }
    ArmStatus(t, t.control, action, kUnknownLengthBlock);
    if (!t.file) {
        if (uint32_t code = ResizeBlock(t, kUnknownLengthBlock))
            return code;
    }
    return ReceiveUntilClosed(t, t.control);
}

// ---------------------------------------------------------------------------
// FTP

uint32_t FtpError(int32_t number)
{
    SetErrorArgNumber(number);
    return ERR_FTPERROR;
}

bool LineCode(const std::string& line, uint32_t* code)
{
    size_t i = 0;
    uint64_t value;
    if (!ReadDecimal(line, &i, 99999, &value))
        return false;
    *code = static_cast<uint32_t>(value);
    return true;
}

uint32_t ReadFtpReply(Transfer& t, uint32_t* reply)
{
    std::string line;
    if (uint32_t code = ReadLine(t, t.control, kFtpLineSize, &line))
        return code;
    if (!LineCode(line, reply))
        *reply = 0;
    if (line.size() > 3 && line[3] == '-') {
        for (int lines = 0;; lines++) {
            if (lines >= kMaxFtpReplyLines)
                return FtpError(1);
            if (uint32_t code = ReadLine(t, t.control, kFtpLineSize, &line))
                return code;
            uint32_t number;
            // Lines without a number of their own are the reply's text.
            if (!LineCode(line, &number))
                continue;
            if (number != *reply)
                return FtpError(1);
            if (!(line.size() > 3 && line[3] == '-'))
                break;
        }
    }
    t.ftpReply = line;
    return 0;
}

uint32_t ExpectFtp2xx(Transfer& t)
{
    uint32_t reply;
    if (uint32_t code = ReadFtpReply(t, &reply))
        return code;
    return reply >= 200 && reply <= 299 ? 0u : FtpError(0);
}

// The size a "150" reply announces: a number right before " bytes".
uint64_t AnnouncedSize(const std::string& text)
{
    const size_t suffix = 6;
    if (text.size() < suffix + 5 || !EqualsNoCase(text.data() + text.size() - suffix, " bytes", suffix))
        return 0;
    size_t end = text.size() - suffix;
    size_t start = end;
    while (start > 4 && text[start - 1] >= '0' && text[start - 1] <= '9')
        start--;
    if (start == end)
        return 0;
    size_t i = start;
    uint64_t value;
    return ReadDecimal(text, &i, UINT32_MAX, &value) ? value : 0;
}

uint32_t OpenPassiveConnection(Transfer& t)
{
    if (uint32_t code = Send(t, t.control, "pasv\r\n"))
        return code;
    if (uint32_t code = ExpectFtp2xx(t))
        return code;
    uint64_t numbers[6];
    int count = 0;
    for (size_t i = 4; i < t.ftpReply.size();) {
        if (t.ftpReply[i] < '0' || t.ftpReply[i] > '9') {
            i++;
            continue;
        }
        uint64_t value;
        if (count == 6 || !ReadDecimal(t.ftpReply, &i, 255, &value))
            return FtpError(2);
        numbers[count++] = value;
    }
    if (count != 6)
        return FtpError(2);
    char address[16];
    std::snprintf(address, sizeof address, "%u.%u.%u.%u", static_cast<unsigned>(numbers[0]),
                  static_cast<unsigned>(numbers[1]), static_cast<unsigned>(numbers[2]),
                  static_cast<unsigned>(numbers[3]));
    uint32_t port = static_cast<uint32_t>(numbers[4] * 256 + numbers[5]);
    if (port == 0)
        return FtpError(2);
    return Connect(t, address, port, &t.dataConnection);
}

uint32_t ReceiveFtpBody(Transfer& t)
{
    for (;;) {
        size_t received;
        uint32_t code = ReceiveCounted(t, t.dataConnection, kFtpRound, kUnknownTotal, &received);
        if (t.stoppedByCallback)
            return 0;
        if (code == ERR_RECVCLOSED)
            return 0;
        if (code)
            return code;
    }
}

uint32_t RunFtp(Transfer& t)
{
    uint32_t reply;
    if (uint32_t code = ReadFtpReply(t, &reply))
        return code;
    if (reply >= 100 && reply <= 199) {
        if (uint32_t code = ReadFtpReply(t, &reply))
            return code;
    }
    if (reply < 200 || reply > 299)
        return FtpError(0);
    if (uint32_t code = Send(t, t.control, "user " + t.user + "\r\n"))
        return code;
    if (uint32_t code = ReadFtpReply(t, &reply))
        return code;
    if (reply == 331) {
        if (uint32_t code = Send(t, t.control, "pass " + t.password + "\r\n"))
            return code;
        if (uint32_t code = ReadFtpReply(t, &reply))
            return code;
        if (reply == 530)
            return ERR_FTPAUTH;
    }
    if (reply < 200 || reply > 299)
        return FtpError(0);
    if (uint32_t code = OpenPassiveConnection(t))
        return code;
    if (uint32_t code = Send(t, t.control, std::string("type ") + static_cast<char>(t.transferMode) + "\r\n"))
        return code;
    if (uint32_t code = ReadFtpReply(t, &reply))
        return code;
    if (reply != 200)
        return FtpError(0);
    if (uint32_t code = Send(t, t.control, (t.upload ? "stor " : "retr ") + t.path + "\r\n"))
        return code;
    uint32_t transferReply;
    if (uint32_t code = ReadFtpReply(t, &transferReply))
        return code;
    if (transferReply < 100 || transferReply > 299) {
        if (transferReply == 550) {
            SetErrorText(t.path.c_str());
            return t.upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND;
        }
        return FtpError(0);
    }
    uint32_t code;
    if (t.upload) {
        ArmStatus(t, t.dataConnection, 0, t.file ? t.fileSize : 0);
        code = SendRequestBody(t, t.dataConnection, t.data, t.dataLength, t.file,
                               t.file ? static_cast<int64_t>(t.fileSize) : -1);
        if (code == ERR_USERABORT && !VmAbortFlag.load()) {
            t.stoppedByCallback = true;
            code = 0;
        }
    } else {
        uint64_t announced = transferReply == 150 ? AnnouncedSize(t.ftpReply) : 0;
        code = OpenDestinationFile(t);
        if (!code) {
            ArmStatus(t, t.dataConnection, 0, announced);
            code = ReceiveFtpBody(t);
        }
    }
    Transfer::DropConnection(&t.dataConnection);
    if (code)
        return code;
    if (t.stoppedByCallback)
        return 0;
    if (transferReply < 200) {
        if (uint32_t c = ExpectFtp2xx(t))
            return c;
    }
    Send(t, t.control, "quit\r\n");
    return 0;
}

// ---------------------------------------------------------------------------

uint32_t Prepare(Transfer& t)
{
    if (uint32_t code = StartNetwork())
        return code;
    OsTimeValue now;
    OsGetTime(&now);
    char boundary[64];
    std::snprintf(boundary, sizeof boundary, "-----------Quillmere%.8lx%.8lx",
                  static_cast<unsigned long>(now.seconds), static_cast<unsigned long>(now.microseconds));
    t.boundary = boundary;
    // Before the options: reading them leaves the form table on the stack.
    int arguments = VmGetTop(t.vm);
    if (arguments >= 3) {
        VmCheckFunction(t.vm, 3);
        t.statusFunction = true;
    }
    t.statusUserdata = arguments >= 4;
    if (uint32_t code = ReadOptions(t))
        return code;
    if (t.upload) {
        if (t.data && t.haveFile)
            return ERR_WRONGUSAGE;
        if (t.haveFile) {
            if (uint32_t code = OpenSourceFile(t.vm, t.fileName, &t.file, &t.fileSize))
                return code;
        }
    }
    size_t length;
    const char* url = VmCheckString(t.vm, 1, &length);
    if (!t.encoded)
        t.url = UrlEncodeString(url, length);
    else if (!NormaliseUrlEscapes(url, &t.url))
        return ERR_WRONGUSAGE;
    return 0;
}

uint32_t Run(Transfer& t)
{
    if (uint32_t code = Prepare(t))
        return code;
    for (;;) {
        if (uint32_t code = ParseUrl(t))
            return code;
        if (t.upload && t.scheme == 'h') {
            // The response of an HTTP upload has nowhere to go but memory.
            if (t.haveFile || !t.formIndex)
                return ERR_WRONGUSAGE;
            if (t.items.empty()) {
                if (uint32_t code = ReadFormItems(t))
                    return code;
            }
            t.postType = "multipart/form-data; boundary=" + t.boundary.substr(2);
        }
        if (t.upload && t.scheme == 'f' && !t.data && !t.file)
            return ERR_WRONGUSAGE;
        if (uint32_t code = Connect(t, t.host.c_str(), t.port, &t.control))
            return code;
        if (t.scheme == 'f')
            return RunFtp(t);
        bool redirected;
        if (uint32_t code = RunHttp(t, &redirected))
            return code;
        if (!redirected)
            return 0;
        t.redirectsFollowed++;
        Transfer::DropConnection(&t.control);
        t.url = t.location;
        t.user = "anonymous";
        t.password = kDefaultPassword;
        t.credentials = false;
        t.targetAuthority.clear();
    }
}

uint32_t TransferUrl(VmState* vm, bool upload)
{
    uint32_t code;
    bool silentFail;
    {
        Transfer t;
        t.vm = vm;
        t.upload = upload;
        code = Run(t);
        silentFail = t.silentFail;
        if (t.destination.stream) {
            if (!code)
                code = FlushStage(t);
            t.file = nullptr;
            // A failed transfer leaves the new file to the writer, which
            // removes it; bytes lost at the close are the close's failure.
            if (!code && (code = CommitWholeFile(&t.destination)) == ERR_WRITE)
                code = ERR_CLOSEFILE;
        }
        if (!code) {
            if (t.upload && t.scheme == 'f')
                return 0;
            size_t size = t.stoppedByCallback && t.control ? t.control->statusCount : t.bodySize;
            if (t.haveFile && !t.upload)
                VmPushCString(vm, "");
            else if (t.scheme == 'f' && t.stoppedByCallback)
                VmPushCString(vm, ""), size = 0;
            else if (t.block)
                VmPushStringBlock(vm, reinterpret_cast<char*>(std::exchange(t.block, nullptr)), t.blockSize,
                                  std::min(size, t.bodySize));
            else
                VmPushCString(vm, "");
            VmPushNumber(vm, static_cast<double>(size));
            return 2;
        }
    }
    if (!silentFail || code == ERR_USERABORT || VmAbortFlag.load())
        return code;
    char message[ERROR_TEXT_SIZE];
    GetErrorText(code, message, sizeof message);
    VmPushCString(vm, message);
    VmPushNumber(vm, -1);
    return 2;
}

}  // namespace

std::string UrlEncodeString(const char* text, size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; i++) {
        auto c = static_cast<uint8_t>(text[i]);
        if (IsSafe(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool NormaliseUrlEscapes(const char* text, std::string* out)
{
    out->clear();
    for (const char* p = text; *p;) {
        if (*p != '%') {
            *out += *p++;
            continue;
        }
        int value = 0;
        int digits = 0;
        while (digits < 2 && HexValue(p[1 + digits]) >= 0) {
            value = value * 16 + HexValue(p[1 + digits]);
            digits++;
        }
        if (digits == 0)
            return false;
        if (IsSafe(static_cast<uint8_t>(value)))
            *out += static_cast<char>(value);
        else
            out->append(p, static_cast<size_t>(1 + digits));
        p += 1 + digits;
    }
    return true;
}

uint32_t CmdDownloadFile(VmState* vm)
{
    CheckArgs(vm, 1, 4, 0, 0);
    return TransferUrl(vm, false);
}

uint32_t CmdUploadFile(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    return TransferUrl(vm, true);
}
