#include "e2e/test_applet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

qmasm::AppletDescription AssembleTestApplet(const std::string& source, const qmasm::AssembleOptions& options)
{
    qmasm::AssembleResult r = qmasm::Assemble(source, options);
    EXPECT_TRUE(r.ok) << r.message << " at line " << r.errorLine;
    qmasm::AppletDescription a;
    qmasm::AddAssembledCode(r, "test.qas", &a);
    if (!a.includedFiles.empty())
        a.includedFiles[0].file = "@test.qas";
    return a;
}

std::string MainScript(const std::string& body)
{
    return ".chunk lines=auto\n.function main source=\"@test.qas\"\n" + body + "    RETURN r0, 1\n.end\n";
}

PlayerRun PlayApplet(const TempDir& dir, const qmasm::AppletDescription& applet, std::vector<std::string> args,
                     std::vector<std::string> env)
{
    args.push_back(dir.file("test.qma"));
    WriteFileBytes(args.back(), qmasm::WriteApplet(applet));
    env.push_back("TMPDIR=" + dir.path());
    return RunProgram(QM_PLAYER_PATH, args, env);
}

qmasm::AppletPreload DeclaredFile(uint8_t kind, uint32_t id, const std::string& file, uint32_t line,
                                  std::vector<uint8_t> linked)
{
    qmasm::AppletPreload p;
    p.kind = kind;
    p.id = id;
    p.data.assign(file.begin(), file.end());
    p.data.push_back(0);
    p.line = line;
    p.linkedData = std::move(linked);
    // Background picture: flags, two u32, an i16, three u32, an empty
    // gradient, three u32; brush: five i16, a byte, four u32; anim: a byte,
    // six i16, two bytes; sprite: six i16.
    const size_t sizes[] = {1 + 4 + 4 + 2 + 12 + 18 + 12, 10 + 1 + 12 + 4, 1 + 12 + 2, 0, 0, 0, 0, 12};
    p.record.assign(kind < std::size(sizes) ? sizes[kind] : 0, 0);
    return p;
}

qmasm::AppletPreload DeclaredDisplay(const qmasm::AppletDisplay& display, uint32_t id)
{
    qmasm::AppletPreload p;
    p.kind = 10;
    p.id = id;
    p.record = qmasm::EncodeDisplayDescription(display);
    return p;
}

std::string ErrorAfter(const std::string& label, const std::string& call)
{
    return call + "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + label +
           "\"\n    GETGLOBAL r2, \"getlasterror\"\n    CALL r2, 1, 2\n    CALL r0, 3, 1\n";
}

std::string AskText(const Ask& a)
{
    std::string call = "    GETGLOBAL r2, \"getattribute\"\n    LOADK r3, #" + std::to_string(a.type) + "\n";
    if (a.id[0] == '@')
        call += "    GETGLOBAL r4, \"" + a.id.substr(1) + "\"\n";
    else
        call += "    LOADK r4, " + a.id + "\n";
    call += "    LOADK r5, #" + std::to_string(a.attribute) + "\n";
    if (!a.extra.empty())
        call += "    LOADK r6, " + a.extra + "\n";
    call += "    CALL r2, " + std::to_string(a.extra.empty() ? 4 : 5) + ", ";
    return "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + std::string(a.label) + "\"\n" + call +
           "0\n    CALL r0, 0, 1\n" + ErrorAfter(a.label + std::string("!"), call + "1\n");
}

void ExpectAnswers(const PlayerRun& run, const std::vector<Ask>& asks)
{
    EXPECT_EQ(run.status, 0) << run.err;
    for (const Ask& a : asks) {
        bool failed = !a.expected.empty() && a.expected[0] == '!';
        std::string values = failed || a.expected.empty() ? "" : " " + a.expected;
        std::string code = failed ? a.expected.substr(1) : "0";
        std::string lines = std::string(a.label) + values + "\n" + a.label + "! " + code + "\n";
        EXPECT_NE(run.out.find(lines), std::string::npos) << "expected\n" << lines << "in\n" << run.out;
    }
}

void ExpectReport(const PlayerRun& run, const std::string& err)
{
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, err);
}

void ExpectLines(const std::string& out, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        EXPECT_NE(out.find(line + "\n"), std::string::npos) << "expected " << line << " in\n" << out;
}

std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values)
{
    for (const auto& [key, value] : values)
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    return text;
}

std::string CommandCall(const std::string& name, const std::vector<std::string>& operands, int results)
{
    std::string t = "    GETGLOBAL r0, \"" + name + "\"\n";
    int r = 1;
    for (const std::string& o : operands) {
        std::string reg = "r" + std::to_string(r++);
        if (o == "nil") {
            t += "    LOADNIL " + reg + ", " + reg + "\n";
        } else if (o[0] == '@') {
            t += "    GETGLOBAL " + reg + ", \"" + o.substr(1) + "\"\n";
        } else if (o[0] == '{') {
            t += "    NEWTABLE " + reg + ", 0, 0\n";
            std::string fields = o.substr(1, o.size() - 2);
            for (size_t at = 0; at < fields.size();) {
                size_t end = std::min(fields.find(',', at), fields.size()), equals = fields.find('=', at);
                t += "    SETTABLE " + reg + ", \"" + fields.substr(at, equals - at) + "\", " +
                     fields.substr(equals + 1, end - equals - 1) + "\n";
                at = end + 1;
            }
        } else {
            t += "    LOADK " + reg + ", " + o + "\n";
        }
    }
    return t + "    CALL r0, " + std::to_string(r) + ", " + std::to_string(results + 1) + "\n";
}

std::string MarkedLoadScript(const std::string& calls, const std::string& setup)
{
    return MainScript(setup + CommandCall("debugprint", {"\"load begins\""}) + calls +
                      CommandCall("debugprint", {"\"load ended\""}));
}
