// Tokenizer of option lines.
#include "FFmpegOpt/FFmpegOpt.h"

namespace vexa {

std::vector<std::string> SplitOptionLine(const std::string& line) {
  std::vector<std::string> tokens;
  const std::size_t len = line.size();
  std::size_t p = 0;
  for (;;) {
    while (p < len && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p >= len) break;

    std::string token;
    bool quoting = false;
    for (;;) {
      std::size_t backslashes = 0;
      while (p < len && line[p] == '\\') {
        ++backslashes;
        ++p;
      }
      const bool atEnd = p >= len;
      const char c = atEnd ? '\0' : line[p];
      bool copy = true;
      bool literalQuotePair = false;
      if (!atEnd && c == '"') {
        if (backslashes % 2 == 0) {
          // Inside quotes, a quote followed by exactly one more quote at the
          // end of the line ends quoting and yields that last quote.
          if (quoting && len - (p + 1) == 1 && line[p + 1] == '"') {
            literalQuotePair = true;
            quoting = false;
          } else {
            quoting = !quoting;
          }
          copy = false;
        }
        backslashes /= 2;
      }
      token.append(backslashes, '\\');
      if (atEnd || (!quoting && (c == ' ' || c == '\t'))) break;
      if (literalQuotePair) {
        token.push_back('"');
        p += 2;
        continue;
      }
      if (copy) token.push_back(c);
      ++p;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace vexa
