// orvane-cli's machine-readable output (--json): JSON Lines on standard
// output, one event per line, each with "schema" and "event".  The schema is
// docs/orvane-cli.schema.json; fields only ever get added, and a change a
// reader would trip on gets a new schema number.
#ifndef ORVANE_CLI_EVENTS_H
#define ORVANE_CLI_EVENTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

const int kEventSchema = 1;

// One JSON object, field by field; strings escaped so that no control byte
// (CR, ESC, ...) reaches the line, and a byte that is not UTF-8 is sent as
// the Latin-1 letter.
class JsonObject
{
public:
    // {"schema":1,"event":NAME
    static JsonObject Event(const char* name);
    JsonObject() : text_("{") {}

    JsonObject& Str(const char* key, const std::string& value);
    JsonObject& StrOrNull(const char* key, const std::string& value);   // "" -> null
    JsonObject& Int(const char* key, long long value);
    JsonObject& Num(const char* key, double value, int decimals);
    JsonObject& NumOrNull(const char* key, double value, int decimals);  // <= 0 -> null
    JsonObject& Bool(const char* key, bool value);
    JsonObject& Null(const char* key);
    JsonObject& Strs(const char* key, const std::vector<std::string>& values);
    JsonObject& Raw(const char* key, const std::string& json);          // an object or array made here
    std::string Done() const { return text_ + "}"; }

private:
    JsonObject& Key(const char* key);
    std::string text_;
};

// A JSON array of values made here (objects, strings), in the order added.
class JsonArray
{
public:
    JsonArray& Add(const std::string& json)
    {
        if (text_.size() > 1)
            text_ += ',';
        text_ += json;
        return *this;
    }
    std::string Done() const { return text_ + "]"; }

private:
    std::string text_ = "[";
};

std::string JsonString(const std::string& text);

// One JSON object read flat: its top-level strings (unescaped) and other
// values as written; arrays and objects as "", nulls left out.  False when
// the text is not one object.
bool ParseFlatJson(const std::string& text, std::map<std::string, std::string>* values);

#endif
