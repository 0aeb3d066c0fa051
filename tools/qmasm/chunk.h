// The in-memory form of a compiled chunk as the tools see it, with a writer
// that lays it out byte for byte and a reader for the disassembler. Every
// header byte is a plain field so that tests can write chunks the loader must
// refuse; nothing here checks what the fields mean.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmasm {

inline constexpr double kChunkTestNumber = 31415926.535897933;

struct ChunkHeader {
    uint8_t signature[4] = {27, 'Q', 'M', 'B'};
    uint8_t byteOrder = 1;  // 1 little-endian; any other value: big-endian body
    uint8_t intSize = 4;
    uint8_t sizeSize = 4;
    uint8_t instructionSize = 4;
    uint8_t opcodeBits = 6;
    uint8_t aBits = 8;
    uint8_t bBits = 9;
    uint8_t cBits = 9;
    uint8_t numberSize = 8;
    double testNumber = kChunkTestNumber;

    bool BigEndian() const { return byteOrder != 1; }
};

inline constexpr size_t kChunkHeaderSize = 21;

enum ConstantType : uint8_t { kConstNil = 0, kConstNumber = 3, kConstString = 4 };

struct Constant {
    uint8_t type = kConstNil;  // any other value is written as the bare type byte
    double number = 0;
    std::string text;
};

// Constants are pooled by exact value: numbers by their bits, so that -0
// and 0 stay apart.
bool SameConstant(const Constant& a, const Constant& b);

struct LocalVariable {
    std::optional<std::string> name;
    int32_t startPc = 0;
    int32_t endPc = 0;
};

struct Prototype {
    std::optional<std::string> source;  // absent: inherited from the enclosing function
    int32_t lineDefined = 0;
    uint8_t upvalueCount = 0;
    uint8_t paramCount = 0;
    uint8_t varargFlag = 0;
    uint8_t maxStack = 0;
    std::vector<int32_t> lineInfo;
    std::vector<LocalVariable> locals;
    std::vector<std::optional<std::string>> upvalueNames;
    std::vector<Constant> constants;
    std::vector<Prototype> functions;
    std::vector<uint32_t> code;
};

std::vector<uint8_t> WriteChunk(const ChunkHeader& header, const Prototype& main);

// Reads a chunk written in either byte order. Returns false with a message
// (and the byte offset where reading stopped) for input it cannot follow;
// the header's values are taken as they are, whatever they say.
bool ReadChunk(const uint8_t* data, size_t size, ChunkHeader* header, Prototype* main,
               std::string* message);

}  // namespace qmasm
