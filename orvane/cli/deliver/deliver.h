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

// The exit code of a run whose records could not all be put in the spool,
// and of `deliver` when records still wait or were rejected.
const int kExitDelivery = 11;

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
// A unit's record, in two steps around its log line: Prepare before the log
// line is written (the record written and flushed), Commit once it is (the
// record renamed into the queue).  A failure is the reason, and sticks.
bool DeliveryPrepare(const std::string& record, std::string* error);
bool DeliveryCommit(std::string* error);
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
// The spool checked before anything runs, and the sender started here
// unless this is a child (whose parent sends).  False: shown, exit 7.
bool BeginDelivery(Screen& screen, const Options& o);
// A unit's record that could not be put in the spool: a line and a
// "warning" event (spool_write).
void SpoolFailure(Screen& screen, const Options& o, const std::string& port, int attempt, const std::string& error);
// The sender's notices, as they come.
void ShowNotices(Screen& screen);
// The end of the run's delivery: the sender stopped, the line with its counts.
void EndDelivery(Screen& screen);

// orvane-cli deliver SPOOL [--deliver URL] [--job FILE] [--allow-http]
// [--check] [--json]; args are what follows "deliver".
int RunDeliver(const std::vector<std::string>& args);

#endif
