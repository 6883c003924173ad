// Helpers of the quorvix-scan tests: a strict RFC 4180 reader and the
// display columns of a table line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quorvix::testing {

// Reads CSV text whose records all end in CRLF; throws on anything else.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  std::size_t i = 0;
  bool fieldStarted = false;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"' && !fieldStarted) {
      ++i;
      while (true) {
        if (i >= text.size()) throw std::runtime_error("unterminated quoted field");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
      fieldStarted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      fieldStarted = false;
      ++i;
    } else if (c == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') throw std::runtime_error("bare CR");
      record.push_back(std::move(field));
      records.push_back(std::move(record));
      field.clear();
      record.clear();
      fieldStarted = false;
      i += 2;
    } else if (c == '\n') {
      throw std::runtime_error("LF without CR");
    } else {
      if (fieldStarted && !field.empty() && text[i - 1] == '"') {
        throw std::runtime_error("text after a closing quote");
      }
      field += c;
      fieldStarted = true;
      ++i;
    }
  }
  if (fieldStarted || !record.empty()) throw std::runtime_error("last record without CRLF");
  return records;
}

// Code points of a UTF-8 text (every name in the test data is one column wide).
inline std::vector<std::string> CodePoints(const std::string& utf8) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80 && !out.empty()) {
      out.back() += utf8[i];
    } else {
      out.emplace_back(1, utf8[i]);
    }
  }
  return out;
}

// Splits a table into lines and each line into the cells that start at the
// columns where the header line's names start.
inline std::vector<std::vector<std::string>> ParseTable(const std::string& text,
                                                        const std::vector<std::string>& headers) {
  std::vector<std::vector<std::string>> lines;
  std::size_t start = 0;
  std::vector<std::size_t> columns;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) throw std::runtime_error("last line without LF");
    const auto cps = CodePoints(text.substr(start, end - start));
    start = end + 1;
    if (columns.empty()) {
      std::string line;
      std::vector<std::size_t> offsets;  // code point index of every byte position
      for (std::size_t k = 0; k < cps.size(); ++k) {
        for (std::size_t b = 0; b < cps[k].size(); ++b) offsets.push_back(k);
        line += cps[k];
      }
      for (const auto& h : headers) {
        const std::size_t at = line.find(h);
        if (at == std::string::npos) throw std::runtime_error("header missing: " + h);
        columns.push_back(offsets[at]);
      }
    }
    std::vector<std::string> cells;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const std::size_t from = columns[k];
      const std::size_t to = k + 1 < columns.size() ? columns[k + 1] : cps.size();
      if (k > 0 && from < cps.size() && (cps.at(from - 1) != " " || cps.at(from - 2) != " ")) {
        throw std::runtime_error("cell not aligned at its column");
      }
      std::string cell;
      for (std::size_t p = from; p < to && p < cps.size(); ++p) cell += cps[p];
      while (!cell.empty() && cell.back() == ' ') cell.pop_back();
      cells.push_back(cell);
    }
    lines.push_back(cells);
  }
  return lines;
}

}  // namespace quorvix::testing
