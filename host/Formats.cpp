#include "Formats.h"

#include <simdjson.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

namespace pt::host {

std::optional<Format> formatFromName(std::string_view name) {
    if (name == "jsonl") return Format::Jsonl;
    if (name == "csv") return Format::Csv;
    if (name == "raw") return Format::Raw;
    return std::nullopt;
}

const char* formatName(Format f) {
    switch (f) {
    case Format::Jsonl:
        return "jsonl";
    case Format::Csv:
        return "csv";
    case Format::Raw:
        return "raw";
    }
    return "?";
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

static std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

static Value integerValue(int64_t x) {
    if (x >= INT32_MIN && x <= INT32_MAX) return Value::integer(static_cast<int32_t>(x));
    return Value::int64(x);
}

std::optional<Value> numberFromText(std::string_view t) {
    // JSON number syntax: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    size_t i = 0, n = t.size();
    if (i < n && t[i] == '-') ++i;
    if (i >= n || t[i] < '0' || t[i] > '9') return std::nullopt;
    if (t[i] == '0')
        ++i;
    else
        while (i < n && t[i] >= '0' && t[i] <= '9') ++i;
    bool integral = true;
    if (i < n && t[i] == '.') {
        integral = false;
        ++i;
        size_t d = i;
        while (i < n && t[i] >= '0' && t[i] <= '9') ++i;
        if (i == d) return std::nullopt;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        integral = false;
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        size_t d = i;
        while (i < n && t[i] >= '0' && t[i] <= '9') ++i;
        if (i == d) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    if (integral) {
        int64_t x;
        auto r = std::from_chars(t.data(), t.data() + n, x);
        if (r.ec == std::errc()) return integerValue(x);
    }
    double d;
    auto r = std::from_chars(t.data(), t.data() + n, d);
    // A number outside the double range is kept as its text rather than turned into an
    // infinity or a zero: nothing of the field is lost.
    if (r.ec != std::errc()) return std::nullopt;
    return Value::dbl(d);
}

static bool isMarker(std::string_view name) {
    return name == kRowMarker;
}

// ---- jsonl -------------------------------------------------------------------------------

namespace {

class JsonlParser final : public PacketParser {
public:
    Result parse(std::string_view line, Packet& out, std::string& error) override {
        out.clear();
        if (trimBlanks(line).empty()) return Result::Skip;
        padded_.resize(line.size() + simdjson::SIMDJSON_PADDING);
        std::memcpy(padded_.data(), line.data(), line.size());
        simdjson::dom::element root;
        auto err = parser_.parse(padded_.data(), line.size(), false).get(root);
        if (err == simdjson::NUMBER_ERROR && widenBigIntegers(line)) {
            // The reader refuses integers beyond 64 bits; written with a fraction they read
            // as the Double they become anyway.
            err = parser_.parse(padded_.data(), wide_.size(), false).get(root);
        }
        if (err) {
            error = std::string("invalid JSON: ") + simdjson::error_message(err);
            return Result::Error;
        }
        simdjson::dom::object obj;
        simdjson::dom::array arr;
        if (root.get_object().get(obj) == simdjson::SUCCESS) {
            out.emplace_back();
            if (!readRow(obj, out.back(), error)) return fail(out);
        } else if (root.get_array().get(arr) == simdjson::SUCCESS) {
            size_t index = 0;
            for (simdjson::dom::element el : arr) {
                if (el.get_object().get(obj) != simdjson::SUCCESS) {
                    error = "element " + std::to_string(index) + " of the array is not an object";
                    return fail(out);
                }
                out.emplace_back();
                if (!readRow(obj, out.back(), error)) return fail(out);
                ++index;
            }
            if (out.empty()) return Result::Skip;
        } else {
            error = "expected a JSON object or an array of objects";
            return Result::Error;
        }
        return Result::Packet;
    }

private:
    // Copies the line into padded_ with ".0" after every integer literal of 20 or more
    // digits outside strings (all of them lie beyond the Int64 range); false when there is
    // none.
    bool widenBigIntegers(std::string_view line) {
        wide_.clear();
        bool changed = false, inString = false;
        size_t i = 0, n = line.size();
        while (i < n) {
            char c = line[i];
            if (inString) {
                wide_.push_back(c);
                if (c == '\\' && i + 1 < n)
                    wide_.push_back(line[++i]);
                else if (c == '"')
                    inString = false;
                ++i;
                continue;
            }
            if (c == '"') inString = true;
            if (c >= '0' && c <= '9') {
                size_t start = i;
                while (i < n && line[i] >= '0' && line[i] <= '9') ++i;
                wide_.append(line.substr(start, i - start));
                bool plain = i >= n || (line[i] != '.' && line[i] != 'e' && line[i] != 'E');
                if (i - start >= 20 && plain) {
                    wide_.append(".0");
                    changed = true;
                }
                continue;
            }
            wide_.push_back(c);
            ++i;
        }
        if (!changed) return false;
        padded_.resize(wide_.size() + simdjson::SIMDJSON_PADDING);
        std::memcpy(padded_.data(), wide_.data(), wide_.size());
        return true;
    }

    static Result fail(Packet& out) {
        out.clear();
        return Result::Error;
    }

    static bool readRow(simdjson::dom::object obj, Row& row, std::string& error) {
        row.reserve(obj.size());
        for (auto member : obj) {
            if (isMarker(member.key)) {
                error = "the name \"$NEW_ROW$\" is reserved";
                return false;
            }
            row.push_back(Field{std::string(member.key), valueOf(member.value)});
        }
        return true;
    }

    static Value valueOf(simdjson::dom::element el) {
        using T = simdjson::dom::element_type;
        int64_t i = 0;
        uint64_t u = 0;
        double d = 0;
        std::string_view s;
        bool b = false;
        constexpr auto ok = simdjson::SUCCESS;
        switch (el.type()) {
        case T::INT64:
            if (el.get_int64().get(i) == ok) return integerValue(i);
            break;
        case T::UINT64: // above the Int64 range
            if (el.get_uint64().get(u) == ok) return Value::dbl(static_cast<double>(u));
            break;
        case T::DOUBLE:
            if (el.get_double().get(d) == ok) return Value::dbl(d);
            break;
        case T::STRING:
            if (el.get_string().get(s) == ok) return Value::text(s);
            break;
        case T::BOOL:
            if (el.get_bool().get(b) == ok) return Value::boolean(b);
            break;
        case T::NULL_VALUE:
            return Value::null();
        case T::ARRAY:
        case T::OBJECT:
            return Value::text(simdjson::minify(el));
        }
        return Value::null();
    }

    simdjson::dom::parser parser_;
    std::vector<char> padded_;
    std::string wide_;
};

// ---- csv ---------------------------------------------------------------------------------

struct CsvField {
    std::string text;
    bool quoted;
};

// Splits one line into fields (RFC 4180 quoting, "" inside quotes is one quote). A quoted
// field may not span lines: each line is one record.
bool splitCsv(std::string_view line, std::vector<CsvField>& fields, std::string& error) {
    fields.clear();
    size_t i = 0, n = line.size();
    for (;;) {
        CsvField f{{}, false};
        size_t start = i;
        while (i < n && isBlank(line[i])) ++i;
        if (i < n && line[i] == '"') {
            f.quoted = true;
            size_t open = i++;
            for (;;) {
                if (i >= n) {
                    error = "unterminated quoted field at column " + std::to_string(open + 1);
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        f.text.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                f.text.push_back(line[i++]);
            }
            while (i < n && isBlank(line[i])) ++i;
            if (i < n && line[i] != ',') {
                error = "unexpected text after the quoted field at column " + std::to_string(i + 1);
                return false;
            }
        } else {
            i = start;
            while (i < n && line[i] != ',') {
                if (line[i] == '"') {
                    error = "quote inside an unquoted field at column " + std::to_string(i + 1);
                    return false;
                }
                ++i;
            }
            f.text.assign(line.substr(start, i - start));
        }
        fields.push_back(std::move(f));
        if (i >= n) return true;
        ++i; // the comma
    }
}

class CsvParser final : public PacketParser {
public:
    Result parse(std::string_view line, Packet& out, std::string& error) override {
        out.clear();
        if (trimBlanks(line).empty()) return Result::Skip;
        size_t bad = utf8InvalidAt(line);
        if (bad != std::string_view::npos) {
            error = "invalid UTF-8 at column " + std::to_string(bad + 1);
            return Result::Error;
        }
        if (!splitCsv(line, fields_, error)) return Result::Error;
        if (!haveHeader_) return readHeader(error);
        if (fields_.size() != header_.size()) {
            error = "expected " + std::to_string(header_.size()) + " fields, found " +
                    std::to_string(fields_.size());
            return Result::Error;
        }
        out.emplace_back();
        Row& row = out.back();
        row.reserve(fields_.size());
        for (size_t i = 0; i < fields_.size(); ++i) {
            const CsvField& f = fields_[i];
            Value v;
            if (f.quoted) {
                v = Value::text(f.text);
            } else {
                std::string_view t = trimBlanks(f.text);
                if (t.empty())
                    v = Value::null();
                else if (auto num = numberFromText(t))
                    v = std::move(*num);
                else
                    v = Value::text(f.text);
            }
            row.push_back(Field{header_[i], std::move(v)});
        }
        return Result::Packet;
    }

private:
    Result readHeader(std::string& error) {
        std::vector<std::string> names;
        for (size_t i = 0; i < fields_.size(); ++i) {
            std::string name =
                fields_[i].quoted ? fields_[i].text : std::string(trimBlanks(fields_[i].text));
            if (trimBlanks(name).empty()) {
                error = "column " + std::to_string(i + 1) + " of the header has no name";
                return Result::Error;
            }
            if (isMarker(name)) {
                error = "the name \"$NEW_ROW$\" is reserved";
                return Result::Error;
            }
            names.push_back(std::move(name));
        }
        header_ = std::move(names);
        haveHeader_ = true;
        return Result::Skip;
    }

    bool haveHeader_ = false;
    std::vector<std::string> header_;
    std::vector<CsvField> fields_;
};

// ---- raw ---------------------------------------------------------------------------------

class RawParser final : public PacketParser {
public:
    Result parse(std::string_view line, Packet& out, std::string& error) override {
        out.clear();
        size_t bad = utf8InvalidAt(line);
        if (bad != std::string_view::npos) {
            error = "invalid UTF-8 at column " + std::to_string(bad + 1);
            return Result::Error;
        }
        out.emplace_back();
        out.back().push_back(Field{"DATA", Value::text(line)});
        return Result::Packet;
    }
};

// ---- writers -----------------------------------------------------------------------------

class JsonlWriter final : public RowWriter {
public:
    void write(std::span<const FieldView> row, std::string& out) override {
        out.push_back('{');
        bool first = true;
        for (const FieldView& f : row) {
            if (!first) out.push_back(',');
            first = false;
            appendJsonString(f.name, out);
            out.push_back(':');
            appendJsonValue(*f.value, out);
        }
        out.append("}\n");
    }
};

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

class CsvWriter final : public RowWriter {
public:
    explicit CsvWriter(std::function<void(const std::string&)> warn) : warn_(std::move(warn)) {}

    void write(std::span<const FieldView> row, std::string& out) override {
        if (!haveHeader_) {
            haveHeader_ = true;
            for (size_t i = 0; i < row.size(); ++i) {
                header_.emplace_back(row[i].name);
                if (i) out.push_back(',');
                appendField(row[i].name, true, out);
            }
            out.push_back('\n');
        }
        if (sameNames(row)) {
            for (size_t i = 0; i < row.size(); ++i) {
                if (i) out.push_back(',');
                appendValue(*row[i].value, out);
            }
        } else {
            writeByName(row, out);
        }
        out.push_back('\n');
    }

private:
    bool sameNames(std::span<const FieldView> row) const {
        if (row.size() != header_.size()) return false;
        for (size_t i = 0; i < row.size(); ++i)
            if (row[i].name != header_[i]) return false;
        return true;
    }

    // Columns are matched by name (ASCII case ignored, the k-th column of a repeated name
    // takes the k-th item of that name); missing items give empty fields.
    void writeByName(std::span<const FieldView> row, std::string& out) {
        used_.assign(row.size(), false);
        for (size_t c = 0; c < header_.size(); ++c) {
            if (c) out.push_back(',');
            for (size_t i = 0; i < row.size(); ++i) {
                if (!used_[i] && equalsAsciiNoCase(row[i].name, header_[c])) {
                    used_[i] = true;
                    appendValue(*row[i].value, out);
                    break;
                }
            }
        }
        for (size_t i = 0; i < row.size(); ++i) {
            if (used_[i] || !warn_) continue;
            std::string name(row[i].name);
            if (warned_.insert(name).second)
                warn_("csv output: \"" + name +
                      "\" is not a column of the header written first; its values are left out");
        }
    }

    static bool needsQuotes(std::string_view s) {
        if (s.empty()) return true; // an empty unquoted field reads back as Null
        if (s.find_first_of(",\"\r\n") != std::string_view::npos) return true;
        if (isBlank(s.front()) || isBlank(s.back())) return true;
        return numberFromText(s).has_value(); // text that looks like a number stays text
    }

    static void appendField(std::string_view s, bool text, std::string& out) {
        if (!text || !needsQuotes(s)) {
            out.append(s);
            return;
        }
        out.push_back('"');
        for (char c : s) {
            if (c == '"') out.push_back('"');
            out.push_back(c);
        }
        out.push_back('"');
    }

    void appendValue(const PtValue& v, std::string& out) {
        if (isNullLike(v)) return;
        tmp_.clear();
        appendPlainText(v, tmp_);
        bool text = v.vt == PT_VAR_OLESTR || v.vt == PT_VAR_STRING || v.vt == PT_VAR_DATE ||
                    (v.vt & PT_VAR_ARRAY);
        appendField(tmp_, text, out);
    }

    std::function<void(const std::string&)> warn_;
    bool haveHeader_ = false;
    std::vector<std::string> header_;
    std::vector<bool> used_;
    std::set<std::string> warned_;
    std::string tmp_;
};

class RawWriter final : public RowWriter {
public:
    void write(std::span<const FieldView> row, std::string& out) override {
        size_t start = out.size();
        const FieldView* data = nullptr;
        for (const FieldView& f : row)
            if (equalsAsciiNoCase(f.name, "DATA")) {
                data = &f;
                break;
            }
        if (data) {
            appendPlainText(*data->value, out);
        } else {
            for (size_t i = 0; i < row.size(); ++i) {
                if (i) out.push_back('\t');
                appendPlainText(*row[i].value, out);
            }
        }
        // One row is one line: line breaks inside values become blanks.
        for (size_t i = start; i < out.size(); ++i)
            if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
        out.push_back('\n');
    }
};

} // namespace

std::unique_ptr<PacketParser> makeParser(Format f) {
    switch (f) {
    case Format::Jsonl:
        return std::make_unique<JsonlParser>();
    case Format::Csv:
        return std::make_unique<CsvParser>();
    case Format::Raw:
        return std::make_unique<RawParser>();
    }
    return nullptr;
}

std::unique_ptr<RowWriter> makeWriter(Format f, std::function<void(const std::string&)> warn) {
    switch (f) {
    case Format::Jsonl:
        return std::make_unique<JsonlWriter>();
    case Format::Csv:
        return std::make_unique<CsvWriter>(std::move(warn));
    case Format::Raw:
        return std::make_unique<RawWriter>();
    }
    return nullptr;
}

void appendEventLine(std::span<const FieldView> row, std::string& out) {
    out.append("{\"event\":");
    const FieldView* type = nullptr;
    bool global = false;
    for (const FieldView& f : row) {
        if (!type && f.name == "EVENT-TYPE")
            type = &f;
        else if (f.name == "EVENT-GLOBAL")
            global = true;
    }
    if (type) {
        std::string text;
        appendPlainText(*type->value, text);
        appendJsonString(text, out);
    } else {
        out.append("null");
    }
    if (global) out.append(",\"global\":true");
    for (const FieldView& f : row) {
        if (&f == type || f.name == "EVENT-GLOBAL") continue;
        out.push_back(',');
        appendJsonString(f.name, out);
        out.push_back(':');
        appendJsonValue(*f.value, out);
    }
    out.append("}\n");
}

void viewRow(const Row& row, std::vector<FieldView>& out) {
    out.clear();
    for (const Field& f : row) out.push_back(FieldView{f.name, &f.value.raw()});
}

} // namespace pt::host
