// Files linked into an applet, as every command that takes a file name sees
// them: readers (and declarations) read the linked file before a disk file
// of its name, writers write the disk file, DeleteFile and Rename refuse
// the name. A guard holds the table of those commands against the
// registered ones and their descriptions, so that a new one cannot be left
// out. The files come from PIL, Python's wave and zlib, and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/test_applet.h"
#include "libs/network/network_fixture.h"
#include "support/picture_oracle.h"
#include "support/shell_output.h"
#include "tools/player_tables.h"
#include "tools/qmasm/assembled_applet.h"

using namespace qmasm;

namespace {

// What a command does with the file name it takes.
enum class Use {
    Reads,   // opens the named file for reading: a linked file wins
    Writes,  // writes or changes the file on disk, by the name as given
    Refuses, // deletes or renames: a linked name is refused, the disk left alone
    NoFile,  // the name is no file of the applet (the note says what it is)
};

struct FileNameCommand {
    const char* library;
    const char* command;
    Use use;
    const char* note;  // the argument meant, or what the name is instead
};

// Every registered command that takes a file name, in any argument or
// option field.
const FileNameCommand kFileNameCommands[] = {
    {"dos", "OpenFile", Use::Reads, "file, with #MODE_READ (the other modes write it as given)"},
    {"dos", "Exists", Use::Reads, "path"},
    {"dos", "FileSize", Use::Reads, "file"},
    {"dos", "IsDirectory", Use::Reads, "path"},
    {"dos", "GetFileAttributes", Use::Reads, "path"},
    {"dos", "CRC32", Use::Reads, "file"},
    {"dos", "MD5", Use::Reads, "file"},
    {"dos", "FileToString", Use::Reads, "file"},
    {"dos", "FileLines", Use::Reads, "file"},
    {"dos", "CopyFile", Use::Reads, "source (the destination is a folder on disk)"},
    {"dos", "DefineVirtualFile", Use::Reads, "file"},
    {"dos", "CompressFile", Use::Reads, "source (the destination is written as given)"},
    {"dos", "DecompressFile", Use::Reads, "source (the destination is written as given)"},
    {"dos", "Execute", Use::Reads, "the program of the command line, run from a copy"},
    {"dos", "Run", Use::Reads, "the program of the command line, run from a copy"},
    {"graphics", "IsPicture", Use::Reads, "file"},
    {"brush", "LoadBrush", Use::Reads, "file"},
    {"bgpic", "LoadBGPic", Use::Reads, "file"},
    {"anim", "LoadAnim", Use::Reads, "file"},
    {"sprite", "LoadSprite", Use::Reads, "file"},
    {"sound", "LoadSample", Use::Reads, "file"},
    {"sound", "OpenMusic", Use::Reads, "file"},
    {"video", "OpenVideo", Use::Reads, "file"},
    {"text", "OpenFont", Use::Reads, "a font file, or the name of a linked font"},
    {"network", "UploadFile", Use::Reads, "option File and the File of form items"},
    {"dos", "StringToFile", Use::Writes, "file"},
    {"dos", "DeleteFile", Use::Refuses, "path"},
    {"dos", "Rename", Use::Refuses, "old"},
    {"dos", "SetFileAttributes", Use::Writes, "path"},
    {"brush", "SaveBrush", Use::Writes, "file"},
    {"graphics", "SaveSnapshot", Use::Writes, "file"},
    {"system", "CreateShortcut", Use::Writes, "link"},
    {"network", "DownloadFile", Use::Writes, "option File"},
    {"dos", "MakeDirectory", Use::NoFile, "a folder; linked files are files"},
    {"dos", "ChangeDirectory", Use::NoFile, "a folder; linked files are files"},
    {"dos", "OpenDirectory", Use::NoFile, "a folder; linked files are files"},
    {"dos", "ReadDirectory", Use::NoFile, "a folder; linked files are files"},
    {"dos", "PathPart", Use::NoFile, "text only: nothing is opened"},
    {"dos", "FilePart", Use::NoFile, "text only: nothing is opened"},
    {"dos", "FullPath", Use::NoFile, "text only: nothing is opened"},
    {"dos", "MatchPattern", Use::NoFile, "text only: nothing is opened"},
    {"dos", "GetVolumeInfo", Use::NoFile, "a volume of the host"},
    {"dos", "GetVolumeName", Use::NoFile, "a volume of the host"},
    {"dos", "DefineVirtualFileFromString", Use::NoFile, "the name a virtual file goes by"},
    {"dos", "UndefineVirtualStringFile", Use::NoFile, "a virtual file the runtime named"},
    {"memblock", "AllocMemFromVirtualFile", Use::NoFile, "a virtual file the runtime named"},
    {"dos", "GetAsset", Use::NoFile, "answered unchanged; what opens it finds the linked file"},
    {"system", "LoadPlugin", Use::NoFile, "a plugin, found among the plugins"},
    {"system", "HavePlugin", Use::NoFile, "a plugin, found among the plugins"},
    {"system", "EnablePlugin", Use::NoFile, "a plugin, found among the plugins"},
    {"system", "DisablePlugin", Use::NoFile, "a plugin, found among the plugins"},
    {"system", "OpenCatalog", Use::NoFile, "a catalog, looked for under Catalogs by language"},
    {"system", "FileRequest", Use::NoFile, "what the requester offers"},
    {"system", "PathRequest", Use::NoFile, "what the requester offers"},
    {"system", "ReadRegistryKey", Use::NoFile, "a key of the registry"},
    {"system", "WriteRegistryKey", Use::NoFile, "a key of the registry"},
    {"system", "GetShortcutPath", Use::NoFile, "a desktop shortcut of the host"},
};

// The guard's reading of tools/command_docs.txt: the described commands,
// and those with an argument that names a file (a string argument about a
// file, folder, path, program, plugin, shortcut or asset, or an
// options table with a File field).
void ReadDescriptions(const std::string& path, std::set<std::string>* described, std::set<std::string>* withFileName)
{
    std::ifstream in(path);
    std::string line, command;
    const std::regex arg(R"(arg (\S+): ([^:]*):(.*))");
    const std::regex aboutFiles(R"(\b(file|folder|path|program|plugin|shortcut|asset))", std::regex::icase);
    const std::regex fileField(R"(\bFile\b)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (line.rfind("command ", 0) == 0) {
            command = line.substr(8);
            described->insert(command);
        } else if (line.rfind("library ", 0) == 0 || line.rfind("section ", 0) == 0) {
            command.clear();
        } else if (!command.empty() && std::regex_match(line, m, arg)) {
            std::string type = m[2], text = m[3];
            if ((type.rfind("string", 0) == 0 && std::regex_search(text, aboutFiles)) ||
                (type.rfind("table", 0) == 0 && std::regex_search(text, fileField)))
                withFileName->insert(command);
        }
    }
}

const FileNameCommand* FindRow(const std::string& command)
{
    for (const FileNameCommand& row : kFileNameCommands)
        if (command == row.command)
            return &row;
    return nullptr;
}

TEST(FileNameCommands, TheTableNamesEveryRegisteredCommandThatTakesAFileName)
{
    PlayerTables tables;
    ASSERT_EQ(OpenPlayerTables(&tables), 0u);
    std::map<std::string, std::string> registered;  // command -> library
    for (const PlayerLibrary& library : tables.libraries)
        for (const PlayerCommand& c : library.commands)
            registered[c.name] = library.name;
    ClosePlayerTables(&tables);
    ASSERT_GT(registered.size(), 300u);

    for (const FileNameCommand& row : kFileNameCommands) {
        auto at = registered.find(row.command);
        ASSERT_NE(at, registered.end()) << row.command << " is no registered command";
        EXPECT_EQ(at->second, row.library) << row.command;
    }
    std::set<std::string> described, withFileName;
    ReadDescriptions(QM_COMMAND_DOCS, &described, &withFileName);
    ASSERT_GT(described.size(), 300u);
    for (const auto& [command, library] : registered) {
        if (!described.count(command) || withFileName.count(command)) {
            EXPECT_NE(FindRow(command), nullptr)
                << library << "." << command
                << (described.count(command) ? " takes a file name: add it to this table"
                                             : " has no description: describe it in tools/command_docs.txt, "
                                               "and when it takes a file name add it to this table");
        }
    }
}

// The suite's files: one folder as they are linked into the applet, one with
// different files of the same names for the disk beside it.
const char kMakeFiles[] = R"PY(
import hashlib, math, os, shutil, struct, sys, wave, zlib
from PIL import Image
folder, variant, font = sys.argv[1], sys.argv[2], sys.argv[3]
linked = variant == 'linked'
os.makedirs(folder, exist_ok=True)
def put(name, data):
    open(os.path.join(folder, name), 'wb').write(data)
w, h = (32, 16) if linked else (24, 8)
im = Image.new('RGB', (w, h))
im.putdata([((x * 7) % 256, (y * 29) % 256, 90 if linked else 200) for y in range(h) for x in range(w)])
im.save(os.path.join(folder, 'pic.png'))
frames = [Image.new('RGB', (10, 6), (60 * i, 255 - 60 * i, 128)) for i in range(3 if linked else 2)]
frames[0].save(os.path.join(folder, 'anim.gif'), save_all=True, append_images=frames[1:], duration=100, loop=0)
with wave.open(os.path.join(folder, 'snd.wav'), 'wb') as s:
    s.setnchannels(1)
    s.setsampwidth(2)
    s.setframerate(8000 if linked else 11025)
    s.writeframes(b''.join(struct.pack('<h', int(9000 * math.sin(i * 0.2))) for i in range(800)))
text = ('%s text\nsecond %s line\n' % (variant, variant)).encode()
put('text.txt', text)
put('pack.pak', b'QMPK\0\0\0\0' + zlib.compress(('packed ' + variant).encode()))
put('prog.sh', ('#!/bin/sh\necho "$1 %s program"\n' % variant).encode())
shutil.copyfile(font, os.path.join(folder, 'font.ttf'))
for name in sys.argv[4:]:
    put(name + '.txt', ('%s %s' % (variant, name)).encode())
put('digests', ('%d %s' % (zlib.crc32(text), hashlib.md5(text).hexdigest())).encode())
)PY";

// The writers each get a file of their own to write over.
const std::vector<std::string> kWriterFiles = {"stringtofile", "setfileattributes", "savebrush",
                                               "savesnapshot", "createshortcut",    "downloadfile"};

// The files that every applet here links under "lk/".
const std::vector<std::string> kLinkedNames = {"pic.png", "anim.gif", "snd.wav",  "vid.mp4",
                                               "text.txt", "pack.pak", "prog.sh", "font.ttf"};

std::string Q(const std::string& text) { return "\"" + text + "\""; }

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return text;
}

// DebugPrint of a label and the value in r0.
std::string Print(const std::string& label)
{
    return "    MOVE r2, r0\n    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, " + Q(label) + "\n    CALL r0, 3, 1\n";
}

std::string Attribute(const std::string& type, const std::string& id, const std::string& attribute)
{
    return CommandCall("getattribute", {"#" + type, id, "#" + attribute}, 1);
}

// What one command's part of an applet does, and the line that shows it
// took the linked file.
struct Case {
    std::string script;
    std::string expected;
    // Writers: what the file on disk must be afterwards (a failure message,
    // empty when it is right).
    std::function<std::string(const std::string& folder)> diskCheck = nullptr;
};

std::string Text(const std::string& file)
{
    std::vector<uint8_t> bytes = FileExists(file) ? ReadFileBytes(file) : std::vector<uint8_t>{};
    return std::string(bytes.begin(), bytes.end());
}

// An HTTP peer on 127.0.0.1 for the player's transfers: each request (its
// head and a body of Content-Length bytes) is answered with what `answer`
// makes of it, until the test is done with the peer.
class HttpPeer {
public:
    explicit HttpPeer(std::function<std::string(const std::string& request)> answer)
    {
        listener_ = nettest::ListenLoopback(&port_);
        thread_ = std::thread([this, answer] {
            while (!done_) {
                if (!nettest::WaitReadable(listener_, 50))
                    continue;
                int fd = accept(listener_, nullptr, nullptr);
                if (fd < 0)
                    continue;
                std::string request = nettest::ReadUntil(fd, "\r\n\r\n");
                size_t at = request.find("Content-Length: "), end = request.find("\r\n\r\n") + 4;
                if (at != std::string::npos && end + std::stoul(request.substr(at + 16)) > request.size())
                    request += nettest::ReadUntil(fd, "", end + std::stoul(request.substr(at + 16)) - request.size());
                std::string body = answer(request);
                nettest::WriteAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                          "\r\nConnection: close\r\n\r\n" + body);
                close(fd);
            }
        });
    }
    ~HttpPeer()
    {
        done_ = true;
        thread_.join();
        close(listener_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class LinkedFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!HavePil() || !HaveFfmpeg())
            return;
        files = new TempDir;
        std::string names;
        for (const std::string& w : kWriterFiles)
            names += " " + w;
        bool made = true;
        for (const char* variant : {"linked", "disk"}) {
            std::string font = std::string("/usr/share/fonts/truetype/ttf-bitstream-vera/") +
                               (variant[0] == 'l' ? "Vera.ttf" : "VeraMono.ttf");
            made = made && RunPython(files->path(), kMakeFiles,
                                     files->file(variant) + " " + variant + " " + font + names);
            std::string size = variant[0] == 'l' ? "48x32" : "32x16";
            ShellOutput("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                        ":rate=10:duration=0.5 -pix_fmt yuv420p -c:v mpeg4 -q:v 2 '" +
                        files->file(std::string(variant) + "/vid.mp4") + "'");
            made = made && FileExists(files->file(std::string(variant) + "/vid.mp4"));
        }
        if (!made) {
            delete files;
            files = nullptr;
            return;
        }
        tablesOpen = OpenPlayerTables(&tables) == 0;
    }
    static void TearDownTestSuite()
    {
        if (tablesOpen)
            ClosePlayerTables(&tables);
        tablesOpen = false;
        delete files;
        files = nullptr;
    }
    void SetUp() override
    {
        QM_SKIP_WITHOUT(files) << "PIL, ffmpeg and the Vera fonts make the files";
        ASSERT_TRUE(tablesOpen) << "the player's tables did not open";
        ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
        std::istringstream digests(Text(files->file("linked/digests")));
        digests >> crc >> md5;
        linkedText = Text(files->file("linked/text.txt"));
    }

    // Assembly text as the main function of an applet that links the
    // linked folder's files under "lk/" (and "lk/notadir", a file).
    AppletDescription Applet(const std::string& body)
    {
        AssembleOptions options;
        options.constants = [](const std::string& name, Constant* out) {
            PlayerConstant c;
            if (!FindPlayerConstant(tables, name, &c))
                return false;
            out->type = c.isText ? kConstString : kConstNumber;
            out->number = c.number;
            out->text = c.text;
            return true;
        };
        AppletDescription a = AssembleTestApplet(MainScript(CommandCall("exitonerror", {"#0"}) + body), options);
        std::vector<std::string> names = kLinkedNames;
        for (const std::string& w : kWriterFiles)
            names.push_back(w + ".txt");
        for (const std::string& name : names)
            a.linkedFiles.push_back(
                {"lk/" + name, AppletLinkedFile::Storage::Inline, ReadFileBytes(files->file("linked/" + name)), 0, 0});
        a.linkedFiles.push_back({"lk/notadir", AppletLinkedFile::Storage::Inline, {'x'}, 0, 0});
        return a;
    }

    // Puts the disk's files beside the applet under the linked names; the
    // linked "lk/notadir" meets a folder.
    void Shadow()
    {
        ShellOutput("mkdir -p '" + dir.file("lk/notadir") + "' && cp '" + files->file("disk") + "'/* '" +
                    dir.file("lk") + "/'");
        ASSERT_EQ(chmod(dir.file("lk/prog.sh").c_str(), 0755), 0);
        for (const std::string& name : kLinkedNames)
            ASSERT_TRUE(FileExists(dir.file("lk/" + name))) << name;
    }

    // The readers, each on a linked name.
    std::map<std::string, Case> Readers(const std::string& url)
    {
        const std::string text = Q("lk/text.txt"), pic = Q("lk/pic.png");
        const std::string size = std::to_string(linkedText.size());
        std::map<std::string, Case> c;
        // Each prints the value in r0 after its calls.
        auto add = [&c](const std::string& command, const std::string& calls, const std::string& shown) {
            c[command] = {calls + Print(command), command + " " + shown};
        };
        const std::string firstAnswers[][3] = {
            {"Exists", text, "1"}, {"FileSize", text, size}, {"IsDirectory", Q("lk/notadir"), "0"},
            {"CRC32", text, crc},  {"MD5", text, md5},       {"FileToString", text, linkedText},
        };
        for (const auto& [command, file, shown] : firstAnswers)
            add(command, CommandCall(Lower(command), {file}, 1), shown);
        add("OpenFile", CommandCall("openfile", {"#1", text, "#MODE_READ"}) + CommandCall("readline", {"#1"}, 1),
            "linked text");
        c["OpenFile"].script += CommandCall("closefile", {"#1"});
        add("GetFileAttributes", CommandCall("getfileattributes", {text}, 1) + "    GETTABLE r0, r0, \"size\"\n", size);
        add("FileLines",
            CommandCall("filelines", {text}, 2) +
                "    MOVE r5, r0\n    MOVE r6, r1\n    LOADNIL r7, r7\n    CALL r5, 3, 2\n    MOVE r0, r5\n",
            "linked text");
        add("CopyFile", CommandCall("copyfile", {text, Q("out")}) + CommandCall("filetostring", {Q("out/text.txt")}, 1),
            linkedText);
        add("DefineVirtualFile",
            CommandCall("definevirtualfile", {text, "#0", "#6", Q("part.txt")}, 1) +
                "    MOVE r1, r0\n    GETGLOBAL r0, \"filetostring\"\n    CALL r0, 2, 2\n",
            "linked");
        add("CompressFile",
            CommandCall("compressfile", {text, Q("out/c.pak")}) +
                CommandCall("decompressfile", {Q("out/c.pak"), Q("out/c.txt")}) +
                CommandCall("filetostring", {Q("out/c.txt")}, 1),
            linkedText);
        add("DecompressFile",
            CommandCall("decompressfile", {Q("lk/pack.pak"), Q("out/d.txt")}) +
                CommandCall("filetostring", {Q("out/d.txt")}, 1),
            "packed linked");
        add("IsPicture", CommandCall("ispicture", {pic}, 2) + "    GETTABLE r0, r1, \"width\"\n", "32");
        // The program prints the line itself.
        c["Execute"] = {CommandCall("execute", {Q("lk/prog.sh Execute")}), "Execute linked program"};
        // With a handler for its end, Run's program is waited for.
        c["Run"] = {std::string(".function onprogramend params=1\n    LOADK r1, #1\n    SETGLOBAL r1, \"runended\"\n"
                    "    RETURN r0, 1\n.end\n"
                    "    LOADK r0, #0\n    SETGLOBAL r0, \"runended\"\n    CLOSURE r5, onprogramend\n") +
                        "    GETGLOBAL r0, \"installeventhandler\"\n    NEWTABLE r1, 0, 0\n"
                        "    SETTABLE r1, \"onprogramend\", r5\n    CALL r0, 2, 1\n" +
                        CommandCall("run", {Q("lk/prog.sh Run")}) + CommandCall("getlasterror", {}, 1) +
                        "    EQ 0, r0, #0\n    JMP runskip\nrunwait:\n" + CommandCall("waitevent", {}) +
                        "    GETGLOBAL r0, \"runended\"\n    EQ 1, r0, #0\n    JMP runwait\nrunskip:\n",
                    "Run linked program"};
        // The loaders, each asked afterwards about what it loaded.
        const struct {
            const char *command, *file, *type, *attribute, *shown;
        } loaders[] = {
            {"LoadBrush", "pic.png", "BRUSH", "ATTRWIDTH", "32"},
            {"LoadBGPic", "pic.png", "BGPIC", "ATTRWIDTH", "32"},
            {"LoadAnim", "anim.gif", "ANIM", "ATTRNUMFRAMES", "3"},
            {"LoadSprite", "anim.gif", "SPRITE", "ATTRNUMFRAMES", "3"},
            {"LoadSample", "snd.wav", "SAMPLE", "ATTRPITCH", "8000"},
            {"OpenMusic", "snd.wav", "MUSIC", "ATTRPITCH", "8000"},
            {"OpenVideo", "vid.mp4", "VIDEO", "ATTRWIDTH", "48"},
            {"OpenFont", "font.ttf", "FONT", "ATTRFONTNAME", "Bitstream Vera Sans"},
        };
        for (const auto& l : loaders) {
            std::vector<std::string> operands = {"#2", Q(std::string("lk/") + l.file)};
            if (l.type == std::string("FONT"))
                operands.push_back("#12");
            add(l.command, CommandCall(Lower(l.command), operands) + Attribute(l.type, "#2", l.attribute), l.shown);
        }
        add("UploadFile",
            "    GETGLOBAL r0, \"uploadfile\"\n    LOADK r1, " + Q(url) +
                "\n    NEWTABLE r2, 0, 0\n    NEWTABLE r3, 0, 0\n    NEWTABLE r4, 0, 0\n"
                "    SETTABLE r4, \"name\", \"f\"\n    SETTABLE r4, \"file\", " + text +
                "\n    SETTABLE r3, #0, r4\n    SETTABLE r2, \"formdata\", r3\n    CALL r0, 3, 2\n",
            "saw linked");
        return c;
    }

    // The writers, each on a linked name of its own with a file of the same
    // name on disk; each shows afterwards that reads still see the linked
    // file.
    std::map<std::string, Case> Writers(const std::string& url)
    {
        std::map<std::string, Case> c;
        auto add = [&c](const std::string& command, const std::string& calls,
                        std::function<std::string(const std::string& file)> check) {
            const std::string name = "lk/" + Lower(command) + ".txt";
            c[command] = {calls + CommandCall("filetostring", {Q(name)}, 1) + Print(command),
                          command + " linked " + Lower(command),
                          [name, check](const std::string& folder) { return check(folder + "/" + name); }};
        };
        auto holds = [](const std::string& want) {
            return [want](const std::string& file) {
                std::string got = Text(file);
                return got.rfind(want, 0) == 0 ? std::string() : file + " holds \"" + got + "\"";
            };
        };
        add("StringToFile", CommandCall("stringtofile", {Q("written"), Q("lk/stringtofile.txt")}), holds("written"));
        add("SetFileAttributes",
            CommandCall("setfileattributes", {Q("lk/setfileattributes.txt"), "{flags=#FILEATTR_READ_USR}"}),
            [](const std::string& file) {
                struct stat st {};
                if (stat(file.c_str(), &st) != 0)
                    return std::string("the disk file is gone");
                return (st.st_mode & 0200) ? std::string("the disk file stays writable") : std::string();
            });
        add("SaveBrush",
            CommandCall("loadbrush", {"#1", Q("lk/pic.png")}) +
                CommandCall("savebrush", {"#1", Q("lk/savebrush.txt"), "#IMGFMT_PNG"}),
            [](const std::string& file) {
                // The linked picture's width, in the PNG's header.
                std::string png = Text(file);
                if (png.size() < 24 || png.compare(1, 3, "PNG") != 0)
                    return std::string("no PNG on disk");
                return png[19] == 32 ? std::string() : std::string("the PNG is not 32 wide");
            });
        add("SaveSnapshot", CommandCall("savesnapshot", {Q("lk/savesnapshot.txt"), "#SNAPDISPLAY", "#IMGFMT_PNG"}),
            holds("\x89PNG"));
        add("CreateShortcut", CommandCall("createshortcut", {Q("/bin/true"), Q("lk/createshortcut.txt"), Q("s")}),
            holds("[Desktop Entry]"));
        add("DownloadFile", CommandCall("downloadfile", {Q(url), "{file=\"lk/downloadfile.txt\"}"}),
            holds("downloaded"));
        return c;
    }

    // The applet with declarations that call the loaders, each of a linked
    // name, and scripts that ask about each object.
    AppletDescription Declared(std::map<std::string, Case>* cases)
    {
        const struct {
            uint8_t kind;
            uint32_t id;
            const char* label;
            const char* file;
            std::string query;
            const char* shown;
        } declared[] = {
            {0, 5, "LoadBGPic", "lk/pic.png", Attribute("BGPIC", "#5", "ATTRWIDTH"), "32"},
            {1, 5, "LoadBrush", "lk/pic.png", Attribute("BRUSH", "#5", "ATTRWIDTH"), "32"},
            {2, 5, "LoadAnim", "lk/anim.gif", Attribute("ANIM", "#5", "ATTRNUMFRAMES"), "3"},
            // The second declaration of a file takes the frames the first loaded.
            {2, 6, "LoadAnim shared", "lk/anim.gif", Attribute("ANIM", "#6", "ATTRNUMFRAMES"), "3"},
            {7, 5, "LoadSprite", "lk/anim.gif", Attribute("SPRITE", "#5", "ATTRNUMFRAMES"), "3"},
            {4, 5, "LoadSample", "lk/snd.wav", Attribute("SAMPLE", "#5", "ATTRPITCH"), "8000"},
            {3, 5, "OpenMusic", "lk/snd.wav", Attribute("MUSIC", "#5", "ATTRPITCH"), "8000"},
            {11, 5, "OpenVideo", "lk/vid.mp4", Attribute("VIDEO", "#5", "ATTRWIDTH"), "48"},
            {8, 5, "OpenFile", "lk/text.txt", CommandCall("readline", {"#5"}, 1), "linked text"},
            {9, 5, "OpenFont", "lk/font.ttf", Attribute("FONT", "#5", "ATTRFONTNAME"), "Bitstream Vera Sans"},
        };
        std::vector<AppletPreload> preloads;
        std::string queries;
        for (const auto& d : declared) {
            preloads.push_back(DeclaredFile(d.kind, d.id, d.file, static_cast<uint32_t>(preloads.size() + 1)));
            std::string label = std::string("declared ") + d.label;
            (*cases)[label] = {d.query + Print(label), label + " " + d.shown};
            queries += (*cases)[label].script;
        }
        AppletDescription a = Applet(queries);
        a.preloads = preloads;
        return a;
    }

    // Runs the applet; the cases whose line it did not print, and the run.
    std::string Missing(const AppletDescription& a, const std::map<std::string, Case>& cases, PlayerRun* run)
    {
        *run = PlayApplet(dir, a, {"-debugdevice", "console"});
        std::string out = "\n" + run->out, missing;
        for (const auto& [command, c] : cases)
            if (out.find("\n" + c.expected + "\n") == std::string::npos)
                missing += " " + command;
        return missing;
    }

    // The cases' scripts for every command of the table that uses its file
    // name so, in the table's order; a command without a case fails.
    static std::string ScriptsOf(Use use, const std::map<std::string, Case>& cases)
    {
        std::string body;
        for (const FileNameCommand& row : kFileNameCommands) {
            if (row.use != use)
                continue;
            auto at = cases.find(row.command);
            if (at == cases.end())
                ADD_FAILURE() << row.command << (use == Use::Reads ? " reads" : " writes")
                              << " a named file and has no case here";
            else
                body += at->second.script;
        }
        return body;
    }

    static TempDir* files;
    static PlayerTables tables;
    static bool tablesOpen;
    TempDir dir;
    std::string crc, md5, linkedText;
};

TempDir* LinkedFiles::files = nullptr;
PlayerTables LinkedFiles::tables;
bool LinkedFiles::tablesOpen = false;

// First with no disk file of the linked names, then with a disk file beside
// each: the linked one is opened either way.
TEST_F(LinkedFiles, EveryReaderAndDeclarationOpensTheLinkedFileAloneOrBeforeADiskFileOfTheSameName)
{
    HttpPeer peer([](const std::string& request) {
        return std::string(request.find("linked text") != std::string::npos ? "saw linked"
                           : request.find("disk text") != std::string::npos ? "saw disk"
                                                                            : "saw nothing");
    });
    for (bool shadowed : {false, true}) {
        SCOPED_TRACE(shadowed ? "beside disk files" : "alone");
        if (shadowed)
            Shadow();
        else
            ASSERT_FALSE(FileExists(dir.file("lk")));
        std::map<std::string, Case> cases = Readers(peer.Url());
        PlayerRun run;
        EXPECT_EQ(Missing(Applet(ScriptsOf(Use::Reads, cases)), cases, &run), "") << run.out << run.err;
        EXPECT_EQ(run.status, 0);

        std::map<std::string, Case> declarations;
        EXPECT_EQ(Missing(Declared(&declarations), declarations, &run), "") << run.out << run.err;
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(LinkedFiles, WritersWriteTheDiskFileByTheNameAsGivenAndReadsStillSeeTheLinkedOne)
{
    Shadow();
    HttpPeer peer([](const std::string&) { return std::string("downloaded"); });
    std::map<std::string, Case> cases = Writers(peer.Url());
    PlayerRun run;
    EXPECT_EQ(Missing(Applet(ScriptsOf(Use::Writes, cases)), cases, &run), "") << run.out << run.err;
    EXPECT_EQ(run.status, 0);
    for (const auto& [command, c] : cases)
        EXPECT_EQ(c.diskCheck(dir.path()), "") << command;
}

// A user's own table.csv in the applet's folder, and the applet's linked
// one: DeleteFile and Rename of the name, in any case, are errors that the
// script's handler takes, the user's file stays (until a Rename onto the name
// replaces it, as any writer would), reads go on finding the linked
// copy, and names that are not linked are deleted and renamed as ever.
TEST_F(LinkedFiles, DeleteFileAndRenameOfALinkedNameLeaveTheUsersFileOfThatName)
{
    AppletDescription a = AssembleTestApplet(MainScript(
        ".function handler params=4\n    GETGLOBAL r4, \"debugprint\"\n    LOADK r5, \"handled\"\n"
        "    MOVE r6, r0\n    MOVE r7, r2\n    CALL r4, 4, 1\n    RETURN r0, 1\n.end\n"
        "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, handler\n    CALL r0, 2, 1\n" +
        CommandCall("deletefile", {Q("TABLE.CSV")}) + CommandCall("rename", {Q("Table.csv"), Q("moved.csv")}) +
        CommandCall("rename", {Q("notes.csv"), Q("table.csv")}) + CommandCall("filetostring", {Q("TABLE.CSV")}, 1) +
        Print("reads") + CommandCall("deletefile", {Q("other.csv")}) +
        CommandCall("rename", {Q("mine.csv"), Q("yours.csv")}) + CommandCall("exists", {Q("other.csv")}, 1) +
        Print("other")));
    a.linkedFiles.push_back({"table.csv", AppletLinkedFile::Storage::Inline, {'l', 'i', 'n', 'k', 'e', 'd'}, 0, 0});
    for (const std::string name : {"table.csv", "notes.csv", "other.csv", "mine.csv"})
        std::ofstream(dir.file(name)) << "user " << name;
    PlayerRun run = PlayApplet(dir, a);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "handled 1055 DeleteFile\nhandled 1055 Rename\nreads linked\nother 0\n");
    // Renaming onto the name writes the disk file by it, as writers do.
    EXPECT_EQ(Text(dir.file("table.csv")), "user notes.csv");
    EXPECT_FALSE(FileExists(dir.file("notes.csv")));
    EXPECT_FALSE(FileExists(dir.file("moved.csv")));
    EXPECT_FALSE(FileExists(dir.file("other.csv")));
    EXPECT_FALSE(FileExists(dir.file("mine.csv")));
    EXPECT_EQ(Text(dir.file("yours.csv")), "user mine.csv");
}

// A program stored in the applet runs from a temporary copy but starts in
// the caller's current folder; a player program made by qmlink changes into
// its own folder, the copy's, as every player does, unless it is given
// -NOCHDIR. The caller's buffered output is not written out before a
// program starts, unless the player runs with -FORCEFLUSH.
TEST(StoredPrograms, StartInTheCallersFolderAndAPlayerProgramInItsCopysFolder)
{
    TempDir dir;
    ShellOutput("mkdir -p '" + dir.file("app") + "' '" + dir.file("start") + "' '" + dir.file("tmp") + "'");
    AppletDescription inner = AssembleTestApplet(MainScript(CommandCall("getcurrentdirectory", {}, 1) +
                                                            Print("player in") +
                                                            CommandCall("stringtofile", {Q("made"), Q("rel.txt")})));
    WriteFileBytes(dir.file("inner.qma"), WriteApplet(inner));
    ShellOutput(std::string(QM_BINARY_DIR) + "/qmlink " + QM_PLAYER_PATH + " '" + dir.file("inner.qma") + "' -o '" +
                dir.file("inner") + "'");
    ASSERT_TRUE(FileExists(dir.file("inner")));
    const std::string script = "#!/bin/sh\necho \"script in $(pwd)\"\necho made > script.txt\n";
    AppletDescription a = AssembleTestApplet(MainScript(
        CommandCall("debugprint", {Q("before")}) + CommandCall("execute", {Q("prog.sh")}) +
        CommandCall("execute", {Q("inner")}) + CommandCall("execute", {Q("inner -nochdir")}) +
        CommandCall("debugprint", {Q("after")})));
    a.linkedFiles.push_back(
        {"prog.sh", AppletLinkedFile::Storage::Inline, std::vector<uint8_t>(script.begin(), script.end()), 0, 0});
    a.linkedFiles.push_back({"inner", AppletLinkedFile::Storage::Inline, ReadFileBytes(dir.file("inner")), 0, 0});
    WriteFileBytes(dir.file("app/test.qma"), WriteApplet(a));
    const std::string app = dir.file("app"), tmp = dir.file("tmp");
    const std::string children = "script in " + app + "\nplayer in " + tmp + "\nplayer in " + app + "\n";
    for (const char* option : {"", "-forceflush"}) {
        SCOPED_TRACE(option);
        PlayerRun run = RunProgram("/bin/sh",
                                   {"-c", "cd '" + dir.file("start") + "' && exec " + QM_PLAYER_PATH + " " + option +
                                              " '" + dir.file("app/test.qma") + "'"},
                                   {"TMPDIR=" + tmp});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, *option ? "before\n" + children + "after\n" : children + "before\nafter\n");
        EXPECT_TRUE(FileExists(app + "/script.txt"));
        EXPECT_TRUE(FileExists(app + "/rel.txt"));
        EXPECT_TRUE(FileExists(tmp + "/rel.txt"));
        EXPECT_FALSE(FileExists(dir.file("start/rel.txt")));
        ShellOutput("rm -f '" + app + "/script.txt' '" + app + "/rel.txt' '" + tmp + "/rel.txt'");
    }
}

}  // namespace
