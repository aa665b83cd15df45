// The fixtures' CSV manifests, shared by the test programs. Manifest values
// are the stored bytes (code page 437, blank padding kept); a quoted value may
// hold commas, and "" inside quotes is one ".
#pragma once

#include "support/Files.h"

#include <string>
#include <vector>

namespace testsupport {

struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

inline CsvTable readCsvTable(const std::string& path) {
    const std::string text = readFile(path);
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> row;
    std::string cell;
    bool inQuotes = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            inQuotes = true;
        } else if (c == ',') {
            row.push_back(cell);
            cell.clear();
        } else if (c == '\n') {
            row.push_back(cell);
            lines.push_back(row);
            row.clear();
            cell.clear();
        } else if (c != '\r') {
            cell += c;
        }
    }
    if (!cell.empty() || !row.empty()) {
        row.push_back(cell);
        lines.push_back(row);
    }
    CsvTable table;
    if (!lines.empty()) {
        table.header = lines.front();
        table.rows.assign(lines.begin() + 1, lines.end());
    }
    return table;
}

// The rows of a manifest, header line left out.
inline std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    return readCsvTable(path).rows;
}

} // namespace testsupport
