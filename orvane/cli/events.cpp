#include "orvane/cli/events.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when the
// bytes there are not one (overlong forms and surrogates are not).
size_t Utf8Length(const std::string& text, size_t i)
{
    const unsigned char c = (unsigned char)text[i];
    size_t n;
    unsigned char low = 0x80, high = 0xBF;   // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char b = (unsigned char)text[i + k];
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
            return 0;
    }
    return n;
}

// ---- reading: one flat object --------------------------------------------

bool Rest(const std::string& text, size_t i)
{
    return text.find_first_not_of(" \t\r", i) == std::string::npos;
}

bool String(const std::string& text, size_t* i, std::string* out)
{
    if (*i >= text.size() || text[*i] != '"')
        return false;
    for (++*i; *i < text.size(); ++*i) {
        const char c = text[*i];
        if (c == '"') {
            ++*i;
            return true;
        }
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++*i >= text.size())
            return false;
        const char e = text[*i];
        if (e == 'u') {
            if (*i + 4 >= text.size())
                return false;
            const long code = std::strtol(text.substr(*i + 1, 4).c_str(), nullptr, 16);
            *out += code < 0x80 ? char(code) : '?';
            *i += 4;
        } else {
            *out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
        }
    }
    return false;
}

// A value; arrays and objects are skipped whole (kept as "").
bool Value(const std::string& text, size_t* i, std::string* out)
{
    if (*i >= text.size())
        return false;
    if (text[*i] == '"')
        return String(text, i, out);
    if (text[*i] == '[' || text[*i] == '{') {
        int depth = 0;
        for (; *i < text.size(); ++*i) {
            const char c = text[*i];
            if (c == '"') {
                std::string skipped;
                if (!String(text, i, &skipped))
                    return false;
                --*i;
            } else if (c == '[' || c == '{') {
                ++depth;
            } else if ((c == ']' || c == '}') && --depth == 0) {
                ++*i;
                return true;
            }
        }
        return false;
    }
    const size_t end = text.find_first_of(",} \t", *i);
    if (end == std::string::npos || end == *i)
        return false;
    *out = text.substr(*i, end - *i);
    *i = end;
    return true;
}

} // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = (unsigned char)text[i];
        const size_t n = c < 0x80 ? 1 : Utf8Length(text, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F || n == 0) {
            // A byte that is not UTF-8 (a Windows code page's letter, say)
            // as the Latin-1 letter it most likely is: the line stays JSON.
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, n);   // UTF-8 passes as it is
            i += n - 1;
        }
    }
    return out + "\"";
}

JsonObject JsonObject::Event(const char* name)
{
    JsonObject o;
    o.Int("schema", kEventSchema).Str("event", name);
    return o;
}

JsonObject& JsonObject::Key(const char* key)
{
    if (text_.size() > 1)
        text_ += ',';
    text_ += JsonString(key) + ":";
    return *this;
}

JsonObject& JsonObject::Str(const char* key, const std::string& value)
{
    Key(key).text_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::StrOrNull(const char* key, const std::string& value)
{
    return value.empty() ? Null(key) : Str(key, value);
}

JsonObject& JsonObject::Int(const char* key, long long value)
{
    Key(key).text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Num(const char* key, double value, int decimals)
{
    if (!std::isfinite(value))
        return Null(key);
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    for (char* p = text; *p; ++p)
        if (*p == ',')
            *p = '.';   // whatever the locale says
    Key(key).text_ += text;
    return *this;
}

JsonObject& JsonObject::NumOrNull(const char* key, double value, int decimals)
{
    return value > 0 ? Num(key, value, decimals) : Null(key);
}

JsonObject& JsonObject::Bool(const char* key, bool value)
{
    Key(key).text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Null(const char* key)
{
    Key(key).text_ += "null";
    return *this;
}

JsonObject& JsonObject::Strs(const char* key, const std::vector<std::string>& values)
{
    JsonArray list;
    for (const std::string& v : values)
        list.Add(JsonString(v));
    return Raw(key, list.Done());
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json)
{
    Key(key).text_ += json;
    return *this;
}

bool ParseFlatJson(const std::string& text, std::map<std::string, std::string>* values)
{
    size_t i = 0;
    auto space = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
            ++i;
    };
    space();
    if (i >= text.size() || text[i++] != '{')
        return false;
    space();
    if (i < text.size() && text[i] == '}')
        return Rest(text, i + 1);
    for (;;) {
        std::string key, value;
        space();
        if (!String(text, &i, &key))
            return false;
        space();
        if (i >= text.size() || text[i++] != ':')
            return false;
        space();
        const bool quoted = i < text.size() && text[i] == '"';
        if (!Value(text, &i, &value))
            return false;
        if (quoted || value != "null")   // a null is left out
            (*values)[key] = value;
        space();
        if (i >= text.size())
            return false;
        if (text[i] == '}')
            return Rest(text, i + 1);
        if (text[i++] != ',')
            return false;
    }
}

