// A unit's record: what the unit was and how its attempt ended.  Its fields
// are defined once, in one table (record.cpp), from which come the log's
// header and lines, the result event, and the reading of both back (report,
// a parent finishing the record of a child that died).
#ifndef ORVANE_CLI_RECORD_H
#define ORVANE_CLI_RECORD_H

#include "orvane/cli/options.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The log's columns, in order.  Columns are only ever added at the end, so
// every older layout is a prefix of this one.
enum LogColumn
{
    kColStart, kColPort, kColModel, kColImage, kColSize, kColSha256, kColDuration, kColBytesPerS, kColResult,
    kColReason,                         // the layout before ports by identity ends here (10 columns)
    kColAttempt, kColReasonCode,        // then these two (12)
    kColUnitId, kColOperator, kColBench, kColToolVersion, kColImageLabel, kColAdapter, kColBootLine,
    kColFlags,                          // the current layout (20)
    kLogColumns
};

// The number of columns of each layout written so far, oldest first.
extern const size_t kLogLayouts[3];

struct UnitRecord
{
    std::string port;
    std::string device;          // the device the port was when it was opened
    int attempt = 1;
    int code = kExitInstalled;
    std::string result;          // PASS, FAIL or CANCELLED: SetCode keeps it with the code
    std::string reasonCode;      // stable: installed, module_failed, ... (docs/cli.md)
    std::string reason;          // empty on success
    std::string model;           // empty when the module never said
    std::string verdict;         // the dialog's message, if any
    std::string lastReceived;    // the module's last line, printable
    std::string image;           // what the log calls the image
    uint64_t size = 0;
    std::string sha256;
    std::string start;           // ISO 8601, UTC
    double seconds = 0;
    double bytesPerSecond = 0;   // 0: no image was sent
    std::string unitId, operatorName, bench, toolVersion, imageLabel, adapter;
    std::string bootLine;        // the first line the boot monitor printed
    std::vector<std::string> flags;   // unit_id_empty, unit_id_repeated

    bool unit = true;            // not a field: false for a station's wait that no module answered
};

// The stable reason codes, each with its exit code.
struct ReasonCode
{
    const char* name;
    int code;
};
extern const ReasonCode kReasonCodes[];
extern const size_t kReasonCodeCount;

// Sets the exit code and the result that goes with it.
void SetCode(UnitRecord* record, int code);

// The kinds of value a field holds, as the log and the events write them.
enum FieldKind
{
    kFieldText,        // a string, always given
    kFieldTextOrNull,  // a string; null in an event when empty
    kFieldCount,       // an integer
    kFieldSize,        // a byte count; empty in the log when 0
    kFieldSeconds,     // seconds: 0.1 in the log, 0.001 in an event
    kFieldRate,        // bytes a second: empty in the log, null in an event, when 0
    kFieldFlags,       // words: separated by spaces in the log, an array in an event
};

struct RecordField
{
    const char* name;   // the log's column and the result event's field
    int column;         // its LogColumn; -1: the result event only
    FieldKind kind;
    bool required;      // in every result event since the schema began (later ones are optional)
    std::string UnitRecord::*text = nullptr;
    int UnitRecord::*count = nullptr;
    uint64_t UnitRecord::*bytes = nullptr;
    double UnitRecord::*real = nullptr;
    std::vector<std::string> UnitRecord::*words = nullptr;
};

// Every field, in the result event's order.
extern const RecordField kRecordFields[];
extern const size_t kRecordFieldCount;

// The header line of the current layout (with its line feed).
std::string LogHeader();
// One CSV line for a unit, with its line feed.
std::string LogLine(const UnitRecord& record);
// The result event.
std::string ResultEvent(const UnitRecord& record);

// A log line's fields (any layout) or a result event's values (flat: its
// strings unescaped, other values as written, nulls left out) into a
// record; the texts are moved out of them.  False when a field does not read as its kind, with the first such
// field and its value in *problem; the others are read all the same.
bool ReadLogFields(std::vector<std::string>& fields, UnitRecord* record, std::string* problem);
bool ReadEventValues(std::map<std::string, std::string>& values, UnitRecord* record, std::string* problem);

// Now, as ISO 8601 in UTC.
std::string NowIso();

// "%.1f" without the locale's say.
std::string Fixed(double value, int decimals);

#endif
