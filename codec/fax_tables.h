// Code tables of the CCITT fax codecs. The code words are listed once, as bit strings from T.4 (Modified
// Huffman run codes) and T.6 (two-dimensional mode codes); every decode and encode table below is derived
// from those lists at compile time.
//
// Decoding Modified Huffman runs uses multi-level tables: each colour has a root table indexed by the next
// 8 bits; longer codes continue in sub-tables indexed by 1, 2 or 4 further bits, as deep as the code tree
// needs. Eight zero bits lead to a 4-bit end-of-line table, and from there to a fill table that swallows
// zero fill bits until the 1 that ends the end-of-line code.
//
// The two-dimensional decoders look a run up in one table per colour indexed by as many bits as the
// colour's longest code, derived from the multi-level tables, and a mode code in one table indexed by the
// next 10 bits.
#pragma once

#include <array>
#include <cstdint>

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Code words (T.4 tables 2 and 3, T.6 table 1).

// Terminating codes, index = run length 0-63.
inline constexpr const char* kWhiteTerminatingCodes[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};

inline constexpr const char* kBlackTerminatingCodes[64] = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};

// Makeup codes, index i = run length 64 * (i + 1), 64-1728.
inline constexpr const char* kWhiteMakeupCodes[27] = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};

inline constexpr const char* kBlackMakeupCodes[27] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",  "000000110100",
    "000000110101",  "0000001101100", "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100", "0000001110101", "0000001110110",
    "0000001110111", "0000001010010", "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101",
};

// Extended makeup codes shared by both colours, index i = run length 1792 + 64 * i, 1792-2560.
inline constexpr const char* kExtendedMakeupCodes[13] = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

inline constexpr const char* kEolCode = "000000000001";

// Group 4 decoder actions: what the mode code at the current position is.
enum G4Action : uint8_t {
  kG4Continue = 0,  // more bits are needed to settle the code
  kG4Pass = 1,
  kG4Horizontal = 2,
  kG4V0 = 3,
  kG4VR1 = 4,
  kG4VR2 = 5,
  kG4VR3 = 6,
  kG4VL1 = 7,
  kG4VL2 = 8,
  kG4VL3 = 9,
  kG4Uncompressed = 10,  // extension 0000001111: uncompressed mode
  kG4Extension = 11,     // any other extension code 0000001xxx
  kG4EndOfLine = 12,     // seven zero bits where a mode code starts: end-of-line or end-of-block
};

struct ModeCodeWord {
  const char* bits;
  G4Action action;
};

inline constexpr ModeCodeWord kModeCodes[] = {
    {"0001", kG4Pass},   {"001", kG4Horizontal}, {"1", kG4V0},       {"011", kG4VR1},     {"000011", kG4VR2},
    {"0000011", kG4VR3}, {"010", kG4VL1},        {"000010", kG4VL2}, {"0000010", kG4VL3},
};
// Every extension code starts with this prefix; its three following bits 111 select uncompressed mode.
inline constexpr const char* kExtensionPrefix = "0000001";
inline constexpr const char* kExtensionUncompressed = "111";
// Seven zeros cannot start any mode code: they start an end-of-line code (two of them: end-of-block).
inline constexpr const char* kEndOfLinePrefix = "0000000";

// ---------------------------------------------------------------------------------------------------------
// Compile-time helpers.

namespace fax_detail {

struct BitString {
  uint32_t value = 0;  // right-aligned
  int length = 0;
};

constexpr BitString parseBits(const char* s) {
  BitString b;
  for (; *s; ++s) {
    if (*s != '0' && *s != '1') throw "code words are written in 0 and 1";
    b.value = (b.value << 1) | static_cast<uint32_t>(*s - '0');
    ++b.length;
  }
  return b;
}

constexpr BitString append(BitString a, uint32_t bits, int n) {
  return {(a.value << n) | bits, a.length + n};
}

// True when `prefix` is the first prefix.length bits of `code`.
constexpr bool startsWith(BitString code, BitString prefix) {
  return prefix.length <= code.length && (code.value >> (code.length - prefix.length)) == prefix.value;
}

}  // namespace fax_detail

// ---------------------------------------------------------------------------------------------------------
// Modified Huffman encode tables.

struct FaxCode {
  uint16_t bits;    // right-aligned
  uint16_t length;  // in bits
};

// Makeup codes indexed by run length / 64: 1-27 the colour's own (64-1728), 28-40 the extended ones
// (1792-2560); entry 0 is unused.
inline constexpr int kMakeupEntries = 41;
inline constexpr int32_t kLongestMakeup = 2560;

struct RunCodeTable {
  std::array<FaxCode, 64> terminating;
  std::array<FaxCode, kMakeupEntries> makeup;
};

namespace fax_detail {

constexpr FaxCode toCode(const char* s) {
  BitString b = parseBits(s);
  return {static_cast<uint16_t>(b.value), static_cast<uint16_t>(b.length)};
}

constexpr RunCodeTable buildRunCodes(const char* const* terminating, const char* const* makeup) {
  RunCodeTable t{};
  for (int i = 0; i < 64; ++i) t.terminating[i] = toCode(terminating[i]);
  for (int i = 0; i < 27; ++i) t.makeup[i + 1] = toCode(makeup[i]);
  for (int i = 0; i < 13; ++i) t.makeup[i + 28] = toCode(kExtendedMakeupCodes[i]);
  return t;
}

}  // namespace fax_detail

// Index 0 white, 1 black.
inline constexpr RunCodeTable kRunCodes[2] = {
    fax_detail::buildRunCodes(kWhiteTerminatingCodes, kWhiteMakeupCodes),
    fax_detail::buildRunCodes(kBlackTerminatingCodes, kBlackMakeupCodes),
};

inline constexpr FaxCode kEolEncode = fax_detail::toCode(kEolCode);

// Group 4 mode codes for encoding, indexed by G4Action (pass, horizontal, V0, VR1-3, VL1-3).
inline constexpr std::array<FaxCode, 10> kModeEncode = [] {
  std::array<FaxCode, 10> t{};
  for (const ModeCodeWord& m : kModeCodes) t[m.action] = fax_detail::toCode(m.bits);
  return t;
}();

// ---------------------------------------------------------------------------------------------------------
// Modified Huffman decode tables.

enum MhKind : uint8_t {
  kMhInvalid = 0,      // no code word starts with these bits
  kMhTerminating = 1,  // value = run length 0-63
  kMhMakeup = 2,       // value = run length 64-2560
  kMhNextTable = 3,    // the code continues in table `next`; `bits` are consumed first
  kMhEndOfLine = 4,    // end-of-line code complete after `bits` more bits
};

enum MhTableKind : uint8_t { kMhBlackTable = 1, kMhWhiteTable = 2, kMhEolTable = 3 };

struct MhEntry {
  int16_t value;  // run length, or -1 when the code continues in a sub-table
  uint8_t kind;   // MhKind
  uint8_t bits;   // bits of the code in this table (for kMhNextTable: the bits consumed before `next`)
  uint16_t next;  // table to use next: the other colour's root after a terminating code, the same colour's
                  // root after a makeup code, the sub-table for kMhNextTable
};

struct MhTable {
  uint16_t offset;    // first entry in MhTables::entries
  uint8_t indexBits;  // the table is indexed by this many next bits
  uint8_t kind;       // MhTableKind
  uint8_t eolFlag;    // 1 for the end-of-line and fill tables
};

inline constexpr int kMhWhiteRoot = 0;
inline constexpr int kMhBlackRoot = 1;
inline constexpr int kMhEolTableIndex = 2;
inline constexpr int kMhFillTableIndex = 3;
inline constexpr int kMhRootBits = 8;

inline constexpr int kMhMaxEntries = 1536;
inline constexpr int kMhMaxTables = 96;

struct MhTables {
  MhEntry entries[kMhMaxEntries];
  MhTable tables[kMhMaxTables];
  int entryCount;
  int tableCount;
};

namespace fax_detail {

struct RunCodeWord {
  BitString bits;
  int16_t run;
  uint8_t kind;  // kMhTerminating or kMhMakeup
};

struct ColourCodes {
  RunCodeWord codes[64 + 27 + 13];
  int count;
};

constexpr ColourCodes colourCodes(int colour) {
  ColourCodes c{};
  const char* const* terminating = colour ? kBlackTerminatingCodes : kWhiteTerminatingCodes;
  const char* const* makeup = colour ? kBlackMakeupCodes : kWhiteMakeupCodes;
  for (int i = 0; i < 64; ++i)
    c.codes[c.count++] = {parseBits(terminating[i]), static_cast<int16_t>(i), kMhTerminating};
  for (int i = 0; i < 27; ++i)
    c.codes[c.count++] = {parseBits(makeup[i]), static_cast<int16_t>(64 * (i + 1)), kMhMakeup};
  for (int i = 0; i < 13; ++i)
    c.codes[c.count++] = {parseBits(kExtendedMakeupCodes[i]), static_cast<int16_t>(1792 + 64 * i), kMhMakeup};
  // The lists must form a prefix code, and none may begin with the eight zeros that lead to end-of-line.
  const BitString eightZeros{0, 8};
  for (int i = 0; i < c.count; ++i) {
    if (startsWith(c.codes[i].bits, eightZeros)) throw "a run code starts with eight zeros";
    if (startsWith(parseBits(kEolCode), c.codes[i].bits)) throw "a run code is a prefix of end-of-line";
    for (int j = 0; j < c.count; ++j)
      if (i != j && startsWith(c.codes[j].bits, c.codes[i].bits)) throw "run codes are not a prefix code";
  }
  return c;
}

constexpr int addTable(MhTables& t, int indexBits, uint8_t kind, uint8_t eolFlag) {
  if (t.tableCount >= kMhMaxTables || t.entryCount + (1 << indexBits) > kMhMaxEntries)
    throw "tables too small";
  t.tables[t.tableCount] = {static_cast<uint16_t>(t.entryCount), static_cast<uint8_t>(indexBits), kind,
                            eolFlag};
  t.entryCount += 1 << indexBits;
  return t.tableCount++;
}

constexpr MhEntry entry(int value, uint8_t kind, int bits, int next) {
  return {static_cast<int16_t>(value), kind, static_cast<uint8_t>(bits), static_cast<uint16_t>(next)};
}

constexpr MhTables buildMhTables() {
  MhTables t{};
  const ColourCodes colours[2] = {colourCodes(0), colourCodes(1)};
  addTable(t, kMhRootBits, kMhWhiteTable, 0);
  addTable(t, kMhRootBits, kMhBlackTable, 0);
  addTable(t, 4, kMhEolTable, 1);
  addTable(t, 8, kMhEolTable, 1);

  // End of line after eight zeros: 0001 completes the code; 0000 goes on into fill; the other values are
  // taken as an end-of-line code too (a short one written by a faulty coder).
  {
    const MhTable& eol = t.tables[kMhEolTableIndex];
    for (int v = 0; v < 16; ++v)
      t.entries[eol.offset + v] =
          v == 0 ? entry(-1, kMhNextTable, 4, kMhFillTableIndex) : entry(0, kMhEndOfLine, 4, 0);
  }
  // Fill: whole zero bytes stay in the table; otherwise the code ends with the first 1.
  {
    const MhTable& fill = t.tables[kMhFillTableIndex];
    for (int v = 0; v < 256; ++v) {
      int zeros = 0;
      while (zeros < 8 && !(v & (0x80 >> zeros))) ++zeros;
      t.entries[fill.offset + v] =
          v == 0 ? entry(-1, kMhNextTable, 8, kMhFillTableIndex) : entry(0, kMhEndOfLine, zeros + 1, 0);
    }
  }

  // The run tables, breadth first: each pending table is filled from the codes that extend its prefix.
  struct Pending {
    int table;
    BitString prefix;
    int colour;
  };
  Pending pending[kMhMaxTables]{};
  int head = 0, tail = 0;
  pending[tail++] = {kMhWhiteRoot, {}, 0};
  pending[tail++] = {kMhBlackRoot, {}, 1};
  while (head < tail) {
    const Pending p = pending[head++];
    const ColourCodes& codes = colours[p.colour];
    const int root = p.colour ? kMhBlackRoot : kMhWhiteRoot;
    const int indexBits = t.tables[p.table].indexBits;
    for (uint32_t v = 0; v < (1u << indexBits); ++v) {
      const BitString s = append(p.prefix, v, indexBits);
      MhEntry e = entry(0, kMhInvalid, 0, 0);
      if (p.prefix.length == 0 && s.value == 0) {
        e = entry(-1, kMhNextTable, indexBits, kMhEolTableIndex);
      } else {
        int longest = 0;
        for (int i = 0; i < codes.count; ++i) {
          const RunCodeWord& c = codes.codes[i];
          if (c.bits.length > p.prefix.length && c.bits.length <= s.length && startsWith(c.bits, p.prefix) &&
              (s.value >> (s.length - c.bits.length)) == c.bits.value) {
            const int next = c.kind == kMhTerminating ? (p.colour ? kMhWhiteRoot : kMhBlackRoot) : root;
            e = entry(c.run, c.kind, c.bits.length - p.prefix.length, next);
          } else if (c.bits.length > s.length && startsWith(c.bits, s) && c.bits.length > longest) {
            longest = c.bits.length;
          }
        }
        if (e.kind == kMhInvalid && longest > 0) {
          const int more = longest - s.length;
          const int subBits = more <= 1 ? 1 : more <= 2 ? 2 : 4;
          const int sub = addTable(t, subBits, p.colour ? kMhBlackTable : kMhWhiteTable, 0);
          if (tail >= kMhMaxTables) throw "tables too small";
          pending[tail++] = {sub, s, p.colour};
          e = entry(-1, kMhNextTable, indexBits, sub);
        }
      }
      t.entries[t.tables[p.table].offset + v] = e;
    }
  }
  return t;
}

}  // namespace fax_detail

inline constexpr MhTables kMhTables = fax_detail::buildMhTables();

// Modified Huffman runs in one look-up: a table per colour indexed by the next 12 (white) or 13 (black)
// bits, as many as the colour's longest code. Each entry comes from walking the multi-level tables above
// with those bits, so both decoders agree on every code and every failure. Bits 0-3 of an entry: the bits
// the walk needs (a code's length; for an invalid code the bits read before it was found invalid; 8 for the
// zeros of end-of-line); bits 4-15: the run length, kMhRunEndOfLine or kMhRunInvalid.

inline constexpr int kMhWhiteRunBits = 12;
inline constexpr int kMhBlackRunBits = 13;
inline constexpr uint16_t kMhRunEndOfLine = 4095;
inline constexpr uint16_t kMhRunInvalid = 4094;

namespace fax_detail {

template <int Bits>
constexpr std::array<uint16_t, (1 << Bits)> buildRunLookup(int root) {
  std::array<uint16_t, (1 << Bits)> t{};
  for (uint32_t v = 0; v < (1u << Bits); ++v) {
    const uint32_t window = v << (32 - Bits);  // the bits left-aligned, zeros after them
    int table = root;
    int seen = 0;
    int value = kMhRunInvalid;
    int length = 0;
    for (;;) {
      const MhTable& h = kMhTables.tables[table];
      const MhEntry& e = kMhTables.entries[h.offset + ((window << seen) >> (32 - h.indexBits))];
      if (e.kind == kMhNextTable && e.next != kMhEolTableIndex) {
        seen += e.bits;
        table = e.next;
        if (seen >= Bits) throw "a run code is longer than its look-up";
        continue;
      }
      if (e.kind == kMhNextTable) {
        value = kMhRunEndOfLine;
        length = seen + e.bits;
      } else if (e.kind == kMhTerminating || e.kind == kMhMakeup) {
        value = e.value;
        length = seen + e.bits;
      } else {
        length = seen;
      }
      break;
    }
    if (length > 15) throw "a run entry has no room for its length";
    t[v] = static_cast<uint16_t>((value << 4) | length);
  }
  return t;
}

}  // namespace fax_detail

inline constexpr std::array<uint16_t, (1 << kMhWhiteRunBits)> kMhWhiteRuns =
    fax_detail::buildRunLookup<kMhWhiteRunBits>(kMhWhiteRoot);
inline constexpr std::array<uint16_t, (1 << kMhBlackRunBits)> kMhBlackRuns =
    fax_detail::buildRunLookup<kMhBlackRunBits>(kMhBlackRoot);

// ---------------------------------------------------------------------------------------------------------
// Group 4 mode-code decode table: indexed by the next 10 bits (the longest mode code is an extension code
// of 10 bits), each entry the action of the code those bits begin with (bits 4-7) and the code's length
// (bits 0-3). An extension code is settled as soon as one of its selector bits differs from uncompressed
// mode; seven zeros settle end-of-line.

inline constexpr int kG4ModeBits = 10;

namespace fax_detail {

// The action of a mode code that begins with `s`, or kG4Continue while more bits are needed.
constexpr G4Action classifyMode(BitString s) {
  for (const ModeCodeWord& m : kModeCodes) {
    const BitString code = parseBits(m.bits);
    if (code.length == s.length && code.value == s.value) return m.action;
    if (startsWith(s, code)) throw "mode codes are not a prefix code";
  }
  if (startsWith(s, parseBits(kEndOfLinePrefix))) return kG4EndOfLine;
  const BitString ext = parseBits(kExtensionPrefix);
  if (startsWith(s, ext)) {
    const BitString uncompressed = parseBits(kExtensionUncompressed);
    const int seen = s.length - ext.length;
    const uint32_t selector = s.value & ((1u << seen) - 1);
    if (selector != (uncompressed.value >> (uncompressed.length - seen))) return kG4Extension;
    if (seen == uncompressed.length) return kG4Uncompressed;
  }
  return kG4Continue;
}

constexpr std::array<uint8_t, (1 << kG4ModeBits)> buildModeLookup() {
  std::array<uint8_t, (1 << kG4ModeBits)> t{};
  for (uint32_t v = 0; v < (1u << kG4ModeBits); ++v) {
    G4Action action = kG4Continue;
    int length = 0;
    while (action == kG4Continue) {
      if (++length > kG4ModeBits) throw "a mode code is longer than its look-up";
      action = classifyMode({v >> (kG4ModeBits - length), length});
    }
    t[v] = static_cast<uint8_t>((action << 4) | length);
  }
  return t;
}

}  // namespace fax_detail

inline constexpr std::array<uint8_t, (1 << kG4ModeBits)> kG4ModeLookup = fax_detail::buildModeLookup();

}  // namespace vantrel
