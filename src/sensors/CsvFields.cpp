#include "sensors/CsvFields.h"

#include <array>
#include <charconv>
#include <cmath>

namespace sensors::csv {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string_view unquoted(std::string_view s) {
    s = trimmed(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

void split(std::string_view line, char separator, std::vector<std::string_view>& fields) {
    fields.clear();
    for (;;) {
        const std::size_t at = line.find(separator);
        fields.push_back(unquoted(line.substr(0, at)));
        if (at == std::string_view::npos)
            return;
        line.remove_prefix(at + 1);
    }
}

std::optional<double> number(std::string_view field, bool decimalComma) {
    std::array<char, 64> copy; // filled only for a decimal comma; no clearing on the hot path
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    if (decimalComma && field.find(',') != std::string_view::npos) {
        if (field.size() > copy.size())
            return std::nullopt;
        for (std::size_t i = 0; i < field.size(); ++i)
            copy[i] = field[i] == ',' ? '.' : field[i];
        field = std::string_view(copy.data(), field.size());
    }
    double value = 0.0;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> whole(std::string_view field) {
    long long value = 0;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc() || ptr != end || field.empty())
        return std::nullopt;
    return value;
}

QString shown(std::string_view field) {
    constexpr std::size_t kLongest = 24;
    const std::string_view head = field.substr(0, kLongest);
    QByteArray bytes;
    bytes.reserve(qsizetype(head.size()));
    for (const char c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F)
            bytes += QByteArray("\\x") + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            bytes += c;
    }
    QString text = QString::fromUtf8(bytes);
    if (field.size() > kLongest)
        text += QStringLiteral("...");
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace sensors::csv
