// What orvane-cli shows: one row per port, each with lines that stay (notes:
// statuses, verdicts, reasons) and one line that changes (progress, waits).
// On a terminal the changing lines sit below the notes and are rewritten in
// place; in a file or pipe only notes and the 10% milestones are printed.  A
// child process passes everything to its parent as tagged lines instead.
#ifndef ORVANE_CLI_SCREEN_H
#define ORVANE_CLI_SCREEN_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class Screen
{
public:
    enum Mode { kTerminal, kPlain, kChild };
    Screen(Mode mode, int rows, int width = 80, std::FILE* out = stdout);

    void Note(int row, const std::string& text);
    void Live(int row, const std::string& text, bool milestone = false);
    // A new changing line below the others (--watch: a port that came);
    // its row.
    int AddRow();
    // Station counts after a unit, and the unit's exit code, for a parent to
    // add up (a child's only).
    void Counts(int pass, int fail, int code);
    // A child of --watch tells its parent that its port went away.
    void Gone();
    // A line for the parent to act on rather than show (a child's only):
    // kTagIdsAt, ...
    void Tag(char tag, const std::string& text);
    static bool TagOf(const std::string& line, char tag, std::string* text);
    static const char kTagIdsAt = 'I';     // where a file of unit ids stands: "OFFSET LINE"
    static const char kTagAttempt = 'A';   // an attempt under way: its record so far, as a result event
    static const char kTagRecorded = 'D';  // the attempt's record is written: its exit code
    static const char kTagCounts = 'C';    // after a unit: "PASS FAIL CODE", tab-separated
    // A JSON event, one whole line on standard output (a child's go to its
    // parent, which writes them out one by one).
    void Event(const std::string& json);
    // Where this process's events go besides standard output (the bench
    // view takes them all), and whether they are printed there (--json).
    static void EventsTo(std::function<void(const std::string&)> tap, bool print);
    // The changing lines are left as they are and the cursor goes below them.
    void Close();

    // A line from a child shown on the row (an event written out); a counts
    // line is returned in *pass and *fail instead (and true).
    bool FromChild(int row, const std::string& line, int* pass, int* fail);
    // A child's line that says its port went away.
    static bool IsGone(const std::string& line);

private:
    void Emit(const std::string& text);
    void Redraw();
    std::string Pad(const std::string& text) const;
    std::string Fit(const std::string& text) const;

    Mode mode_;
    int width_;
    std::FILE* out_;
    std::vector<std::string> live_;
    bool drawn_ = false;
    size_t drawnRows_ = 0;   // the changing lines on the screen now
};

#endif
