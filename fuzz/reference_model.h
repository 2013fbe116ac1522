// What a text-mode reader of the services file must see, written plainly and
// apart from the stream, so that the fuzz targets can hold the two against
// each other.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace svcentry::reference {

/// The text before the first Ctrl-Z, with each CR LF pair read as LF.
inline std::string VisibleText(std::string_view file) {
  const std::string_view text = file.substr(0, file.find('\x1a'));
  std::string visible;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    }
    visible += text[i];
  }
  return visible;
}

/// The visible text cut behind every LF and every `limit` characters.
inline std::vector<std::string> Chunks(std::string_view file,
                                       std::size_t limit) {
  std::vector<std::string> chunks;
  std::string chunk;
  for (const char c : VisibleText(file)) {
    chunk += c;
    if (c == '\n' || chunk.size() == limit) {
      chunks.push_back(chunk);
      chunk.clear();
    }
  }
  if (!chunk.empty()) {
    chunks.push_back(chunk);
  }
  return chunks;
}

}  // namespace svcentry::reference
