// A small JSON reader for the library's own reports (status, interfaces,
// browse results) and for the TXT attributes that a user types. It is
// bounded: input longer than max_input bytes or nested deeper than max_depth
// is refused. It is lenient where the reports are: raw control characters
// and bytes above 0x7F inside strings are taken as they are.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tool {

struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string text;  // string value, or the number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member with this key, or nullptr (also for non-objects).
    const JsonValue* get(const char* key) const;
    // Member access with defaults, for reading report fields.
    std::string str(const char* key, const char* fallback = "") const;
    long long integer(const char* key, long long fallback = 0) const;
    // A string, number or literal as text ("true", "null", "42", ...).
    std::string scalar_text() const;
};

constexpr std::size_t max_input = 256 * 1024;
constexpr int max_depth = 16;

// Parses the whole text; false (with a short reason in *error) when it is
// not one JSON value or breaks a bound.
bool parse_json(const char* text, JsonValue& out, std::string* error);

// Appends text as a JSON string literal, quotes included.
void append_json_string(std::string& out, const std::string& text);

}  // namespace tool
