#include "ErrorText/ErrorText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

namespace vexa {
namespace {

// A four-character tag as a negative code, first character in the lowest byte.
constexpr int Tag(unsigned a, unsigned b, unsigned c, unsigned d) {
  return -static_cast<int>(a | (b << 8) | (c << 16) | (d << 24));
}

struct TTagRow {
  int Code;
  int HandBuilt;
  const char* Text;
};

const TTagRow TagRows[] = {
    {AVERROR_BSF_NOT_FOUND, Tag(0xF8, 'B', 'S', 'F'), "Bitstream filter not found"},
    {AVERROR_BUG, Tag('B', 'U', 'G', '!'), "Internal bug, should not have happened"},
    {AVERROR_BUG2, Tag('B', 'U', 'G', ' '), "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, Tag('B', 'U', 'F', 'S'), "Buffer too small"},
    {AVERROR_DECODER_NOT_FOUND, Tag(0xF8, 'D', 'E', 'C'), "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, Tag(0xF8, 'D', 'E', 'M'), "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, Tag(0xF8, 'E', 'N', 'C'), "Encoder not found"},
    {AVERROR_EOF, Tag('E', 'O', 'F', ' '), "End of file"},
    {AVERROR_EXIT, Tag('E', 'X', 'I', 'T'), "Immediate exit requested"},
    {AVERROR_EXTERNAL, Tag('E', 'X', 'T', ' '), "Generic error in an external library"},
    {AVERROR_FILTER_NOT_FOUND, Tag(0xF8, 'F', 'I', 'L'), "Filter not found"},
    {AVERROR_INVALIDDATA, Tag('I', 'N', 'D', 'A'), "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, Tag(0xF8, 'M', 'U', 'X'), "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, Tag(0xF8, 'O', 'P', 'T'), "Option not found"},
    {AVERROR_PATCHWELCOME, Tag('P', 'A', 'W', 'E'),
     "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, Tag(0xF8, 'P', 'R', 'O'), "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, Tag(0xF8, 'S', 'T', 'R'), "Stream not found"},
    {AVERROR_UNKNOWN, Tag('U', 'N', 'K', 'N'), "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL, -0x2bb2afa8,
     "Requested feature is flagged experimental. Set strict_std_compliance if you really want "
     "to use it."},
};

// The C runtime and socket rows as the table lists them: codes sharing a text
// together, in order.
struct TGroupedRow {
  std::vector<int> Codes;
  const char* Text;
};

const std::vector<TGroupedRow> GroupedRows = {
    {{-2}, "No such file or directory"},
    {{-3}, "No such process"},
    {{-4, -10004}, "Interrupted function call"},
    {{-4, -10004}, "Interrupted function call"},
    {{-5}, "I/O error"},
    {{-6}, "No such device or address"},
    {{-7}, "Argument list too long"},
    {{-8}, "Exec format error"},
    {{-9, -10009}, "Bad file number"},
    {{-10}, "No child processes"},
    {{-11}, "Resource temporarily unavailable / Try again"},
    {{-12}, "Not enough space / Out of memory"},
    {{-13, -10013}, "Permission denied"},
    {{-14, -10014}, "Bad address"},
    {{-15}, "Block device required"},
    {{-16}, "Device or resource busy"},
    {{-17}, "File exists"},
    {{-18}, "Cross-device link"},
    {{-19}, "No such device"},
    {{-20}, "Not a directory"},
    {{-21}, "Is a directory"},
    {{-22, -10022}, "Invalid argument / Invalid data found when processing input"},
    {{-23}, "Too many open files in system / File table overflow"},
    {{-24, -10024}, "Too many open files"},
    {{-25}, "Inappropriate I/O control operation / Not a typewriter"},
    {{-26}, "Text file busy"},
    {{-27}, "File too large"},
    {{-28}, "No space left on device"},
    {{-29}, "Illegal seek"},
    {{-30}, "Read-only file system"},
    {{-31}, "Too many links"},
    {{-32}, "Broken pipe"},
    {{-33}, "Math argument out of domain of func"},
    {{-34}, "Math result not representable"},
    {{-35}, "Resource deadlock would occur"},
    {{-36, -10063}, "File name too long"},
    {{-37}, "No record locks available"},
    {{-38}, "Function not implemented"},
    {{-39, -10066}, "Directory not empty"},
    {{-40, -10062}, "Too many symbolic links encountered"},
    {{-43}, "Identifier removed"},
    {{-44}, "Channel number out of range"},
    {{-45}, "Level 2 not synchronized"},
    {{-46}, "Level 3 halted"},
    {{-47}, "Level 3 reset"},
    {{-48}, "Link number out of range"},
    {{-49}, "Protocol driver not attached"},
    {{-50}, "No CSI structure available"},
    {{-51}, "Level 2 halted"},
    {{-52}, "Invalid exchange"},
    {{-53}, "Invalid request descriptor"},
    {{-54}, "Exchange full"},
    {{-55}, "No anode"},
    {{-56}, "Invalid request code"},
    {{-57}, "Invalid slot"},
    {{-59}, "Bad font file format"},
    {{-60}, "Device not a stream"},
    {{-61}, "No data available"},
    {{-62}, "Timer expired"},
    {{-63}, "Out of streams resources"},
    {{-64}, "Machine is not on the network"},
    {{-65}, "Package not installed"},
    {{-66, -10071}, "Object is remote"},
    {{-67}, "Link has been severed"},
    {{-68}, "Advertise error"},
    {{-69}, "Srmount error"},
    {{-70}, "Communication error on send"},
    {{-71}, "Protocol error"},
    {{-72}, "Multihop attempted"},
    {{-73}, "RFS specific error"},
    {{-74}, "Not a data message"},
    {{-75}, "Value too large for defined data type"},
    {{-76}, "Name not unique on network"},
    {{-77}, "File descriptor in bad state"},
    {{-78}, "Remote address changed"},
    {{-79}, "Can not access a needed shared library"},
    {{-80}, "Accessing a corrupted shared library"},
    {{-81}, ".lib section in a.out corrupted"},
    {{-82}, "Attempting to link in too many shared libraries"},
    {{-83}, "Cannot exec a shared library directly"},
    {{-84}, "Illegal byte sequence"},
    {{-85}, "Interrupted system call should be restarted"},
    {{-86}, "Streams pipe error"},
    {{-87, -10068}, "Too many users"},
    {{-88, -10038}, "Socket operation on non-socket"},
    {{-89, -10039}, "Destination address required"},
    {{-90, -10040}, "Message too long"},
    {{-91, -10041}, "Protocol wrong type for socket"},
    {{-92, -10042}, "Protocol not available"},
    {{-93, -10043}, "Protocol not supported"},
    {{-94, -10044}, "Socket type not supported"},
    {{-95, -10045}, "Operation not supported on transport endpoint"},
    {{-96, -10046}, "Protocol family not supported"},
    {{-97, -10047}, "Address family not supported by protocol"},
    {{-98, -10048}, "Address already in use"},
    {{-99, -10049}, "Cannot assign requested address"},
    {{-100, -10050}, "Network is down"},
    {{-101, -10051}, "Network is unreachable"},
    {{-102, -10052}, "Network dropped connection because of reset"},
    {{-103, -10053}, "Software caused connection abort"},
    {{-104, -10054}, "Connection reset by peer"},
    {{-105, -10055}, "No buffer space available"},
    {{-106, -10056}, "Transport endpoint is already connected"},
    {{-107, -10057}, "Transport endpoint is not connected"},
    {{-108, -10058}, "Cannot send after transport endpoint shutdown"},
    {{-109, -10059}, "Too many references: cannot splice"},
    {{-110, -10060}, "Connection timed out"},
    {{-111, -10061}, "Connection refused"},
    {{-112, -10064}, "Host is down"},
    {{-113, -10065}, "No route to host"},
    {{-114, -10037}, "Operation already in progress"},
    {{-115, -10036}, "Operation now in progress"},
    {{-116, -10070}, "Stale NFS file handle"},
    {{-117}, "Structure needs cleaning"},
    {{-118}, "Not a XENIX named type file"},
    {{-119}, "No XENIX semaphores available"},
    {{-120}, "Is a named type file"},
    {{-121}, "Remote I/O error"},
    {{-122, -10069}, "Quota exceeded"},
    {{-123}, "No medium found"},
    {{-124}, "Wrong medium type"},
    {{-125}, "Operation Canceled"},
    {{-126}, "Required key not available"},
    {{-127}, "Key has expired"},
    {{-128}, "Key has been revoked"},
    {{-129}, "Key was rejected by service"},
    {{-130}, "Owner died"},
    {{-131}, "State not recoverable"},
    {{-10035}, "WSAEWOULDBLOCK"},
    {{-10067}, "WSAEPROCLIM"},
    {{-10101}, "WSAEDISCON"},
    {{-10091}, "WSASYSNOTREADY"},
    {{-10092}, "WSAVERNOTSUPPORTED"},
    {{-10093}, "WSANOTINITIALISED"},
    {{-11001}, "WSAHOST_NOT_FOUND"},
    {{-11002}, "WSATRY_AGAIN"},
    {{-11003}, "WSANO_RECOVERY"},
    {{-11004}, "WSANO_DATA"},
    {{-10102}, "WSAENOMORE"},
    {{-10103}, "WSAECANCELLED"},
    {{-10104}, "WSAEINVALIDPROCTABLE"},
    {{-10105}, "WSAEINVALIDPROVIDER"},
    {{-10106}, "WSAEPROVIDERFAILEDINIT"},
    {{-10107}, "WSASYSCALLFAILURE"},
    {{-10108}, "WSASERVICE_NOT_FOUND"},
    {{-10109}, "WSATYPE_NOT_FOUND"},
    {{-10110}, "WSA_E_NO_MORE"},
    {{-10111}, "WSA_E_CANCELLED"},
    {{-10112}, "WSAEREFUSED"},
};

std::vector<std::pair<int, std::string>> ExpectedTable() {
  std::vector<std::pair<int, std::string>> rows;
  for (const TTagRow& row : TagRows) rows.emplace_back(row.Code, row.Text);
  for (const TGroupedRow& row : GroupedRows) {
    for (int code : row.Codes) rows.emplace_back(code, row.Text);
  }
  return rows;
}

TEST(ErrorTextTable, HoldsEveryRowInOrder) {
  const auto expected = ExpectedTable();
  ASSERT_EQ(expected.size(), 210u);
  ASSERT_EQ(ErrorTableSize(), expected.size());
  const TErrorItem* table = ErrorTable();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(table[i].Code, expected[i].first);
    EXPECT_EQ(std::string(table[i].Text), expected[i].second);
  }
}

TEST(ErrorTextTable, EveryCodeFindsItsTextAndSharedCodesTheFirstRow) {
  for (const auto& [code, text] : ExpectedTable()) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ErrorText(code), text);
  }
  int fours = 0;
  const TErrorItem* table = ErrorTable();
  for (std::size_t i = 0; i < ErrorTableSize(); ++i) fours += table[i].Code == -4;
  EXPECT_EQ(fours, 2);
  EXPECT_EQ(ErrorText(-4), "Interrupted function call");
  EXPECT_EQ(ErrorText(-10004), "Interrupted function call");
}

TEST(ErrorTextTags, LibraryMacrosAreTheFourCharacterTags) {
  for (const TTagRow& row : TagRows) {
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(row.Code, row.HandBuilt);
    EXPECT_EQ(ErrorText(row.HandBuilt), row.Text);
  }
}

TEST(ErrorTextLookup, KnownCodes) {
  EXPECT_EQ(ErrorText(-22), "Invalid argument / Invalid data found when processing input");
  EXPECT_EQ(ErrorText(AVERROR_INVALIDDATA), "Invalid data found when processing input");
  EXPECT_EQ(ErrorText(-10035), "WSAEWOULDBLOCK");
  EXPECT_EQ(ErrorText(-11004), "WSANO_DATA");
  EXPECT_EQ(ErrorText(-36), "File name too long");
}

TEST(ErrorTextLookup, UnknownCodesNameTheNumber) {
  const std::pair<int, const char*> cases[] = {
      {-1, "Error number -1 occurred"},          {0, "Error number 0 occurred"},
      {1, "Error number 1 occurred"},            {22, "Error number 22 occurred"},
      {-41, "Error number -41 occurred"},        {-58, "Error number -58 occurred"},
      {-132, "Error number -132 occurred"},      {-10000, "Error number -10000 occurred"},
      {INT32_MIN, "Error number -2147483648 occurred"},
      {INT32_MAX, "Error number 2147483647 occurred"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(ErrorText(code), text);
}

TEST(ErrorTextLookup, PrefixIsJoinedWithColon) {
  EXPECT_EQ(ErrorText("/tmp/wásser ☃.mp4", -2),
            "/tmp/wásser ☃.mp4: No such file or directory");
  EXPECT_EQ(ErrorText("", -2), "No such file or directory");
  EXPECT_EQ(ErrorText("x", -1), "x: Error number -1 occurred");
}

// The libraries return AVERROR(errno) with this platform's numbers; each must
// reach the text of its own meaning.
TEST(ErrorTextLookup, PlatformErrnoValuesFindTheirMeaning) {
  const std::pair<int, const char*> cases[] = {
      {ENOENT, "No such file or directory"},
      {EAGAIN, "Resource temporarily unavailable / Try again"},
      {ENOMEM, "Not enough space / Out of memory"},
      {EDEADLK, "Resource deadlock would occur"},
      {ENAMETOOLONG, "File name too long"},
      {ENOSYS, "Function not implemented"},
      {ENOTEMPTY, "Directory not empty"},
      {ELOOP, "Too many symbolic links encountered"},
      {EILSEQ, "Illegal byte sequence"},
      {ENOTSOCK, "Socket operation on non-socket"},
      {ECONNRESET, "Connection reset by peer"},
      {ETIMEDOUT, "Connection timed out"},
      {ECONNREFUSED, "Connection refused"},
      {EINPROGRESS, "Operation now in progress"},
      {ECANCELED, "Operation Canceled"},
      {ENOTRECOVERABLE, "State not recoverable"},
  };
  for (const auto& [err, text] : cases) {
    SCOPED_TRACE(err);
    EXPECT_EQ(ErrorText(AVERROR(err)), text);
  }
}

}  // namespace
}  // namespace vexa
