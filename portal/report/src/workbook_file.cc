#include "portal/report/workbook_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/files_and_texts.h"
#include "platform/com_error.h"
#include "platform/database.h"

namespace heliq {
namespace {

constexpr std::string_view kSource = "Excel.Application";

// BIFF8 record types.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCodePage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kBoolErr = 0x0205;

constexpr size_t kMaxRecordBody = 8224;
constexpr size_t kMaxRows = 65536;
constexpr size_t kMaxColumns = 256;
constexpr size_t kMaxSheetName = 31;
constexpr size_t kMaxCellText = 32767;
// Cells use the first cell format after the 15 style formats every workbook must have.
constexpr uint16_t kCellXf = 15;

void Put8(std::string& out, uint8_t value) { out.push_back(static_cast<char>(value)); }
void Put16(std::string& out, uint16_t value) {
  Put8(out, value & 0xFF);
  Put8(out, value >> 8);
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
void PutDouble(std::string& out, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  Put32(out, bits & 0xFFFFFFFF);
  Put32(out, bits >> 32);
}
void Patch32(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
void PutUtf16(std::string& out, std::u16string_view text) {
  for (char16_t unit : text) Put16(out, unit);
}

void Record(std::string& out, uint16_t type, std::string_view body) {
  Put16(out, type);
  Put16(out, static_cast<uint16_t>(body.size()));
  out.append(body);
}

std::string Bof(uint16_t substream_type) {
  std::string body;
  Put16(body, 0x0600);  // BIFF8
  Put16(body, substream_type);
  Put16(body, 0x0DBB);  // build and year of the writing application, as readers expect them
  Put16(body, 0x07CC);
  Put32(body, 0);
  Put32(body, 0x06);  // lowest BIFF version that can read the file
  return body;
}

[[noreturn]] void Refuse(const std::string& what) {
  throw ComError(err::kInvalidProcedureCall, std::string(kSource), what);
}

}  // namespace

void CheckWorksheets(const std::vector<Worksheet>& sheets) {
  if (sheets.empty()) Refuse("a workbook needs at least one worksheet");
  for (size_t i = 0; i < sheets.size(); ++i) {
    const std::string& name = sheets[i].name;
    const std::u16string units = Utf8ToUtf16(name);
    if (units.empty() || units.size() > kMaxSheetName) {
      Refuse("worksheet name \"" + name + "\" must have 1 to 31 characters");
    }
    if (name.find_first_of(":\\/?*[]") != std::string::npos) {
      Refuse("worksheet name \"" + name + "\" holds one of : \\ / ? * [ ]");
    }
    if (name.front() == '\'' || name.back() == '\'') {
      Refuse("worksheet name \"" + name + "\" starts or ends with an apostrophe");
    }
    for (size_t j = 0; j < i; ++j) {
      if (EqualsIgnoreCase(sheets[j].name, name)) Refuse("worksheet name \"" + name + "\" repeats");
    }
    if (sheets[i].rows.size() > kMaxRows) {
      Refuse("worksheet \"" + name + "\" has more than 65536 rows");
    }
    for (const auto& row : sheets[i].rows) {
      if (row.size() > kMaxColumns) Refuse("worksheet \"" + name + "\" has more than 256 columns");
    }
  }
}

namespace {

// The shared string table: each distinct text once, in order of first use.
class StringTable {
 public:
  uint32_t Index(std::u16string text) {
    ++references_;
    auto [it, added] = index_.emplace(std::move(text), static_cast<uint32_t>(texts_.size()));
    if (added) texts_.push_back(&it->first);
    return it->second;
  }

  // Appends the SST record (continued in CONTINUE records where it outgrows one record) and its
  // EXTSST index to `out`, which is the workbook stream written so far.
  void Write(std::string& out) const {
    const uint32_t per_bucket = std::max<uint32_t>(8, (texts_.size() + 127) / 128);
    std::string index;
    Put16(index, static_cast<uint16_t>(per_bucket));

    size_t record_start = 0;
    auto begin = [&](uint16_t type) {
      record_start = out.size();
      Put16(out, type);
      Put16(out, 0);
    };
    auto body_size = [&] { return out.size() - record_start - 4; };
    auto finish = [&] {
      const size_t size = body_size();
      out[record_start + 2] = static_cast<char>(size & 0xFF);
      out[record_start + 3] = static_cast<char>(size >> 8);
    };
    auto room = [&] { return kMaxRecordBody - body_size(); };

    begin(kSst);
    Put32(out, references_);
    Put32(out, static_cast<uint32_t>(texts_.size()));
    for (size_t i = 0; i < texts_.size(); ++i) {
      const std::u16string& text = *texts_[i];
      // A string's header never splits; its characters may, on a character boundary, and the
      // continuing record then starts with the flags byte again.
      if (room() < 3 + 2) {
        finish();
        begin(kContinue);
      }
      if (i % per_bucket == 0) {
        Put32(index, static_cast<uint32_t>(out.size()));
        Put16(index, static_cast<uint16_t>(out.size() - record_start));
        Put16(index, 0);
      }
      Put16(out, static_cast<uint16_t>(text.size()));
      Put8(out, 0x01);  // characters as UTF-16
      size_t written = 0;
      while (true) {
        const size_t count = std::min(text.size() - written, room() / 2);
        PutUtf16(out, std::u16string_view(text).substr(written, count));
        written += count;
        if (written == text.size()) break;
        finish();
        begin(kContinue);
        Put8(out, 0x01);
      }
    }
    finish();
    Record(out, kExtSst, index);
  }

 private:
  std::map<std::u16string, uint32_t> index_;
  std::vector<const std::u16string*> texts_;
  uint32_t references_ = 0;
};

std::string CellHeader(size_t row, size_t column) {
  std::string body;
  Put16(body, static_cast<uint16_t>(row));
  Put16(body, static_cast<uint16_t>(column));
  Put16(body, kCellXf);
  return body;
}

void WriteText(std::string& out, size_t row, size_t column, const std::string& text,
               StringTable& strings) {
  std::u16string units = Utf8ToUtf16(text);
  if (units.size() > kMaxCellText) units.resize(kMaxCellText);
  std::string body = CellHeader(row, column);
  Put32(body, strings.Index(std::move(units)));
  Record(out, kLabelSst, body);
}

void WriteCell(std::string& out, size_t row, size_t column, const Variant& value,
               StringTable& strings) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return;
    case Variant::Type::kBool: {
      std::string body = CellHeader(row, column);
      Put8(body, value.ToBool() ? 1 : 0);
      Put8(body, 0);  // a Boolean, not an error code
      Record(out, kBoolErr, body);
      return;
    }
    case Variant::Type::kInt32:
    case Variant::Type::kInt64:
    case Variant::Type::kDouble: {
      const double number = value.ToDouble();
      if (!std::isfinite(number)) break;  // the format has no infinities: written as text
      std::string body = CellHeader(row, column);
      PutDouble(body, number);
      Record(out, kNumber, body);
      return;
    }
    default:
      break;
  }
  WriteText(out, row, column, value.ToText(), strings);
}

std::string SheetStream(const Worksheet& sheet, bool first, StringTable& strings) {
  std::string out;
  Record(out, kBof, Bof(0x0010));
  size_t columns = 0;
  for (const auto& row : sheet.rows) columns = std::max(columns, row.size());
  std::string dimensions;
  Put32(dimensions, 0);
  Put32(dimensions, static_cast<uint32_t>(sheet.rows.size()));
  Put16(dimensions, 0);
  Put16(dimensions, static_cast<uint16_t>(columns));
  Put16(dimensions, 0);
  Record(out, kDimensions, dimensions);
  std::string window;
  // Grid, headers, zeros, outline symbols and automatic grid colour; the first sheet is the
  // selected and shown one.
  Put16(window, first ? 0x06B6 : 0x00B6);
  Put16(window, 0);
  Put16(window, 0);
  Put32(window, 0x40);
  Put16(window, 0);
  Put16(window, 0);
  Put32(window, 0);
  Record(out, kWindow2, window);
  for (size_t r = 0; r < sheet.rows.size(); ++r) {
    for (size_t c = 0; c < sheet.rows[r].size(); ++c) {
      WriteCell(out, r, c, sheet.rows[r][c], strings);
    }
  }
  Record(out, kEof, {});
  return out;
}

std::string FontRecord() {
  std::string body;
  Put16(body, 200);     // 10 points, in twentieths
  Put16(body, 0);       // no italic, strike-out, outline or shadow
  Put16(body, 0x7FFF);  // automatic colour
  Put16(body, 400);     // normal weight
  Put16(body, 0);       // no super- or subscript
  Put8(body, 0);        // no underline
  Put8(body, 2);        // family: Swiss
  Put8(body, 0);        // character set ANSI
  Put8(body, 0);
  const std::string_view name = "Arial";
  Put8(body, static_cast<uint8_t>(name.size()));
  Put8(body, 0);  // one byte per character
  body.append(name);
  return body;
}

// `first` is the style format every other format derives from: it sets all attributes.
std::string XfRecord(bool style, bool first = false) {
  std::string body;
  Put16(body, 0);                        // font 0
  Put16(body, 0);                        // number format "General"
  Put16(body, style ? 0xFFF5 : 0x0001);  // style format (no parent) or cell format of style 0
  Put8(body, 0x20);                      // aligned to the bottom
  Put8(body, 0);
  Put8(body, 0);
  Put8(body, style && !first ? 0xF4 : 0x00);  // attributes the format leaves to its parent
  Put32(body, 0);                             // no borders
  Put32(body, 0);
  Put16(body, 0x20C0);  // automatic pattern colours
  return body;
}

}  // namespace

std::string EncodeWorkbook(const std::vector<Worksheet>& sheets) {
  CheckWorksheets(sheets);
  StringTable strings;
  std::vector<std::string> sheet_streams;
  for (size_t i = 0; i < sheets.size(); ++i) {
    sheet_streams.push_back(SheetStream(sheets[i], i == 0, strings));
  }

  std::string out;
  Record(out, kBof, Bof(0x0005));
  std::string code_page;
  Put16(code_page, 1200);  // UTF-16
  Record(out, kCodePage, code_page);
  std::string window;
  Put16(window, 0x0168);
  Put16(window, 0x001E);
  Put16(window, 0x3A98);
  Put16(window, 0x1D4C);
  Put16(window, 0x0038);  // horizontal and vertical scroll bars, sheet tabs
  Put16(window, 0);       // first sheet shown and first tab
  Put16(window, 0);
  Put16(window, 1);       // one selected sheet
  Put16(window, 0x0258);  // tab bar width ratio
  Record(out, kWindow1, window);
  // Four fonts: readers skip font index 4, so every workbook carries at least these.
  for (int i = 0; i < 4; ++i) Record(out, kFont, FontRecord());
  for (int i = 0; i < 15; ++i) Record(out, kXf, XfRecord(true, i == 0));
  Record(out, kXf, XfRecord(false));
  std::string style;
  Put16(style, 0x8000);  // built-in style on format 0
  Put8(style, 0);        // "Normal"
  Put8(style, 0xFF);
  Record(out, kStyle, style);
  std::vector<size_t> positions;
  for (const Worksheet& sheet : sheets) {
    const std::u16string name = Utf8ToUtf16(sheet.name);
    std::string body;
    positions.push_back(out.size() + 4);
    Put32(body, 0);  // stream position of the sheet's BOF, patched below
    Put16(body, 0);  // visible worksheet
    Put8(body, static_cast<uint8_t>(name.size()));
    Put8(body, 0x01);
    PutUtf16(body, name);
    Record(out, kBoundSheet, body);
  }
  strings.Write(out);
  Record(out, kEof, {});
  for (size_t i = 0; i < sheet_streams.size(); ++i) {
    Patch32(out, positions[i], static_cast<uint32_t>(out.size()));
    out += sheet_streams[i];
  }
  return WrapInCompoundFile(out);
}

std::string WrapInCompoundFile(std::string_view stream) {
  constexpr uint32_t kFreeSector = 0xFFFFFFFF;
  constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
  constexpr uint32_t kFatSector = 0xFFFFFFFD;
  constexpr uint32_t kDifatSector = 0xFFFFFFFC;
  constexpr uint32_t kNoStream = 0xFFFFFFFF;
  constexpr size_t kSector = 512;
  constexpr size_t kPerSector = kSector / 4;
  constexpr size_t kHeaderDifat = 109;
  constexpr size_t kMiniStreamCutoff = 4096;

  const size_t stream_size = std::max(stream.size(), kMiniStreamCutoff);
  const size_t stream_sectors = (stream_size + kSector - 1) / kSector;
  // Sectors: the FAT, the DIFAT (only when the header's 109 FAT entries do not suffice), one
  // directory sector, then the stream. The FAT must also cover its own and the DIFAT's sectors.
  size_t fat = 1;
  size_t difat = 0;
  while (true) {
    const size_t total = fat + difat + 1 + stream_sectors;
    const size_t need_fat = (total + kPerSector - 1) / kPerSector;
    const size_t need_difat =
        need_fat > kHeaderDifat ? (need_fat - kHeaderDifat + kPerSector - 2) / (kPerSector - 1) : 0;
    if (need_fat == fat && need_difat == difat) break;
    fat = need_fat;
    difat = need_difat;
  }
  const size_t directory_sector = fat + difat;
  const size_t first_stream_sector = directory_sector + 1;

  std::string out;
  out.reserve((1 + first_stream_sector + stream_sectors) * kSector);
  // Header.
  out.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  out.append(16, '\0');  // class id
  Put16(out, 0x003E);    // minor version
  Put16(out, 0x0003);    // major version 3: 512-byte sectors
  Put16(out, 0xFFFE);    // little-endian
  Put16(out, 9);         // sector size 2^9
  Put16(out, 6);         // mini sector size 2^6
  out.append(6, '\0');
  Put32(out, 0);  // directory sectors: always 0 in version 3
  Put32(out, static_cast<uint32_t>(fat));
  Put32(out, static_cast<uint32_t>(directory_sector));
  Put32(out, 0);
  Put32(out, kMiniStreamCutoff);
  Put32(out, kEndOfChain);  // no mini FAT
  Put32(out, 0);
  Put32(out, difat > 0 ? static_cast<uint32_t>(fat) : kEndOfChain);
  Put32(out, static_cast<uint32_t>(difat));
  for (size_t i = 0; i < kHeaderDifat; ++i) {
    Put32(out, i < fat ? static_cast<uint32_t>(i) : kFreeSector);
  }
  // FAT.
  std::vector<uint32_t> table(fat * kPerSector, kFreeSector);
  for (size_t i = 0; i < fat; ++i) table[i] = kFatSector;
  for (size_t i = 0; i < difat; ++i) table[fat + i] = kDifatSector;
  table[directory_sector] = kEndOfChain;
  for (size_t i = 0; i < stream_sectors; ++i) {
    const size_t sector = first_stream_sector + i;
    table[sector] = i + 1 < stream_sectors ? static_cast<uint32_t>(sector + 1) : kEndOfChain;
  }
  for (uint32_t entry : table) Put32(out, entry);
  // DIFAT: the FAT sectors beyond the header's 109, 127 a sector, each sector ending with the
  // number of the next one.
  for (size_t d = 0; d < difat; ++d) {
    for (size_t i = 0; i < kPerSector - 1; ++i) {
      const size_t fat_index = kHeaderDifat + d * (kPerSector - 1) + i;
      Put32(out, fat_index < fat ? static_cast<uint32_t>(fat_index) : kFreeSector);
    }
    Put32(out, d + 1 < difat ? static_cast<uint32_t>(fat + d + 1) : kEndOfChain);
  }
  // Directory: the root storage and the Workbook stream, its only child; two unused entries.
  auto entry = [&](std::u16string_view name, uint8_t type, uint32_t child, uint32_t start,
                   uint32_t size) {
    std::string e;
    PutUtf16(e, name);
    e.append(64 - e.size(), '\0');
    Put16(e, name.empty() ? 0 : static_cast<uint16_t>((name.size() + 1) * 2));
    Put8(e, type);
    Put8(e, name.empty() ? 0 : 1);  // black
    Put32(e, kNoStream);
    Put32(e, kNoStream);
    Put32(e, child);
    e.append(16 + 4 + 8 + 8, '\0');  // class id, state bits, creation and modification times
    Put32(e, start);
    Put32(e, size);
    Put32(e, 0);
    out += e;
  };
  entry(u"Root Entry", 5, 1, kEndOfChain, 0);
  entry(u"Workbook", 2, kNoStream, static_cast<uint32_t>(first_stream_sector),
        static_cast<uint32_t>(stream_size));
  entry(u"", 0, kNoStream, 0, 0);
  entry(u"", 0, kNoStream, 0, 0);
  // The stream, padded with zero bytes to whole sectors.
  out.append(stream);
  out.append((1 + first_stream_sector + stream_sectors) * kSector - out.size(), '\0');
  return out;
}

}  // namespace heliq
