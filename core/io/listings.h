// Listings of the registered vocabulary, written on request for tools that
// want to know what the running player offers: the libraries with their
// commands, the script constants, and the object type names. Each writer
// creates (or empties) the file and writes nothing when it cannot.
#pragma once

struct VmState;

// For every registered library in list order: "::" name, its number of
// commands, one command name per line in table order; then "::end".
void WriteLibraryListing(const char* fileName);

// Every key of the VM registry's "constants" table, one per line, in table
// traversal order.
void WriteConstantsList(VmState* vm, const char* fileName);

// The built-in object type names, one per line.
void WriteObjectTypeList(const char* fileName);
