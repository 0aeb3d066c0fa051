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
//   chapter TITLE           a chapter of its own before the libraries
//   library NAME            the library that the following commands belong to
//   command NAME            a command of that library
//   : TEXT                  a line of the chapter, library, command or section;
//                           consecutive lines make a paragraph, ":" alone ends
//                           it, and the spaces after ": " stay (a line
//                           indented by four more is a code line)
//   arg NAME: TEXT          an argument: type, default, range and meaning
//   result TEXT             one result
//   error CODE: TEXT        an error (ERR_ name; its number and message are
//                           looked up) and when it happens
//   see NAME, NAME...       commands that work together with this one
//   example LINE            a line of assembly that calls the command; the
//                           lines must assemble and every command they fetch
//                           with GETGLOBAL must exist
//   attributes              GetAttribute's lists of what each object type
//                           answers, as the command itself reads them
//   section TITLE           a section of its own (callback and event tables)
//   field NAME: TEXT        a field of the section's table
// Besides the errors written here, each command lists the errors of its
// argument check, from the counts the probe noted.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/io/errors.h"
#include "core/services/check_args.h"
#include "display/event_handlers.h"
#include "display/library_support.h"
#include "gfx/library/attribute_queries.h"
#include "tools/cli_files.h"
#include "tools/player_tables.h"
#include "tools/qmasm/assembler.h"

namespace {

struct Described {
    std::vector<std::string> text;
    std::vector<std::pair<std::string, std::string>> args;
    std::vector<std::string> results;
    std::vector<std::pair<std::string, std::string>> errors;
    std::vector<std::pair<std::string, std::string>> fields;  // sections
    std::vector<std::string> see;
    std::vector<std::string> examples;
    bool attributes = false;
    bool used = false;
};

struct Descriptions {
    std::map<std::string, Described> libraries;
    std::map<std::string, std::map<std::string, Described>> commands;  // library -> name
    std::vector<std::pair<std::string, Described>> sections;
    std::vector<std::pair<std::string, Described>> chapters;
};

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::string TrimRight(const std::string& s)
{
    size_t b = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(0, b + 1);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The anchor a Markdown renderer gives a heading: lower case, blanks become
// '-', other punctuation goes.
std::string Anchor(const std::string& heading)
{
    std::string out;
    for (unsigned char c : Lower(heading)) {
        if (std::isalnum(c) || c == '-' || c == '_')
            out += static_cast<char>(c);
        else if (c == ' ')
            out += '-';
    }
    return out;
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
        } else if (key == "chapter") {
            d->chapters.push_back({rest, {}});
            current = &d->chapters.back().second;
        } else if (!current) {
            return Fail(where, "a description line before any chapter, library, command or section");
        } else if (key == ":") {
            current->text.push_back(t.size() > 2 ? TrimRight(t.substr(2)) : "");
        } else if (key == "example") {
            current->examples.push_back(t.size() > 8 ? TrimRight(t.substr(8)) : "");
        } else if (key == "see") {
            std::stringstream names(rest);
            std::string name;
            while (std::getline(names, name, ','))
                current->see.push_back(Trim(name));
        } else if (key == "attributes" && rest.empty()) {
            current->attributes = true;
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

std::string Plural(int n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// The errors of the argument check, as the probe noted its counts.
std::string ArgumentCheckLine(const Counts& c)
{
    if (!c.known)
        return "";
    std::vector<std::string> parts;
    if (c.max == 0) {
        parts.push_back("any argument (`ERR_TOOMANYARGS`)");
    } else {
        if (c.min == 1)
            parts.push_back("no argument (`ERR_MISSINGPARAMTR`)");
        else if (c.min > 1)
            parts.push_back("fewer than " + Plural(c.min, "argument") + " (`ERR_MISSINGPARAMTR`)");
        if (c.max > 0)
            parts.push_back("more than " + std::to_string(c.max) + " (`ERR_TOOMANYARGS`)");
        parts.push_back("an argument of the wrong type");
    }
    if (c.major)
        parts.push_back("an applet older than version " + std::to_string(c.major) + "." +
                        std::to_string(c.minor) + " (`ERR_OLDAPPLET`)");
    std::string line = "[the argument check](#arguments-and-errors): ";
    for (size_t i = 0; i < parts.size(); i++)
        line += (i == 0 ? "" : i + 1 == parts.size() ? " or " : ", ") + parts[i];
    return line;
}

// A registered constant's name for a value, among the names with a prefix.
std::string ConstantName(const PlayerTables& tables, const std::string& prefix, double value)
{
    for (const PlayerLibrary& lib : tables.libraries)
        for (const PlayerConstant& c : lib.constants)
            if (!c.isText && c.number == value && c.name.compare(0, prefix.size(), prefix) == 0)
                return c.name;
    return NumberText(value);
}

// GetAttribute's lists, as the command reads them.
bool WriteAttributeTables(const PlayerTables& tables, std::ostringstream& out)
{
    out << "#### Attributes of each object type\n\n"
        << "An attribute that a type does not list gives `ERR_UNKNOWNATTR`. A type marked \"counts\" answers\n"
        << "#ATTRCOUNT with its number of objects without looking at the id.\n\n";
    std::vector<std::string> countOnly;
    for (size_t i = 0; i < AttributeTypeCount(); i++) {
        const AttributeTypeInfo& info = AttributeTypeAt(i);
        if (info.answerCount == 0) {
            countOnly.push_back("#" + std::string(info.name));
            continue;
        }
        out << "**#" << info.name << "** (id: " << info.id;
        if (info.notFound)
            out << "; none of that id: `" << ConstantName(tables, "ERR_", info.notFound) << "`";
        out << (info.countsFirst ? "; counts" : "") << ")\n\n| Attribute | Answer |\n|---|---|\n";
        for (size_t k = 0; k < info.answerCount; k++) {
            const AttributeAnswer& a = info.answers[k];
            std::string name = ConstantName(tables, "ATTR", a.attribute);
            if (name.compare(0, 4, "ATTR") != 0)
                return Fail("attributes", "no ATTR constant has the value " + name);
            out << "| #" << name << " | " << CodeText(a.answer);
            if (a.extra)
                out << "; the fourth argument: " << CodeText(a.extra);
            out << " |\n";
        }
        out << "\n";
    }
    if (!countOnly.empty()) {
        out << "These types answer #ATTRCOUNT only:";
        for (size_t i = 0; i < countOnly.size(); i++)
            out << (i ? ", " : " ") << countOnly[i];
        out << ".\n\n";
    }
    return true;
}

// Example lines must assemble with the player's constants, and every
// command they fetch must exist.
bool CheckExample(const PlayerTables& tables, const std::string& command, const std::vector<std::string>& lines,
                  const std::set<std::string>& commandNames)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    qmasm::AssembleOptions options;
    options.constants = [&tables](const std::string& name, qmasm::Constant* out) {
        PlayerConstant c;
        if (!FindPlayerConstant(tables, name, &c))
            return false;
        out->type = c.isText ? qmasm::kConstString : qmasm::kConstNumber;
        out->number = c.number;
        out->text = c.text;
        return true;
    };
    qmasm::AssembleResult r = qmasm::Assemble(text, options);
    if (!r.ok)
        return Fail("example of " + command, "line " + std::to_string(r.errorLine) + ": " + r.message);
    for (const std::string& l : lines) {
        size_t g = Lower(l).find("getglobal");
        size_t q = l.find('"', g == std::string::npos ? l.size() : g);
        if (g == std::string::npos || q == std::string::npos)
            continue;
        size_t end = l.find('"', q + 1);
        std::string name = Lower(l.substr(q + 1, end - q - 1));
        if (!commandNames.count(name))
            return Fail("example of " + command, "no command " + name);
    }
    return true;
}

bool WriteReference(const PlayerTables& tables, Descriptions& d, std::string* outText)
{
    bool ok = true;
    std::set<std::string> commandNames;  // lower case
    std::vector<std::pair<std::string, std::string>> index;  // name, library
    for (const PlayerLibrary& lib : tables.libraries)
        for (const PlayerCommand& command : lib.commands) {
            commandNames.insert(Lower(command.name));
            index.push_back({command.name, lib.name});
        }
    std::sort(index.begin(), index.end(),
              [](const auto& a, const auto& b) { return Lower(a.first) < Lower(b.first); });
    std::map<std::string, std::string> spelled;  // lower case -> the table's spelling
    for (const auto& [name, lib] : index)
        spelled[Lower(name)] = name;

    std::ostringstream out;
    out << "# Command reference\n\n"
        << "Generated by `gen_command_docs` from the command and constant tables the player\n"
        << "registers and from `tools/command_docs.txt`; do not edit by hand (CI compares this file\n"
        << "with a fresh one: after changing a table or a description, run\n"
        << "`./build/gen_command_docs tools/command_docs.txt -o docs/commands.md`).\n\n"
        << "An argument in brackets may be left out; argument counts are the ones each command\n"
        << "checks. In assembly (docs/assembly.md) a command is the global of its lower-case name\n"
        << "(`GETGLOBAL r10, \"debugprint\"`) and a constant is written `#NAME`.\n\n";
    out << "## Contents\n\n";
    for (const auto& [title, chapter] : d.chapters)
        out << "- [" << title << "](#" << Anchor(title) << ")\n";
    for (const PlayerLibrary& lib : tables.libraries) {
        out << "- [Library " << lib.name << "](#library-" << lib.name << "): " << lib.commands.size()
            << (lib.commands.size() == 1 ? " command" : " commands") << ", " << lib.constants.size()
            << (lib.constants.size() == 1 ? " constant" : " constants") << "\n";
    }
    out << "- [Callback and event tables](#callback-and-event-tables)\n"
        << "- [Index of commands](#index-of-commands)\n\n";

    for (auto& [title, chapter] : d.chapters) {
        out << "## " << title << "\n\n";
        Paragraph(out, chapter.text);
    }

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
            std::string check = ArgumentCheckLine(counts);
            if (!check.empty() || !desc->errors.empty()) {
                out << "Errors:\n";
                for (const auto& e : desc->errors)
                    out << "- " << ErrorLine(tables, e) << "\n";
                if (!check.empty())
                    out << "- " << check << "\n";
                out << "\n";
            }
            if (desc->attributes && !WriteAttributeTables(tables, out))
                ok = false;
            if (!desc->examples.empty()) {
                if (!CheckExample(tables, command.name, desc->examples, commandNames))
                    ok = false;
                out << "Example:\n\n";
                for (const std::string& line : desc->examples)
                    out << "    " << line << "\n";
                out << "\n";
            }
            if (!desc->see.empty()) {
                out << "See also:";
                for (size_t i = 0; i < desc->see.size(); i++) {
                    auto name = spelled.find(Lower(desc->see[i]));
                    if (name == spelled.end()) {
                        ok = Fail("see also of " + command.name, "no command " + desc->see[i]);
                        continue;
                    }
                    out << (i ? ", " : " ") << "[" << name->second << "](#" << Anchor(name->second) << ")";
                }
                out << ".\n\n";
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
    out << ".\n\n";

    out << "## Index of commands\n\n";
    char letter = 0;
    for (const auto& [name, lib] : index) {
        char first = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        if (first != letter) {
            out << (letter ? "\n\n" : "") << "**" << first << "**";
            letter = first;
        } else {
            out << ",";
        }
        out << " [" << name << "](#" << Anchor(name) << ") (" << lib << ")";
    }
    out << "\n";

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
