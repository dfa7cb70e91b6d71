#include "orvane/cli/events.h"

#include <cmath>
#include <cstdio>

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);   // UTF-8 passes as it is
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
