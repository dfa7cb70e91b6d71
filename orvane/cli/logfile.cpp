#include "orvane/cli/logfile.h"

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

bool SplitCsv(const std::string& line, std::vector<std::string>* fields)
{
    fields->assign(1, std::string());
    bool quoted = false;
    const size_t n = line.size() && line.back() == '\r' ? line.size() - 1 : line.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                fields->back() += c;
            else if (i + 1 < n && line[i + 1] == '"')
                fields->back() += line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields->emplace_back();
        } else {
            fields->back() += c;
        }
    }
    return !quoted;
}
