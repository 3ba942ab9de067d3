// Texts of media library error codes.
//
// ErrorText looks a code up in the engine's own table of 210 rows: the media
// library's tag codes, the C runtime's error numbers (negative) and the socket
// error numbers 10000 + n (negative). The first row with the code wins; a code
// without a row reads "Error number %d occurred".
//
// The C runtime rows use the Linux errno numbering (ENAMETOOLONG 36, ELOOP 40,
// ETIMEDOUT 110 ...), so AVERROR(errno) from the libraries on this platform
// finds its own text. The socket rows (10000 + n) are never produced here;
// they stay so that stored codes keep their texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexa {

struct TErrorItem {
  int32_t Code;
  const char* Text;
};

// The table in lookup order.
const TErrorItem* ErrorTable();
std::size_t ErrorTableSize();

// The text of Code; with a non-empty prefix: Prefix + ": " + text.
std::string ErrorText(const std::string& Prefix, int Code);
std::string ErrorText(int Code);

}  // namespace vexa
