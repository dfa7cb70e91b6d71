// The bench as its page shows it: every slot's stage, unit and last result,
// and the run's figures, kept from orvane-cli's JSON events (the published
// schema, docs/orvane-cli.schema.json) and nothing else.  No I/O and no
// threads: fed one event line at a time, it answers the page's messages.
#ifndef ORVANE_CLI_SERVE_BENCH_H
#define ORVANE_CLI_SERVE_BENCH_H

#include "orvane/cli/report.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class BenchState
{
public:
    // now: seconds on a steady clock (the tests' own clock).
    explicit BenchState(std::function<double()> now = nullptr);
    ~BenchState();

    // One event line; the messages that bring an open page up to date
    // (none when the event changes nothing it shows).
    std::vector<std::string> Feed(const std::string& line);

    // The whole state as one message: what a page gets when it (re)connects.
    std::string Snapshot() const;

private:
    struct Slot;
    Slot& SlotOf(const std::string& port);
    std::string SlotMessage(const Slot& slot) const;
    std::string BenchMessage() const;
    std::string BenchJson() const;
    std::string SlotJson(const Slot& slot) const;
    void Order();

    std::function<double()> now_;
    double started_ = 0;
    std::string start_;                       // the start event's fields the page shows, as JSON
    std::vector<std::pair<std::string, std::string>> names_;   // slot names: port (or its last part) -> name
    std::vector<std::string> ports_;          // the run's ports, in the order given
    std::vector<std::unique_ptr<Slot>> slots_;   // in the page's order
    ReportTally tally_;
    long long resultLines_ = 0;
    std::string report_;                      // the tally's report event
    std::string delivery_;                    // --deliver: records sent, waiting, rejected
    std::vector<std::string> groups_;         // and its report_group events (by port)
    bool ended_ = false;
    int code_ = 0;
};

// A port's short name: its last path part (ttyUSB0, com1, COM12).
std::string PortShortName(const std::string& port);

#endif
