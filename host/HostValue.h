// Values as the host handles them between its input formats, the plug-in boundary and its
// output formats. A value is the 16-byte boundary record (PtValue) wrapped for ownership, so a
// parsed row moves into a boundary list without conversion. Text read from input is UTF-8 and
// becomes a wide (UTF-16) string, the form list values carry text in.
#pragma once

#include <pipetask/pt_value.h>

#include <string>
#include <string_view>
#include <vector>

namespace pt::host {

// Owns one PtValue; copies share strings and arrays by reference count.
class Value {
public:
    Value() { memset(&v_, 0, sizeof v_); }
    Value(const Value& o) : Value() { pt_value_copy(&v_, &o.v_); }
    Value(Value&& o) noexcept : v_(o.v_) { memset(&o.v_, 0, sizeof o.v_); }
    Value& operator=(const Value& o) {
        pt_value_copy(&v_, &o.v_);
        return *this;
    }
    Value& operator=(Value&& o) noexcept {
        if (this != &o) {
            pt_value_clear(&v_);
            v_ = o.v_;
            memset(&o.v_, 0, sizeof o.v_);
        }
        return *this;
    }
    ~Value() { pt_value_clear(&v_); }

    static Value null();
    static Value integer(int32_t x);
    static Value int64(int64_t x);
    static Value dbl(double x);
    static Value boolean(bool x);
    // UTF-8 text as a wide string; the text must be valid UTF-8 (see utf8Valid).
    static Value text(std::string_view utf8);

    const PtValue& raw() const { return v_; }
    PtValue& raw() { return v_; }
    // Gives up ownership: the caller becomes responsible for clearing the record.
    PtValue release() {
        PtValue r = v_;
        memset(&v_, 0, sizeof v_);
        return r;
    }

private:
    PtValue v_;
};

struct Field {
    std::string name;
    Value value;
};
using Row = std::vector<Field>;
using Packet = std::vector<Row>;

// A row as a writer sees it: borrowed names and values, from a parsed row or a plug-in list.
struct FieldView {
    std::string_view name;
    const PtValue* value;
};

// ---- UTF-8 / UTF-16 ----------------------------------------------------------------------

// Index of the first byte that does not start or continue a valid UTF-8 sequence
// (overlong forms, surrogates and code points above U+10FFFF are invalid), or npos.
size_t utf8InvalidAt(std::string_view s);
inline bool utf8Valid(std::string_view s) {
    return utf8InvalidAt(s) == std::string_view::npos;
}
void utf8ToUtf16(std::string_view s, std::u16string& out);
// Unpaired surrogates become U+FFFD.
void utf16ToUtf8(const uint16_t* s, size_t units, std::string& out);

// ---- text forms of values ----------------------------------------------------------------

// A date value (days since 1899-12-30, fraction = time of day) as ISO 8601 local time:
// "YYYY-MM-DDTHH:MM:SS", with ".mmm" when the milliseconds are not zero.
void appendIsoDate(double days, std::string& out);
// Shortest text that reads back as the same double; integral values keep a ".0".
void appendDouble(double x, std::string& out);
// The plain text of a value for CSV and raw output: numbers in their JSON form, booleans
// "true"/"false", dates ISO 8601, text as UTF-8, Null and Empty as nothing. Arrays are
// written in their JSON form.
void appendPlainText(const PtValue& v, std::string& out);
// The JSON form of a value: Empty and Null (and kinds JSON cannot carry, NaN, infinities)
// as null, dates as ISO 8601 strings, arrays as (nested) JSON arrays.
void appendJsonValue(const PtValue& v, std::string& out);
// A JSON string literal of UTF-8 text; invalid UTF-8 bytes become U+FFFD.
void appendJsonString(std::string_view utf8, std::string& out);
// True for values written as JSON null (Empty, Null, and kinds JSON cannot carry).
bool isNullLike(const PtValue& v);

} // namespace pt::host
