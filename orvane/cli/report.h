// orvane-cli report LOG...: units and yield over the logs of any number of
// benches; and its reckoning fed as logs grow or a line at a time
// (ReportTally), for report --serve and for the bench view (the result events
// of the run it serves).
#ifndef ORVANE_CLI_REPORT_H
#define ORVANE_CLI_REPORT_H

#include <memory>
#include <string>
#include <vector>

// args are what follows "report"; returns the exit code.
int RunReport(const std::vector<std::string>& args);

class ReportTally
{
public:
    ReportTally();
    ~ReportTally();
    ReportTally(const ReportTally&) = delete;
    ReportTally& operator=(const ReportTally&) = delete;

    // port, bench, day, image or operator; false for anything else.
    bool By(const std::string& by);
    // One line of a log (CSV of any layout, or a JSON event), its number in
    // that file counted from 1.
    void Line(const std::string& file, long long number, const std::string& line);
    // A log that grows, read on from where the last call for it left off:
    // whole lines only (a line still being written is read once it is
    // whole), each read as report reads it, with no more than report's bound
    // of a line held.  kShorter: the log is shorter than what was read of it
    // (truncated or replaced), and nothing was read.
    enum Growth { kUnreadable, kUnchanged, kGrown, kShorter };
    Growth ReadOn(const std::string& file);
    // The units as report --json gives them now: a report_group event per
    // group, then the report event.  The last unit of each port counts as
    // ended, as at the end of the files.
    std::vector<std::string> Events(const std::vector<std::string>& files,
                                    const std::vector<std::string>& unreadable) const;

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

#endif
