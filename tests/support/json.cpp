// A small JSON reader (see json.h).
#include "tests/support/json.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

static const Json kNull;

const Json& Json::operator[](size_t i) const
{
    return kind_ == Array && i < items_.size() ? items_[i] : kNull;
}

const Json& Json::operator[](const std::string& key) const
{
    for (size_t i = 0; kind_ == Object && i < keys_.size(); i++)
        if (keys_[i] == key)
            return items_[i];
    return kNull;
}

struct JsonReader
{
    const std::string& s;
    size_t at = 0;

    void Space()
    {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n'))
            at++;
    }

    bool Take(const char* word)
    {
        size_t n = strlen(word);
        if (s.compare(at, n, word) != 0)
            return false;
        at += n;
        return true;
    }

    bool Text(std::string* out)
    {
        if (!Take("\""))
            return false;
        for (;;) {
            if (at >= s.size() || (unsigned char)s[at] < 0x20)
                return false;
            char c = s[at++];
            if (c == '"')
                return true;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at >= s.size())
                return false;
            switch (c = s[at++]) {
            case '"': case '\\': case '/': *out += c; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned u = 0;
                for (int k = 0; k < 4; k++, at++) {
                    if (at >= s.size() || !isxdigit((unsigned char)s[at]))
                        return false;
                    u = u * 16 + (isdigit((unsigned char)s[at]) ? s[at] - '0' : (tolower(s[at]) - 'a' + 10));
                }
                if (u < 0x80) {
                    *out += (char)u;
                } else if (u < 0x800) {   // UTF-8; pairs of surrogates stay apart
                    *out += (char)(0xC0 | (u >> 6));
                    *out += (char)(0x80 | (u & 0x3F));
                } else {
                    *out += (char)(0xE0 | (u >> 12));
                    *out += (char)(0x80 | ((u >> 6) & 0x3F));
                    *out += (char)(0x80 | (u & 0x3F));
                }
                break;
            }
            default: return false;
            }
        }
    }

    bool Value(Json* v, int depth)
    {
        Space();
        if (at >= s.size() || depth > 100)
            return false;
        char c = s[at];
        if (c == '"') {
            v->kind_ = Json::String;
            return Text(&v->s_);
        }
        if (c == '[' || c == '{') {
            bool fObject = c == '{';
            v->kind_ = fObject ? Json::Object : Json::Array;
            at++;
            Space();
            if (Take(fObject ? "}" : "]"))
                return true;
            for (;;) {
                if (fObject) {
                    Space();
                    v->keys_.emplace_back();
                    if (!Text(&v->keys_.back()))
                        return false;
                    Space();
                    if (!Take(":"))
                        return false;
                }
                v->items_.emplace_back();
                if (!Value(&v->items_.back(), depth + 1))
                    return false;
                Space();
                if (Take(fObject ? "}" : "]"))
                    return true;
                if (!Take(","))
                    return false;
            }
        }
        bool fTrue = Take("true");
        if (fTrue || Take("false")) {
            v->kind_ = Json::Bool;
            v->b_ = fTrue;
            return true;
        }
        if (Take("null"))
            return true;
        size_t end = at;
        while (end < s.size() && s[end] && strchr("+-0123456789.eE", s[end]))
            end++;
        std::string number = s.substr(at, end - at);
        char* stop = NULL;
        v->n_ = strtod(number.c_str(), &stop);
        v->kind_ = Json::Number;
        at = end;
        return !number.empty() && stop == number.c_str() + number.size();
    }
};

Json Json::Parse(const std::string& text)
{
    JsonReader r{ text };
    Json v;
    if (!r.Value(&v, 0))
        return Json();
    r.Space();
    return r.at == text.size() ? v : Json();
}
