// A second, plain reading of the boot monitor's reply table, for the fuzz
// targets to hold the parser and the download state machine to.  A line is
// what the parser matches: its bytes up to and with the LF, searched as a C
// string, so a NUL hides the rest of the line.
#ifndef ORVANE_TESTS_FUZZ_REPLYTABLE_H
#define ORVANE_TESTS_FUZZ_REPLYTABLE_H

#include <string>

namespace replytable {

struct STATE
{
    int nPhase, nStep, nModel;
    bool operator==(const STATE&) const = default;
    std::string Text() const
    {
        return std::to_string(nPhase) + "/" + std::to_string(nStep) + "/" + std::to_string(nModel) + " ";
    }
};

inline bool Has(const std::string& line, const char* lpszText)
{
    return line.substr(0, line.find('\0')).find(lpszText) != std::string::npos;
}

// The line asks for the normal line settings.
inline bool AsksRestore(const std::string& line) { return Has(line, "r\r"); }

// The rows, in the order they are tried.  EARLY is the "101" row's failure.
enum ROW { NONE, WAKE, READY_710F, READY, PROGRAM, SUCCESS, EARLY, FAILURE };

// The state after a line, and the row that applied.  A reply whose command
// has not gone out yet ("100" before "flash", step 3; "200" before "p 60",
// step 5 and fProgramSent; "101" before the image, step 7) ends the search
// and changes nothing.  A "101" before the port has taken the image's last
// byte (fImageTaken) is the module ending it early: a failure.
inline STATE Apply(STATE s, const std::string& line, ROW* pRow = nullptr, bool fProgramSent = false,
                   bool fImageTaken = false)
{
    ROW row = NONE;
    if (Has(line, "000\r\n"))   // decided by the text alone
        row = s.nPhase == 0 ? WAKE : NONE;
    else if (Has(line, "100") && (s.nPhase == 0 || s.nPhase == 1))
        row = s.nPhase == 0 ? READY_710F : s.nStep == 3 ? READY : NONE;
    else if (Has(line, "200") && s.nPhase == 2)
        row = s.nStep == 5 && fProgramSent ? PROGRAM : NONE;
    else if (Has(line, "101") && s.nPhase == 3)
        row = s.nStep < 7 ? NONE : fImageTaken ? SUCCESS : EARLY;
    else if (Has(line, "302"))
        row = FAILURE;
    if (pRow)
        *pRow = row;
    switch (row) {
    case WAKE:       return {1, 2, s.nModel};
    case READY_710F: return {2, 4, 3};
    case READY:      return {2, 4, Has(line, "AVR") ? 2 : 1};
    case PROGRAM:    return {3, 6, s.nModel};
    case SUCCESS:    return {5, 9, s.nModel};
    case EARLY:
    case FAILURE:    return {5, 11, s.nModel};
    default:         return s;
    }
}

} // namespace replytable

#endif
