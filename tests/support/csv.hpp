// Reads the CSV tables the evaluator writes: cells separated by commas,
// quoted when they hold a comma, a quote or a line break (quotes doubled),
// lines ended by CRLF or LF.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vntr::test {

inline std::vector<std::vector<std::string>> ParseCsv(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(cell);
            cell.clear();
            any = true;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            row.push_back(cell);
            rows.push_back(row);
            row.clear();
            cell.clear();
            any = false;
        } else {
            cell += c;
            any = true;
        }
    }
    if (any) {
        row.push_back(cell);
        rows.push_back(row);
    }
    return rows;
}

// Whether a CSV cell holds the field of a JSON record named by a dotted
// path ("quality.snrDb"): the same text, the same number, the same truth
// value, or an empty cell for a field the record lacks.
inline bool CellHolds(const std::string &cell, const nlohmann::json &record, const std::string &column) {
    std::string pointer = "/" + column;
    for (auto &c : pointer) {
        if (c == '.') c = '/';
    }
    const nlohmann::json::json_pointer at(pointer);
    if (!record.contains(at)) return cell.empty();
    const auto &value = record.at(at);
    if (value.is_string()) return cell == value.get<std::string>();
    if (value.is_boolean()) return cell == (value.get<bool>() ? "true" : "false");
    if (value.is_number()) {
        try {
            std::size_t used = 0;
            const double number = std::stod(cell, &used);
            return used == cell.size() && number == value.get<double>();
        } catch (const std::exception &) {
            return false;
        }
    }
    return false;
}

} // namespace vntr::test
