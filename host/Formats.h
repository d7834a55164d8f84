// The line formats of the host: jsonl, csv and raw, read into packets and written from rows.
//
// jsonl: a line holds a JSON object (a one-row packet; members in order are the row's named
//   values) or an array of objects (one row each). Numbers written without fraction or
//   exponent are Integer when they fit 32 bits, Int64 when they fit 64, Double otherwise;
//   numbers with a fraction or an exponent are Double; strings text, true/false Boolean, null
//   Null; a nested object or array is kept as its JSON text.
// csv: the first line names the columns; every further line is a one-row packet. A quoted
//   field is text; an unquoted field is a number when it reads as a JSON number (blanks
//   around it allowed), Null when it is empty, text otherwise.
// raw: every line is a one-row packet with the single item "DATA" holding the line as text.
//
// Output mirrors this: jsonl objects with members in row order (Date values as ISO 8601
// text, Null and Empty as null); csv with a header taken from the first row written; raw
// writes the row's "DATA" value, or, for a row without one, all its values separated by tabs.
#pragma once

#include "HostValue.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pt::host {

enum class Format { Jsonl, Csv, Raw };

std::optional<Format> formatFromName(std::string_view name);
const char* formatName(Format f);

// The marker name that separates rows in a boundary list; input may not use it as a name.
inline constexpr std::string_view kRowMarker = "$NEW_ROW$";

class PacketParser {
public:
    enum class Result {
        Packet, // `out` holds a packet of at least one row
        Skip,   // nothing to send (an empty line, the csv header)
        Error,  // the line is malformed; `error` says why
    };
    virtual ~PacketParser() = default;
    // `out` is cleared first. The line must not include its line break.
    virtual Result parse(std::string_view line, Packet& out, std::string& error) = 0;
};

std::unique_ptr<PacketParser> makeParser(Format f);

// A number written in JSON syntax, typed by the jsonl rules; nullopt when `text` is not one.
std::optional<Value> numberFromText(std::string_view text);

class RowWriter {
public:
    virtual ~RowWriter() = default;
    // Appends the row as one line, line break included.
    virtual void write(std::span<const FieldView> row, std::string& out) = 0;
};

// `warn` receives one-line notes about data the format cannot carry (a csv row with a name
// that is not in the header), each at most once.
std::unique_ptr<RowWriter> makeWriter(Format f, std::function<void(const std::string&)> warn = {});

// An event row (items "EVENT-TYPE", optional "EVENT-GLOBAL", then the event's values) as one
// JSON object line: {"event": TYPE, "global": true when set, ...values}.
void appendEventLine(std::span<const FieldView> row, std::string& out);

// Views of a parsed row, for writers.
void viewRow(const Row& row, std::vector<FieldView>& out);

} // namespace pt::host
