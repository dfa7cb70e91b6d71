// The pseudo-terminal that stands in for the serial line.  The simulator holds
// the master; the Windows program reaches the slave through a symlink that
// Wine takes for COM1.
#ifndef ORVANE_TOOLS_MODSIM_PTY_H
#define ORVANE_TOOLS_MODSIM_PTY_H

#include "tools/modsim/line.h"

#include <string>

namespace modsim {

class Pty {
public:
    Pty() = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty() { close(); }

    // Opens a new pty (raw, 19200 8N1), keeps an fd on its slave so that the
    // master never sees the last close of the slave, and points the symlink
    // at the slave (replacing whatever was at that path).  The master is
    // non-blocking.
    bool open(const std::string& link, std::string& error);
    // Puts the line back to raw 19200 8N1, as a fresh pty has it.
    bool reset_line(std::string& error);
    // Drops what is on the line unread, either way: what the other side
    // wrote and what this side wrote that the other has not read yet.
    void discard_input();
    // Closes both ends; whoever has the slave open sees a hang-up.
    void close();
    // Removes the symlink when it still points at this pty's slave.
    void unpublish();

    int master() const { return master_; }
    // The slave's settings: on Linux the master's attributes are the slave's.
    Line line() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_name_;
    std::string link_;
};

} // namespace modsim

#endif
