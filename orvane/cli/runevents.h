// What a run says at its start and at its end, on the screen and as events:
// the banner, the start and summary events (--json, --serve), the counts.
#ifndef ORVANE_CLI_RUNEVENTS_H
#define ORVANE_CLI_RUNEVENTS_H

#include "orvane/cli/image.h"
#include "orvane/cli/options.h"
#include "orvane/cli/screen.h"

#include <string>
#include <vector>

// A port as the banner names it: what was given, the port an identity
// resolved to, and the device a link stands for.
std::string PortLabel(const Options& options, size_t port);
// The first line of a run: the image, the ports, the rate.
void Banner(Screen& screen, const Options& options, const ImageInfo& image);
// "N units: P PASS, F FAIL"
std::string Counted(int pass, int fail);
// A mistake that stops the run before it starts (the command line, the
// job file, a port named by an adapter no port or several have): said on
// standard error, and with json as an "error" event (one line of text).
void UsageError(bool json, int code, const std::string& text);
// The "error" event.
std::string ErrorEvent(int code, const std::string& text);

// The run's "start" event (--json and the bench view): the version, the
// image (with its size and SHA-256 when it can be read), the ports (or what
// --watch matches), the options, and the operator, bench, image label and
// slot names when given.
void StartEvent(Screen& screen, const Options& options);
// The run's "summary" event (--json and the bench view): every port's exit
// code and counts, and the whole run's code.
void SummaryEvent(Screen& screen, bool json, int code, const std::vector<std::string>& ports,
                  const std::vector<int>& codes, const std::vector<int>& pass, const std::vector<int>& fail);

#endif
