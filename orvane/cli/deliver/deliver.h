// Delivery of unit records to the factory's system, as orvane-cli uses it
// (docs/cli.md, "Delivery").  Every process that writes units' log lines
// puts their records into the spool; the one process that owns the run (the
// only one with one port, the parent with several ports or --watch) also
// runs the sender.  A unit never waits on the network: putting a record is a
// local file write and rename.
#ifndef ORVANE_CLI_DELIVER_DELIVER_H
#define ORVANE_CLI_DELIVER_DELIVER_H

#include "orvane/cli/deliver/http.h"

#include <string>
#include <vector>

// The spool when --spool is not given: beside the log, its name without the
// extension and ".spool" (units.csv: units.spool).
std::string DefaultSpool(const std::string& log);

// --deliver's URL: http:// or https://; plain HTTP only to this machine
// unless allowHttp.  False with the reason.
bool DeliveryUrlOk(const std::string& url, bool allowHttp, std::string* error);

// "Name: value" from the job file's deliver-header.
bool ParseHeader(const std::string& line, std::pair<std::string, std::string>* header);

// This process's part.  With url empty only records are put (a child).
// False with the reason when the spool cannot be used.
bool DeliveryBegin(const std::string& spool, const std::string& url, const HttpHeaders& headers,
                   std::string* error);
bool DeliveryOn();
bool DeliveryPutFailed();
// A child's record has been put: the sender looks now.
void DeliveryWake();
// What the sender has to say since the last call.
std::vector<std::string> DeliveryNotices();
// Ends the sender (a short grace while the server takes what waits) and
// returns the run's line about delivery ("" without delivery).
std::string DeliveryEnd();
// The summary event's "delivery" object ("" without delivery).
std::string DeliverySummaryJson();

// orvane-cli's screen side of it.
class Screen;
struct Options;
struct UnitRecord;
// The spool checked before anything runs, and the sender started here
// unless this is a child (whose parent sends).  False: shown, exit 7.
bool BeginDelivery(Screen& screen, const Options& o);
// A unit's record, its result event, into the spool once its log line is
// written, wherever a unit's log line is written (by the unit's process, or
// by a parent for a port that had none).  In two steps around the line:
// PrepareRecord while the log is locked, just before the line goes in (the
// record written and flushed, nothing shown), then SpoolRecord once the line
// is written or could not be (the record renamed into the queue, or put
// whole when it is no longer the one prepared: a log line that failed
// changes it).  SpoolRecord alone where nothing was prepared.  A record
// that cannot be put: SpoolFailure.
void PrepareRecord(const std::string& record);
void SpoolRecord(Screen& screen, const Options& o, const UnitRecord& record);
// A unit's record that could not be put in the spool: a line and a
// "warning" event (spool_write).
void SpoolFailure(Screen& screen, const Options& o, const std::string& port, int attempt, const std::string& error);
// The sender's notices, as they come, and a "spool" event when its counts
// have changed since the last one.  Cheap: called on every tick of a unit.
void ShowNotices(Screen& screen);
// The end of the run's delivery: the sender stopped, the line with its counts.
void EndDelivery(Screen& screen);

// orvane-cli deliver SPOOL [--deliver URL] [--job FILE] [--allow-http]
// [--check] [--json]; args are what follows "deliver".
int RunDeliver(const std::vector<std::string>& args);

#endif
