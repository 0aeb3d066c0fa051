// gen_command_docs: writes the command reference (docs/commands.md).
//
//   gen_command_docs DESCRIPTIONS [-o OUT]
//
// What each library registers comes from the player itself: the libraries
// are opened one by one (tools/player_tables.h), every command handler is
// called once with the argument check in probe mode, which notes its
// argument counts and lowest applet version and stops the handler before it
// acts, and the registered constants are read back with their values. The
// DESCRIPTIONS file (tools/command_docs.txt) adds what only a person can
// say: what a library and a command are for, each argument, the results,
// the errors, and the fields of the tables handed to callbacks. A command
// without a description is still listed, with its counts, so that a newly
// registered command shows up the moment it is built; a description of a
// command no library registers is an error.
//
// DESCRIPTIONS, one item per line ('#' starts a comment line):
//   library NAME            the library that the following commands belong to
//   command NAME            a command of that library
//   : TEXT                  a paragraph line of the library, command or section
//   arg NAME: TEXT          an argument: type, default, range, meaning
//   result TEXT             one result
//   error CODE: TEXT        an error (ERR_ name; its number and message are
//                           looked up) and when it happens
//   section TITLE           a section of its own (callback and event tables)
//   field NAME: TEXT        a field of the section's table
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/io/errors.h"
#include "core/services/check_args.h"
#include "display/event_handlers.h"
#include "display/library_support.h"
#include "tools/cli_files.h"
#include "tools/player_tables.h"

namespace {

struct Described {
    std::vector<std::string> text;
    std::vector<std::pair<std::string, std::string>> args;
    std::vector<std::string> results;
    std::vector<std::pair<std::string, std::string>> errors;
    std::vector<std::pair<std::string, std::string>> fields;  // sections
    bool used = false;
};

struct Descriptions {
    std::map<std::string, Described> libraries;
    std::map<std::string, std::map<std::string, Described>> commands;  // library -> name
    std::vector<std::pair<std::string, Described>> sections;
};

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

bool Fail(const std::string& where, const std::string& message)
{
    std::fprintf(stderr, "gen_command_docs: %s: %s\n", where.c_str(), message.c_str());
    return false;
}

// "NAME: TEXT" split at the first colon.
bool SplitNamed(const std::string& rest, std::pair<std::string, std::string>* out)
{
    size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    *out = {Trim(rest.substr(0, colon)), Trim(rest.substr(colon + 1))};
    return true;
}

bool ReadDescriptions(const char* path, Descriptions* d)
{
    std::ifstream in(path);
    if (!in)
        return Fail(path, "cannot read");
    std::string line, library;
    Described* current = nullptr;
    int lineNo = 0;
    while (std::getline(in, line)) {
        lineNo++;
        std::string where = std::string(path) + ":" + std::to_string(lineNo);
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        size_t space = t.find(' ');
        std::string key = t.substr(0, space);
        std::string rest = space == std::string::npos ? "" : Trim(t.substr(space + 1));
        std::pair<std::string, std::string> named;
        if (key == "library") {
            library = rest;
            current = &d->libraries[library];
        } else if (key == "command") {
            if (library.empty())
                return Fail(where, "a command before any library");
            if (d->commands[library].count(rest))
                return Fail(where, "command " + rest + " described twice");
            current = &d->commands[library][rest];
        } else if (key == "section") {
            d->sections.push_back({rest, {}});
            current = &d->sections.back().second;
        } else if (!current) {
            return Fail(where, "a description line before any library, command or section");
        } else if (key == ":") {
            current->text.push_back(rest);
        } else if (key == "arg" && SplitNamed(rest, &named)) {
            current->args.push_back(named);
        } else if (key == "result") {
            current->results.push_back(rest);
        } else if (key == "error" && SplitNamed(rest, &named)) {
            current->errors.push_back(named);
        } else if (key == "field" && SplitNamed(rest, &named)) {
            current->fields.push_back(named);
        } else {
            return Fail(where, "cannot read this line: " + t);
        }
    }
    return true;
}

// The number as a script writes it: integers without a fraction.
std::string NumberText(double n)
{
    char buffer[64];
    if (std::isfinite(n) && n == std::floor(n) && std::fabs(n) < 1e15)
        std::snprintf(buffer, sizeof buffer, "%.0f", n);
    else
        std::snprintf(buffer, sizeof buffer, "%.17g", n);
    return buffer;
}

std::string CodeText(std::string s)
{
    // A '|' would end a table cell.
    std::string out;
    for (char c : s)
        out += c == '|' ? std::string("\\|") : std::string(1, c);
    return out;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 32)
            out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

struct Counts {
    bool known = false;
    int min = 0, max = 0;
    uint32_t major = 0, minor = 0;
};

// Calls the handler with no arguments while the argument check only notes
// its counts; a handler that reads an argument before the check leaves
// them unknown.
Counts ProbeCounts(VmState* vm, VmNativeFunction function)
{
    Counts counts;
    if (!function)
        return counts;
    CheckArgsProbeState = {true, false, 0, 0, 0, 0};
    VmSetTop(vm, 0);
    VmPushNativeFunction(vm, function);
    VmPCall(vm, 0, 0, 0);
    VmSetTop(vm, 0);
    if (CheckArgsProbeState.seen) {
        counts = {true, CheckArgsProbeState.min, CheckArgsProbeState.max, CheckArgsProbeState.major,
                  CheckArgsProbeState.minor};
    }
    CheckArgsProbeState = {false, false, 0, 0, 0, 0};
    return counts;
}

std::string CountText(const Counts& c)
{
    if (!c.known)
        return "";
    auto plural = [](int n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); };
    if (c.max == 0 && c.min == 0)
        return "no arguments";
    if (c.max < 0)
        return "at least " + plural(c.min);
    if (c.min == c.max)
        return plural(c.min);
    return std::to_string(c.min) + " to " + plural(c.max);
}

std::string Signature(const PlayerCommand& command, const Counts& counts, const Described* d)
{
    std::string s = command.name + "(";
    if (d && !d->args.empty()) {
        for (size_t i = 0; i < d->args.size(); i++) {
            bool optional = counts.known && static_cast<int>(i) >= counts.min;
            std::string name = d->args[i].first;
            if (i > 0)
                s += optional ? " [, " : ", ";
            else if (optional)
                s += "[";
            s += name;
            if (optional)
                s += "]";
        }
    } else if (counts.known) {
        for (int i = 0; i < counts.min; i++)
            s += (i ? ", a" : "a") + std::to_string(i + 1);
        if (counts.max < 0)
            s += counts.min ? ", ..." : "...";
        else if (counts.max > counts.min)
            s += std::string(counts.min ? " [, " : "[") + "... up to a" + std::to_string(counts.max) + "]";
    }
    return s + ")";
}

std::string ErrorLine(const PlayerTables& tables, const std::pair<std::string, std::string>& e)
{
    PlayerConstant c;
    std::string head = "`" + e.first + "`";
    if (FindPlayerConstant(tables, e.first, &c) && !c.isText) {
        uint32_t code = static_cast<uint32_t>(c.number);
        head += " (" + NumberText(c.number) + ", " + Quoted(GetErrorMessage(code)) + ")";
    }
    return head + (e.second.empty() ? "" : ": " + e.second);
}

void Paragraph(std::ostringstream& out, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return;
    for (const std::string& l : lines)
        out << l << "\n";
    out << "\n";
}

bool WriteReference(const PlayerTables& tables, Descriptions& d, std::string* outText)
{
    std::ostringstream out;
    out << "# Command reference\n\n"
        << "Generated by `gen_command_docs` from the command and constant tables the player\n"
        << "registers and from `tools/command_docs.txt`; do not edit by hand (CI compares this file\n"
        << "with a fresh one: after changing a table or a description, run\n"
        << "`./build/gen_command_docs tools/command_docs.txt -o docs/commands.md`).\n\n"
        << "Command names are matched without regard to case; an argument in brackets may be\n"
        << "left out. Argument counts are the ones each command checks. In assembly, a constant\n"
        << "is written `#NAME` (docs/assembly.md).\n\n";
    out << "## Libraries\n\n";
    for (const PlayerLibrary& lib : tables.libraries) {
        out << "- [" << lib.name << "](#library-" << lib.name << "): " << lib.commands.size()
            << (lib.commands.size() == 1 ? " command" : " commands") << ", " << lib.constants.size()
            << (lib.constants.size() == 1 ? " constant" : " constants") << "\n";
    }
    out << "- [Callback and event tables](#callback-and-event-tables)\n\n";

    for (const PlayerLibrary& lib : tables.libraries) {
        out << "## Library " << lib.name << "\n\n";
        auto l = d.libraries.find(lib.name);
        if (l != d.libraries.end()) {
            l->second.used = true;
            Paragraph(out, l->second.text);
        }
        if (lib.commands.empty())
            out << "This library registers no commands yet.\n\n";
        auto& described = d.commands[lib.name];
        for (const PlayerCommand& command : lib.commands) {
            Counts counts = ProbeCounts(tables.vm, command.function);
            auto it = described.find(command.name);
            Described* desc = it == described.end() ? nullptr : &it->second;
            if (desc)
                desc->used = true;
            out << "### " << command.name << "\n\n";
            out << "`" << Signature(command, counts, desc) << "`";
            std::string count = CountText(counts);
            if (!count.empty())
                out << ": " << count;
            if (counts.known && counts.major)
                out << "; applets of version " << counts.major << "." << counts.minor << " and later";
            out << ".\n\n";
            if (command.function == UnimplementedCommand)
                out << "Not built yet: a call ends the applet with \"unimplemented command\".\n\n";
            if (!desc)
                continue;
            Paragraph(out, desc->text);
            if (!desc->args.empty()) {
                out << "| Argument | Type, default, range and meaning |\n|---|---|\n";
                for (const auto& [name, text] : desc->args)
                    out << "| " << CodeText(name) << " | " << CodeText(text) << " |\n";
                out << "\n";
            }
            for (const std::string& r : desc->results)
                out << "Result: " << r << "\n\n";
            if (!desc->errors.empty()) {
                out << "Errors:\n";
                for (const auto& e : desc->errors)
                    out << "- " << ErrorLine(tables, e) << "\n";
                out << "\n";
            }
        }
        if (!lib.constants.empty()) {
            out << "#### Constants of " << lib.name << "\n\n| Name | Value |\n|---|---|\n";
            for (const PlayerConstant& c : lib.constants)
                out << "| " << c.name << " | "
                    << CodeText(c.isText ? Quoted(c.text) : NumberText(c.number)) << " |\n";
            out << "\n";
        }
    }

    out << "## Callback and event tables\n\n";
    for (auto& [title, section] : d.sections) {
        out << "### " << title << "\n\n";
        Paragraph(out, section.text);
        if (!section.fields.empty()) {
            out << "| Field | Meaning |\n|---|---|\n";
            for (const auto& [name, text] : section.fields)
                out << "| " << CodeText(name) << " | " << CodeText(text) << " |\n";
            out << "\n";
        }
    }
    out << "### Event names\n\n"
        << "`InstallEventHandler` takes these names (any case). Each display has its own handler\n"
        << "for the first group; the second group has one handler for the whole program.\n\n"
        << "Display events:";
    for (int i = 0; i < kDisplayEventCount; i++)
        out << (i ? ", " : " ") << DisplayEventNames[i];
    out << ".\n\nProgram events:";
    for (int i = 0; i < kGlobalEventCount; i++)
        out << (i ? ", " : " ") << GlobalEventNames[i];
    out << ".\n";

    bool ok = true;
    for (const auto& [name, lib] : d.libraries)
        if (!lib.used)
            ok = Fail("descriptions", "library " + name + " is not registered");
    for (const auto& [library, commands] : d.commands)
        for (const auto& [name, command] : commands)
            if (!command.used)
                ok = Fail("descriptions", "command " + name + " is not registered by library " + library);
    *outText = out.str();
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* descriptions = nullptr;
    const char* output = nullptr;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else if (!descriptions && argv[i][0] != '-')
            descriptions = argv[i];
        else
            descriptions = nullptr, i = argc;
    }
    if (!descriptions) {
        std::fprintf(stderr, "usage: gen_command_docs DESCRIPTIONS [-o OUT]\n");
        return 2;
    }
    Descriptions d;
    if (!ReadDescriptions(descriptions, &d))
        return 1;
    PlayerTables tables;
    if (uint32_t error = OpenPlayerTables(&tables)) {
        std::fprintf(stderr, "gen_command_docs: cannot open the player's libraries (error %u)\n", error);
        return 1;
    }
    std::string text;
    bool ok = WriteReference(tables, d, &text);
    ClosePlayerTables(&tables);
    if (!ok)
        return 1;
    if (!output) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!qmasm::WriteWholeFile(output, std::vector<uint8_t>(text.begin(), text.end()))) {
        std::fprintf(stderr, "gen_command_docs: cannot write %s\n", output);
        return 1;
    }
    return 0;
}
