// What orvane-cli's screen leaves on a terminal, replayed through a small
// model of one (CR, LF, cursor up), and its lines passed from a child to a
// parent.
#include "orvane/cli/screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The terminal's lines after the bytes, trailing blanks dropped.
std::vector<std::string> Replay(const std::string& bytes)
{
    std::vector<std::string> lines(1);
    size_t row = 0, column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == lines.size())
                lines.emplace_back();
        } else if (c == '\x1b' && bytes.compare(i, 2, "\x1b[") == 0) {
            const size_t end = bytes.find('A', i);
            const size_t up = std::stoul(bytes.substr(i + 2, end - i - 2));
            EXPECT_LE(up, row) << "the cursor went above what was printed";
            row -= up < row ? up : row;
            i = end;
        } else {
            std::string& line = lines[row];
            if (line.size() <= column)
                line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    for (std::string& line : lines)
        line.erase(line.find_last_not_of(' ') + 1);
    return lines;
}

// Runs fn on a screen writing to a temporary file; returns what it wrote.
template <class Fn>
std::string Written(Screen::Mode mode, int rows, Fn fn)
{
    std::FILE* out = std::tmpfile();
    {
        Screen screen(mode, rows, 40, out);
        fn(screen);
    }
    std::rewind(out);
    std::string bytes;
    for (int c; (c = std::fgetc(out)) != EOF;)
        bytes += char(c);
    std::fclose(out);
    return bytes;
}

// Several ports keep one changing line each below the lines that stay; one
// port's changing line is rewritten with CR alone and goes at the end.
TEST(CliScreen, ChangingLinesOnATerminal)
{
    struct Step
    {
        char kind;   // N a line that stays, L a changing line
        int row;
        const char* text;
    };
    struct Case
    {
        int rows;
        std::vector<Step> steps;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {2,
         {{'N', 0, "start"}, {'L', 0, "COM1  10%"}, {'L', 1, "COM2   5%"}, {'L', 0, "COM1  20%"},
          {'N', 1, "COM2 Initializing!"}, {'L', 1, "COM2  30% and a line far too long for forty columns"},
          {'L', 0, "COM1  PASS"}},
         {"start", "COM2 Initializing!", "COM1  PASS", "COM2  30% and a line far too long for f", ""}},
        {1,
         {{'N', 0, "start"}, {'L', 0, "50% of a long image"}, {'L', 0, "60%"}, {'N', 0, "done"}, {'L', 0, "PASS"}},
         {"start", "done", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        const std::string bytes = Written(Screen::kTerminal, c.rows, [&](Screen& s) {
            for (const Step& step : c.steps)
                step.kind == 'N' ? s.Note(step.row, step.text) : s.Live(step.row, step.text);
            s.Close();
        });
        EXPECT_EQ(Replay(bytes), c.want);
        if (c.rows == 1)
            EXPECT_EQ(bytes.find('\x1b'), std::string::npos) << "one line needs no cursor moves (consoles without them)";
    }
}

TEST(CliScreen, AChildsLinesReachTheParentsRow)
{
    int pass = -1, fail = -1;
    const std::string child = Written(Screen::kChild, 1, [](Screen& s) {
        s.Note(0, "COM3 Initializing!");
        s.Live(0, "COM3  12%");
        s.Live(0, "COM3  20%", true);
        s.Counts(4, 1, 2);
    });
    const std::string parent = Written(Screen::kPlain, 3, [&](Screen& s) {
        size_t at = 0;
        for (size_t end; (end = child.find('\n', at)) != std::string::npos; at = end + 1)
            if (s.FromChild(2, child.substr(at, end - at), &pass, &fail))
                EXPECT_EQ(end + 1, child.size()) << "only the counts line is taken as counts";
    });
    EXPECT_EQ(parent, "COM3 Initializing!\nCOM3  20%\n") << "without a terminal: lines and milestones";
    EXPECT_EQ(pass, 4);
    EXPECT_EQ(fail, 1);
}

} // namespace
