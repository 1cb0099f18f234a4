// The tests' own decoders of the device streams, each written from the stream's layout rather than from
// our writer: HP PCL and RTL rows, Versatec block records, CalComp raster records and the strokes of the
// HP-GL/2 polyline-encoded command. The writer tests and the pair matrix check the pixels through them.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace vantrel::devicetest {

// ---- HP PCL and RTL: escape sequences, uncompressed, method-1, PackBits (2) and delta-row (3) rows

struct HpRasterDecoded {
  std::vector<std::string> commands;  // escape commands without the escape: "E", "*r20S", "%0B", ...
  std::string hpgl;                   // HP-GL/2 text met between "%0B" and the next escape
  int64_t width = -1;
  int64_t height = -1;
  int64_t compression = 0;
  std::vector<std::string> payloads;       // the data bytes of each "*b#W"
  std::vector<std::vector<uint8_t>> rows;  // each row's pixels, ceil(width / 8) bytes
  std::vector<uint8_t> seed;               // the last row: the base of a delta row; white at a raster start
  int compressionCommands = 0;             // "*b#M" commands met
  std::string error;
};

// PackBits: a control byte n of 0..127 is followed by n + 1 literal bytes; -1..-127 by one byte repeated
// 1 - n times; -128 does nothing.
inline std::vector<uint8_t> unpackBits(const std::string& payload, std::string* error) {
  std::vector<uint8_t> row;
  for (size_t k = 0; k < payload.size();) {
    const int n = static_cast<int8_t>(payload[k++]);
    if (n >= 0) {
      if (k + static_cast<size_t>(n) + 1 > payload.size()) *error = "literal past the row data";
      for (int i = 0; i <= n && k < payload.size(); ++i) row.push_back(static_cast<uint8_t>(payload[k++]));
    } else if (n != -128) {
      if (k >= payload.size()) *error = "repeat without its byte";
      if (k < payload.size()) row.insert(row.end(), static_cast<size_t>(1 - n), static_cast<uint8_t>(payload[k++]));
    }
  }
  return row;
}

// Delta row: the seed row with replacements. Each command byte holds the number of replacement bytes - 1
// in its top three bits and in its low five the offset from the byte after the previous replacement (from
// the row's start for the first); an offset of 31 is continued by the following bytes, added up, as long
// as they are 255. The replacement bytes follow. An empty row repeats the seed.
inline std::vector<uint8_t> applyDeltaRow(const std::string& payload, std::vector<uint8_t> row, std::string* error) {
  size_t at = 0;
  for (size_t k = 0; k < payload.size();) {
    const auto command = static_cast<uint8_t>(payload[k++]);
    const size_t count = (command >> 5) + 1u;
    size_t offset = command & 31u;
    if (offset == 31) {
      uint8_t more = 255;
      while (more == 255 && k < payload.size()) offset += more = static_cast<uint8_t>(payload[k++]);
      if (more == 255) *error = "offset past the row data";
    }
    at += offset;
    if (k + count > payload.size() || at + count > row.size()) {
      *error = "replacement past the row";
      return row;
    }
    for (size_t i = 0; i < count; ++i) row[at++] = static_cast<uint8_t>(payload[k++]);
  }
  return row;
}

inline bool isValueChar(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.';
}

inline void decodeHpRasterRow(HpRasterDecoded& d, const std::string& payload) {
  if (d.width < 0) {
    d.error = "row before the width";
    return;
  }
  size_t rowBytes = static_cast<size_t>((d.width + 7) / 8);
  d.seed.resize(rowBytes, 0);
  std::vector<uint8_t> row;
  if (d.compression == 0) {
    row.assign(payload.begin(), payload.end());
  } else if (d.compression == 1) {
    if (payload.size() % 2) d.error = "odd method-1 row";
    for (size_t k = 0; k + 1 < payload.size(); k += 2)
      row.insert(row.end(), static_cast<uint8_t>(payload[k]) + 1u, static_cast<uint8_t>(payload[k + 1]));
  } else if (d.compression == 2) {
    row = unpackBits(payload, &d.error);
  } else if (d.compression == 3) {
    row = applyDeltaRow(payload, d.seed, &d.error);
  } else {
    d.error = "unknown compression";
  }
  if (row.size() > rowBytes) d.error = "row longer than the width";
  row.resize(rowBytes, 0);
  d.seed = row;
  d.rows.push_back(row);
}

inline HpRasterDecoded decodeHpRaster(const std::string& in) {
  HpRasterDecoded d;
  bool inHpgl = false;
  size_t i = 0;
  while (i < in.size() && d.error.empty()) {
    if (in[i] != '\033') {
      if (!inHpgl) {
        d.error = "stray byte at " + std::to_string(i);
        break;
      }
      d.hpgl += in[i++];
      continue;
    }
    if (i + 1 >= in.size()) {
      d.error = "escape at the end";
      break;
    }
    char c = in[i + 1];
    size_t j = i + 2;
    if (c == '%') {  // language switch: a value and its terminator
      std::string value;
      while (j < in.size() && isValueChar(in[j])) value += in[j++];
      if (j >= in.size()) {
        d.error = "truncated language switch";
        break;
      }
      char term = in[j++];
      d.commands.push_back(std::string("%") + value + term);
      inHpgl = term == 'B';
      i = j;
      continue;
    }
    inHpgl = false;
    if (c >= 0x21 && c <= 0x2F) {  // parameterised: group character, then value/parameter pairs
      if (j >= in.size()) {
        d.error = "truncated command";
        break;
      }
      char group = in[j++];
      while (true) {
        std::string value;
        while (j < in.size() && isValueChar(in[j])) value += in[j++];
        if (j >= in.size()) {
          d.error = "truncated parameter";
          break;
        }
        char p = in[j++];
        char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(p)));
        d.commands.push_back(std::string(1, c) + group + value + upper);
        int64_t v = value.empty() ? 0 : std::stoll(value);
        if (c == '*' && group == 'r' && upper == 'S') d.width = v;
        if (c == '*' && group == 'r' && upper == 'T') d.height = v;
        if (c == '*' && group == 'b' && upper == 'M') {
          d.compression = v;
          ++d.compressionCommands;
        }
        // Starting and ending raster graphics whiten the seed row.
        if (c == '*' && group == 'r' && (upper == 'A' || upper == 'B' || upper == 'C')) d.seed.assign(d.seed.size(), 0);
        if (c == '*' && group == 'b' && upper == 'W') {
          if (v < 0 || j + static_cast<size_t>(v) > in.size()) {
            d.error = "row data beyond the end";
            break;
          }
          std::string payload = in.substr(j, static_cast<size_t>(v));
          j += static_cast<size_t>(v);
          d.payloads.push_back(payload);
          decodeHpRasterRow(d, payload);
        }
        if (p >= 'A' && p <= 'Z') break;
        if (p < 'a' || p > 'z') {
          d.error = "bad parameter character";
          break;
        }
      }
      i = j;
      continue;
    }
    if (c == 'v') {  // the colour index command as the framed stream writes it: value/parameter pairs
      std::string text = "v";
      while (j < in.size() && !(in[j] >= 'A' && in[j] <= 'Z')) text += in[j++];
      if (j < in.size()) text += in[j++];
      d.commands.push_back(text);
      i = j;
      continue;
    }
    d.commands.push_back(std::string(1, c));  // two-character command
    i = j;
  }
  return d;
}

// ---- Versatec block format

struct VbfPlot {
  uint16_t dpi = 0;
  uint16_t lineBytes = 0;
  std::vector<std::vector<uint8_t>> rows;
};

// Parses a Versatec stream: start of plot, an empty data block, the set-up block, raster-line blocks, the
// end-of-plot block and the end of file, nothing after it. Returns an explanation when the layout is wrong.
inline std::string decodeVbf(const std::vector<uint8_t>& b, VbfPlot* plot) {
  size_t at = 0;
  auto word = [&](uint16_t* v) {
    if (at + 2 > b.size()) return false;
    *v = static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
    at += 2;
    return true;
  };
  auto expectRecord = [&](uint16_t op, uint16_t length) {
    uint16_t o, n;
    return word(&o) && word(&n) && o == op && n == length;
  };
  if (!expectRecord(0x1801, 0)) return "no start of plot";
  if (!expectRecord(0x1802, 0)) return "no empty data block";
  if (!expectRecord(0x1802, 6)) return "no set-up block";
  uint16_t setup;
  if (!word(&setup) || setup != 0x8200) return "bad set-up word";
  if (!word(&plot->dpi) || !word(&plot->lineBytes)) return "short set-up block";
  for (;;) {
    uint16_t op, length;
    if (!word(&op) || !word(&length)) return "stream ends inside the data";
    if (op != 0x1802) return "unexpected opcode";
    if (length == 2) {
      uint16_t end;
      if (!word(&end) || end != 0xFFFF) return "bad end-of-plot block";
      break;
    }
    uint16_t count;
    if (length != plot->lineBytes + 2 || !word(&count) || count != plot->lineBytes)
      return "bad raster record";
    if (at + count > b.size()) return "short raster line";
    plot->rows.emplace_back(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + count));
    at += count;
  }
  if (!expectRecord(0x1803, 0)) return "no end of file";
  if (at != b.size()) return "bytes after the end of file";
  return {};
}

// ---- CalComp raster

struct CrfRecord {
  int count;
  uint8_t group[4];
};

struct CrfPlot {
  uint16_t groups = 0;
  uint16_t inches = 0;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<std::vector<CrfRecord>> records;
};

// Parses a CalComp raster stream. A row is a series of records covering exactly W groups; a record is cut
// only where the group changes or its count reaches 127. The trailer (its first byte 0, never a count) must
// end the stream. Returns an explanation when the layout is wrong.
inline std::string decodeCrf(const std::vector<uint8_t>& b, CrfPlot* plot) {
  const std::string preamble = "&&&&CALCOMP DEVICE CONTROL\nCCRF()\n^^^^END OF FILE\n";
  if (b.size() < preamble.size() + 19) return "short header";
  if (std::string(b.begin(), b.begin() + static_cast<long>(preamble.size())) != preamble)
    return "bad preamble";
  size_t at = preamble.size();
  const std::vector<uint8_t> setup = {0x02, 0x00, 0x06, 0x08, 0x00, 0x0A, 0x01, 0x00, 0x08, 0x20, 0x00, 0x04};
  for (uint8_t v : setup)
    if (b[at++] != v) return "bad set-up block";
  plot->groups = static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
  if (b[at + 2] != 0x00 || b[at + 3] != 0x01) return "bad set-up word";
  plot->inches = static_cast<uint16_t>(b[at + 4] << 8 | b[at + 5]);
  if (b[at + 6] != 0x00) return "bad set-up end";
  at += 7;
  while (at < b.size() && b[at] != 0 && plot->groups > 0) {
    std::vector<uint8_t> row;
    std::vector<CrfRecord> records;
    int covered = 0;
    while (covered < plot->groups) {
      if (at + 5 > b.size()) return "row ends inside a record";
      CrfRecord r{b[at], {b[at + 1], b[at + 2], b[at + 3], b[at + 4]}};
      at += 5;
      if (r.count < 1 || r.count > 127) return "bad count " + std::to_string(r.count);
      if (!records.empty() && records.back().count != 127 &&
          std::equal(r.group, r.group + 4, records.back().group))
        return "record cut before the group changed";
      covered += r.count;
      if (covered > plot->groups) return "row covers more than W groups";
      for (int i = 0; i < r.count; ++i) row.insert(row.end(), r.group, r.group + 4);
      records.push_back(r);
    }
    plot->rows.push_back(std::move(row));
    plot->records.push_back(std::move(records));
  }
  const std::vector<uint8_t> trailer = {0x00, 0x02, 0x00, 0x03, 0x00, 0x00};
  if (b.size() - at != trailer.size() ||
      !std::equal(trailer.begin(), trailer.end(), b.begin() + static_cast<long>(at)))
    return "bad trailer";
  return {};
}

// ---- HP-GL/2: the polyline-encoded command

struct Stroke {
  int64_t row;
  int64_t s;
  int64_t e;
  bool operator==(const Stroke&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Stroke& k) {
  return os << "(row " << k.row << ": " << k.s << ".." << k.e << ")";
}

struct Hpgl2Decoded {
  std::string header;  // up to and including "PE"
  std::string body;    // the command's flags and numbers after the opening "7<=__"
  std::string trailer;
  std::vector<Stroke> strokes;
  std::string error;
};

inline Hpgl2Decoded decodeHpgl2(const std::string& in) {
  Hpgl2Decoded d;
  size_t pe = in.find("PE");
  if (pe == std::string::npos) {
    d.error = "no PE command";
    return d;
  }
  d.header = in.substr(0, pe + 2);
  size_t end = in.find(';', pe);
  if (end == std::string::npos) {
    d.error = "PE command not closed";
    return d;
  }
  d.trailer = in.substr(end);
  const std::string command = in.substr(pe + 2, end - pe - 2);
  if (command.compare(0, 5, "7<=__") == 0) d.body = command.substr(5);
  bool sevenBit = false;
  bool penUp = false;
  bool absolute = false;
  int64_t row = 0;
  int64_t column = 0;
  std::vector<int64_t> pending;
  uint64_t z = 0;
  int shift = 0;
  for (char ch : command) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '<') {
      penUp = true;
    } else if (c == '=') {
      absolute = true;
    } else if (c == '7') {
      sevenBit = true;
    } else if (c >= 63 && c <= 126) {
      bool last = c >= 95;
      z |= static_cast<uint64_t>(c - (last ? 95 : 63)) << shift;
      shift += 5;
      if (!last) continue;
      pending.push_back((z & 1) ? -static_cast<int64_t>(z >> 1) : static_cast<int64_t>(z >> 1));
      z = 0;
      shift = 0;
      if (pending.size() < 2) continue;
      int64_t toRow = absolute ? pending[0] : row + pending[0];
      int64_t toColumn = absolute ? pending[1] : column + pending[1];
      if (!penUp) {
        if (toRow != row) d.error = "pen-down move across rows";
        d.strokes.push_back({row, std::min(column, toColumn), std::max(column, toColumn)});
      }
      row = toRow;
      column = toColumn;
      pending.clear();
      penUp = false;
      absolute = false;
    } else {
      d.error = std::string("unexpected byte in PE: ") + ch;
    }
  }
  if (!sevenBit) d.error = "not 7-bit mode";
  if (!pending.empty() || shift != 0) d.error = "incomplete pair";
  return d;
}

// ---- Japan Digital Labs (both models) and Raster Graphics / Oce NKK, decoded from their layouts; each
// decoder returns "" or what is wrong.

using ByteRows = std::vector<std::vector<uint8_t>>;

inline uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8; }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }

inline bool takes(const std::vector<uint8_t>& b, size_t* at, const std::string& literal) {
  if (b.size() < *at + literal.size() || std::string(b.begin() + *at, b.begin() + *at + literal.size()) != literal)
    return false;
  *at += literal.size();
  return true;
}

inline std::string decodeJdl(const std::vector<uint8_t>& b, int32_t width, ByteRows* rows) {
  const size_t r = (width + 7) / 8;
  size_t at = 0;
  if (!takes(b, &at, "\x1B\x0D\x50\x1B\x7A\x4D\x01")) return "header";
  while (takes(b, &at, "\x1B\x67\x49\x01")) {
    if (b.size() < at + 2 + r + 3 || le16(b, at) != r) return "row length";
    rows->emplace_back(b.begin() + at + 2, b.begin() + at + 2 + r);
    at += 2 + r;
    if (!takes(b, &at, "\x0D\x1B\x76")) return "row end";
  }
  if (!takes(b, &at, "\x1B\x19\x52") || at != b.size()) return "trailer";
  return "";
}

struct Jd4Header {
  uint32_t dots = 0, height = 0;
  std::string paper;  // "W,L:"
};

inline std::string decodeJd4(const std::vector<uint8_t>& b, int32_t width, Jd4Header* h, ByteRows* rows) {
  const size_t r = (width + 7) / 8;
  size_t at = 0;
  if (!takes(b, &at, "\x1B*@\x1B/@JDRL:\x1B*H") || b.size() < at + 2) return "header start";
  h->dots = le16(b, at);
  at += 2;
  if (!takes(b, &at, "\x1B*I") || b.size() < at + 2) return "height";
  h->height = le16(b, at);
  at += 2;
  if (!takes(b, &at, "\x1B/A0,0,")) return "area";
  while (at < b.size() && b[at] != 0x1B) h->paper += static_cast<char>(b[at++]);
  if (!takes(b, &at, std::string("\x1B\x2A\x45\x01\x1B*Q", 7))) return "raster start";
  while (at < b.size() && b[at] != 0x1B) {
    std::vector<uint8_t> row;
    int lastCount = 255;
    while (row.size() < r) {
      if (at + 2 > b.size()) return "row cut";
      const uint8_t count = b[at], value = b[at + 1];
      at += 2;
      if (row.size() + count + 1 > r) return "pair past the row";
      if (!row.empty() && row.back() == value && lastCount < 255) return "equal bytes split";
      row.insert(row.end(), count + 1u, value);
      lastCount = count;
    }
    rows->push_back(row);
  }
  if (!takes(b, &at, "\x1B*Z") || at != b.size()) return "trailer";
  return "";
}

inline std::string decodeNkk(const std::vector<uint8_t>& b, uint32_t* width, uint32_t* height, char* flag, ByteRows* rows) {
  if (b.size() < 76) return "short header";
  const std::vector<uint8_t> want = {'P', 'G', ';', 'X', 'R'};
  if (!std::equal(want.begin(), want.end(), b.begin())) return "PG;XR";
  *flag = static_cast<char>(b[5]);
  if (std::string(b.begin() + 6, b.begin() + 12) != ";IN;ZN" || b[12] != 1 || b[13] != 1) return "header text";
  for (size_t i : {14, 15, 16, 17, 18, 19, 20, 21, 22, 23})
    if (b[i] != 0) return "header zeros";
  for (size_t i = 32; i < 76; ++i)
    if (b[i] != 0) return "header tail";
  *width = le32(b, 24);
  *height = le32(b, 28);
  const size_t r = *width / 8 + 1;
  size_t at = 76;
  while (at < b.size()) {
    std::vector<uint8_t> row;
    while (row.size() < r) {
      if (at >= b.size()) return "row cut";
      const int8_t n = static_cast<int8_t>(b[at++]);
      if (n >= 0) {
        if (at + n + 1u > b.size() || row.size() + n + 1 > r) return "literal past the row";
        row.insert(row.end(), b.begin() + at, b.begin() + at + n + 1);
        at += n + 1u;
      } else {
        if (n == -128 || n == -1 || at >= b.size() || row.size() + 1 - n > r) return "bad repeat";
        row.insert(row.end(), static_cast<size_t>(1 - n), b[at++]);
      }
    }
    rows->push_back(row);
  }
  return "";
}

}  // namespace vantrel::devicetest
