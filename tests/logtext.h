#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Builds capture-log text for the tests.
namespace logtext {

inline const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.c_str());
}

// Hex dump lines of data, 16 bytes a line, with an optional printable column.
inline std::vector<std::string> dump(const std::string& data, bool ascii = false) {
  std::vector<std::string> lines;
  for (size_t offset = 0; offset < data.size(); offset += 16) {
    char text[32];
    snprintf(text, sizeof text, "%04zx ", offset & 0xffff);
    std::string line = text;
    std::string column;
    for (size_t i = offset; i < offset + 16; ++i) {
      if (i < data.size()) {
        auto b = static_cast<unsigned char>(data[i]);
        snprintf(text, sizeof text, " %02x", b);
        line += text;
        column += b >= 32 && b < 127 ? static_cast<char>(b) : '.';
      } else if (ascii) {
        line += "   ";
      }
    }
    lines.push_back(line + (ascii ? "   " + column : "") + "\n");
  }
  return lines;
}

// A payload header and the dump of json.
inline std::string payload(const std::string& json, bool ascii = false) {
  std::string text = "Decompressed payload (" + std::to_string(json.size()) + " bytes)\n";
  for (const std::string& line : dump(json, ascii)) text += line;
  return text;
}

// A receive-time line followed by one payload.
inline std::string record(const std::string& receive, const std::string& json, bool ascii = false) {
  return receive + "\n" + payload(json, ascii);
}

// Splits text after every newline, as a line reader does.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    out.push_back(text.substr(start, end - start));
    start = end;
  }
  return out;
}

}  // namespace logtext
