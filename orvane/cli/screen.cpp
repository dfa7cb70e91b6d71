#include "orvane/cli/screen.h"

#include <cstdlib>

namespace {

// A child's lines: a tag, a tab, the text.
const char kTagNote = 'N';
const char kTagLive = 'L';
const char kTagMilestone = 'M';
const char kTagEvent = 'J';
const char kTagGone = 'G';

// The bench view's tap, and whether events are printed (--json).
std::function<void(const std::string&)> gEventTap;
bool gPrintEvents = true;

std::string Tagged(char tag, const std::string& text)
{
    return std::string(1, tag) + "\t" + text + "\n";
}

} // namespace

Screen::Screen(Mode mode, int rows, int width, std::FILE* out)
    : mode_(mode), width_(width), out_(out), live_(rows > 0 ? rows : 1)
{
}

void Screen::Emit(const std::string& text)
{
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

// Padded over what stood on the line before.
std::string Screen::Pad(const std::string& text) const
{
    const size_t width = size_t(width_ > 1 ? width_ - 1 : 79);
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

// A changing line never wraps: the lines below it would be lost track of.
std::string Screen::Fit(const std::string& text) const
{
    const size_t width = size_t(width_ > 1 ? width_ - 1 : 79);
    return Pad(text.size() > width ? text.substr(0, width) : text);
}

// The changing lines, from the first; the cursor ends on the last of them.
void Screen::Redraw()
{
    std::string text;
    if (drawn_ && drawnRows_ > 1)
        text += "\r\x1b[" + std::to_string(drawnRows_ - 1) + "A";
    for (size_t i = 0; i < live_.size(); ++i) {
        text += '\r';
        text += Fit(live_[i]);
        if (i + 1 < live_.size())
            text += '\n';
    }
    drawn_ = true;
    drawnRows_ = live_.size();
    Emit(text);
}

int Screen::AddRow()
{
    live_.emplace_back();
    return int(live_.size() - 1);
}

void Screen::Gone()
{
    if (mode_ == kChild)
        Emit(Tagged(kTagGone, "gone"));
}

void Screen::Tag(char tag, const std::string& text)
{
    if (mode_ == kChild)
        Emit(Tagged(tag, text));
}

bool Screen::TagOf(const std::string& line, char tag, std::string* text)
{
    if (line.size() < 2 || line[0] != tag || line[1] != '\t')
        return false;
    *text = line.substr(2);
    return true;
}

bool Screen::IsGone(const std::string& line)
{
    return line.size() >= 2 && line[0] == kTagGone && line[1] == '\t';
}

void Screen::Note(int row, const std::string& text)
{
    (void)row;   // notes carry their port
    switch (mode_) {
    case kChild:
        Emit(Tagged(kTagNote, text));
        return;
    case kPlain:
        Emit(text + "\n");
        return;
    case kTerminal:
        if (!drawn_) {
            Emit(text + "\n");
            return;
        }
        // Over the first changing line; they are all drawn again below it.
        std::string up = drawnRows_ > 1 ? "\x1b[" + std::to_string(drawnRows_ - 1) + "A" : "";
        drawn_ = false;
        // A long note is cut into lines the width of the screen, each padded:
        // a line the terminal wrapped would keep the end of what stood there.
        const size_t width = size_t(width_ > 1 ? width_ - 1 : 79);
        std::string lines;
        for (size_t at = 0; at == 0 || at < text.size(); at += width)
            lines += Pad(text.substr(at, width)) + "\n";
        Emit("\r" + up + lines);
        Redraw();
        return;
    }
}

void Screen::Live(int row, const std::string& text, bool milestone)
{
    switch (mode_) {
    case kChild:
        Emit(Tagged(milestone ? kTagMilestone : kTagLive, text));
        return;
    case kPlain:
        if (milestone)
            Emit(text + "\n");
        return;
    case kTerminal:
        if (row < 0 || size_t(row) >= live_.size() || live_[row] == text)
            return;
        live_[row] = text;
        Redraw();
        return;
    }
}

void Screen::Counts(int pass, int fail, int code)
{
    if (mode_ == kChild)
        Emit(Tagged(kTagCounts, std::to_string(pass) + "\t" + std::to_string(fail) + "\t" + std::to_string(code)));
}

// One port's changing line goes (its notes say it all); several ports'
// stay, each with the port's result.
void Screen::Close()
{
    if (mode_ == kTerminal && drawn_) {
        std::string text = "\n";
        if (live_.size() == 1)
            text = '\r' + Pad("") + '\r';
        Emit(text);
    }
    drawn_ = false;
}

void Screen::Event(const std::string& json)
{
    if (mode_ == kChild) {
        Emit(Tagged(kTagEvent, json));
        return;
    }
    if (gEventTap)
        gEventTap(json);
    if (!gPrintEvents)
        return;
    const std::string line = json + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void Screen::EventsTo(std::function<void(const std::string&)> tap, bool print)
{
    gEventTap = std::move(tap);
    gPrintEvents = print;
}

bool Screen::FromChild(int row, const std::string& line, int* pass, int* fail)
{
    const std::string text = line.size() >= 2 && line[1] == '\t' ? line.substr(2) : line;
    switch (line.empty() ? kTagNote : line[0]) {
    case kTagCounts: {
        char* end = nullptr;
        *pass = int(std::strtol(text.c_str(), &end, 10));
        *fail = int(std::strtol(end, nullptr, 10));
        return true;
    }
    case kTagLive:
        Live(row, text, false);
        return false;
    case kTagMilestone:
        Live(row, text, true);
        return false;
    case kTagEvent:
        Event(text);
        return false;
    case kTagGone:
    case kTagIdsAt:
    case kTagAttempt:
    case kTagRecorded:
        return false;
    default:
        Note(row, text);
        return false;
    }
}
