// The working stand-ins of the report component ("HeliqReportUtility.Report") and of the
// spreadsheet application ("Excel.Application"); see common/report_component.h for the contract.
//
// Report template: a text file of sections and "key=value" lines (";" or "#" start a comment).
// It needs a [Report] section, and one section per worksheet, [Sheet1], [Sheet2] ..., in the order
// the sheets appear, each with Name (the tab name) and Query (one of the report's queries:
// RequestsByStatus, RequestsByCentre, RequestsByEngineer, OpenRequests, ActionsByStatus,
// ArchivedByStatus). Each worksheet holds a header row and then the query's rows.
//
// Database details: server "sqlite" (any case) names an SQLite file `database` (relative to the
// install directory unless absolute; it must exist); any other server is a PostgreSQL server
// "host" or "host:port" with database, login and password. A database is valid when the
// request table QUESTIONS can be read in it.
//
// Saved settings: the file "HeliqReportUtility.ini" in the settings folder, one [section] per
// section, "key=value" lines; rewritten whole (temporary file renamed into place) on every save.
//
// Failures of the report component are reported under "HeliqReportUtility.Report.<operation>" and
// re-raised.
#ifndef HELIQ_PORTAL_REPORT_REPORT_STAND_IN_H_
#define HELIQ_PORTAL_REPORT_REPORT_STAND_IN_H_

#include <string_view>

namespace heliq {

inline constexpr std::string_view kReportSettingsFileName = "HeliqReportUtility.ini";

// Registers "HeliqReportUtility.Report" and "Excel.Application".
void RegisterReportComponents();

}  // namespace heliq

#endif  // HELIQ_PORTAL_REPORT_REPORT_STAND_IN_H_
