// orvane-cli's version: this one constant, until the build keeps the
// version in one place for every program and defines ORVANE_VERSION there.
#ifndef ORVANE_CLI_VERSION_H
#define ORVANE_CLI_VERSION_H

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "2.1"
#endif

#endif
