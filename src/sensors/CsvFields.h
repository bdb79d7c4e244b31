#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text of one delimited line of a recording: fields, names and numbers, without copies on
// the row path.
namespace sensors::csv {

std::string_view trimmed(std::string_view s);
// Trimmed, and without one pair of surrounding double quotes.
std::string_view unquoted(std::string_view s);
std::string lowered(std::string_view s);

// Splits into unquoted `fields` (reused between rows so that a long file allocates once).
void split(std::string_view line, char separator, std::vector<std::string_view>& fields);

// A finite decimal number, the whole field. With `decimalComma` a comma is the decimal mark.
std::optional<double> number(std::string_view field, bool decimalComma);
// A whole number, the whole field.
std::optional<long long> whole(std::string_view field);

// A field quoted for a message: at most 24 bytes of it, control bytes (a NUL among them)
// written as \xNN so that the message is neither cut nor garbled where it is printed.
QString shown(std::string_view field);

} // namespace sensors::csv
