// The spreadsheet file the report component writes: a BIFF8 workbook (the binary format that a
// ".xls" name promises) in a Compound File Binary container, so spreadsheet programs open it as
// their own format, without an extension-mismatch warning.
//
// What is written: the workbook globals (code page UTF-16, the default fonts, cell formats and
// style, one sheet entry per worksheet, the shared string table with its index), then one
// substream per worksheet (dimensions, window, cells, end). Text cells go through the shared string
// table, numbers are NUMBER records, Booleans BOOLERR records; dates are written as their text
// form "YYYY-MM-DD hh:mm:ss". Text longer than 32767 characters is cut there.
//
// Thread safety: pure functions.
#ifndef HELIQ_PORTAL_REPORT_WORKBOOK_FILE_H_
#define HELIQ_PORTAL_REPORT_WORKBOOK_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/report_component.h"

namespace heliq {

// The bytes of the workbook file holding `sheets`. Error 5 (invalid procedure call) for a workbook
// the format cannot hold (see SpreadsheetApplication::SaveWorkbook); 13 for a cell that holds a
// dictionary or an array.
std::string EncodeWorkbook(const std::vector<Worksheet>& sheets);

// Raises the error 5 EncodeWorkbook would raise for a workbook the format cannot hold.
void CheckWorksheets(const std::vector<Worksheet>& sheets);

// `stream` as the only stream, named "Workbook", of a Compound File Binary container (version 3,
// 512-byte sectors). A stream shorter than 4096 bytes is padded with zero bytes to that size, so
// it never needs the container's mini stream.
std::string WrapInCompoundFile(std::string_view stream);

}  // namespace heliq

#endif  // HELIQ_PORTAL_REPORT_WORKBOOK_FILE_H_
