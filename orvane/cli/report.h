// report's reckoning of units, fed a line at a time: what `orvane-cli report`
// prints with --json, for the bench view (result events of the run it
// serves) and for `report --serve` (logs that grow).
#ifndef ORVANE_CLI_REPORT_H
#define ORVANE_CLI_REPORT_H

#include <memory>
#include <string>
#include <vector>

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
