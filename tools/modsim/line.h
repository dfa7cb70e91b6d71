// The line settings the Windows program gave the port, as read back from the
// terminal attributes of the pty.
#ifndef ORVANE_TOOLS_MODSIM_LINE_H
#define ORVANE_TOOLS_MODSIM_LINE_H

#include <string>

struct termios;

namespace modsim {

struct Line {
    unsigned baud = 19200;
    int data_bits = 8;
    std::string parity = "none";   // none, odd, even, mark, space
    int stop_bits = 1;

    bool operator==(const Line&) const = default;
};

// Decodes speed (as a number of baud; 0 for a rate this table lacks), CSIZE,
// parity (PARENB or INPCK, with PARODD and CMSPAR) and CSTOPB.  Through a
// Linux pty the data bits always read 8: the driver forces CS8.
Line line_from_termios(const struct termios& t);

} // namespace modsim

#endif
