// What a parent knows of the child process that runs one of its ports,
// from the child's tagged lines: the attempt under way with its record so
// far, and the first unit that did not pass.  A child that ends without the
// record of the attempt it had under way (killed, crashed) gets one from
// the parent: logged, put in the spool, shown, sent as a result event and
// counted.
#ifndef ORVANE_CLI_CHILDPORT_H
#define ORVANE_CLI_CHILDPORT_H

#include "orvane/cli/options.h"
#include "orvane/cli/record.h"
#include "orvane/cli/screen.h"

#include <chrono>
#include <string>

class ChildPort
{
public:
    // A line from the child: true when it was about the attempt (not to be
    // shown).  Counts lines are left to the screen; their code is noted.
    bool Take(const std::string& line);
    // The child has ended with exitCode (natively 128 + N for signal N).
    // Returns the port's exit code, one of the documented ones.
    int Ended(int exitCode, Screen& screen, int row, const Options& options, int* pass, int* fail);
    // The first unit the child said did not pass (its code), or 0.
    int FirstCode() const { return firstCode_; }

private:
    bool open_ = false;              // an attempt under way whose record is not written
    UnitRecord record_;              // its record so far
    std::chrono::steady_clock::time_point heard_;   // when the last of it came
    int firstCode_ = 0;              // the first unit that did not pass
    int uncounted_ = -1;             // the code of a unit recorded but not yet counted
};

#endif
