// Enough JSON to read the module simulator's report: objects, arrays,
// strings, numbers (as double), true, false and null.  Anything that is not
// valid JSON reads as null, and so does a missing key or index, so a test can
// write report["image"]["sha256"].str() without looking first.
#ifndef ORVANE_TESTS_JSON_H
#define ORVANE_TESTS_JSON_H

#include <cstddef>
#include <string>
#include <vector>

class Json
{
public:
    enum Kind { Null, Bool, Number, String, Array, Object };
    static Json Parse(const std::string& text);   // null when not valid JSON
    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Null; }
    bool truth() const { return kind_ == Bool && b_; }
    double num() const { return n_; }                // 0 unless a number
    const std::string& str() const { return s_; }    // "" unless a string
    size_t size() const { return items_.size(); }    // elements or members
    const Json& operator[](size_t i) const;                // null when out of range
    const Json& operator[](const std::string& key) const;  // null when missing
    const std::vector<std::string>& keys() const { return keys_; }

private:
    friend struct JsonReader;
    Kind kind_ = Null;
    bool b_ = false;
    double n_ = 0;
    std::string s_;
    std::vector<Json> items_;          // array elements, or object values
    std::vector<std::string> keys_;    // object keys, beside their values
};

#endif
