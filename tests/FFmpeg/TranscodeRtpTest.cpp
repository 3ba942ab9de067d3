// An output to RTP logs the session description of the stream it sends;
// an output to a file logs none.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

// A UDP socket on a free local port that takes the packets sent to it.
class TUdpSink {
 public:
  TUdpSink() {
    Fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (Fd_ >= 0 && bind(Fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(Fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      Port_ = ntohs(addr.sin_port);
  }
  ~TUdpSink() {
    if (Fd_ >= 0) close(Fd_);
  }
  TUdpSink(const TUdpSink&) = delete;
  TUdpSink& operator=(const TUdpSink&) = delete;
  int Port() const { return Port_; }
  // Packets waiting to be read (without blocking).
  int Drain() {
    char buffer[65536];
    int n = 0;
    while (recv(Fd_, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) ++n;
    return n;
  }

 private:
  int Fd_ = -1;
  int Port_ = 0;
};

TEST(TranscodeRtpTest, RtpOutputLogsTheSessionDescription) {
  TUdpSink sink;
  ASSERT_GT(sink.Port(), 0);
  TTranscodeLog log;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.4), "-f lavfi"));
    const std::string url = "rtp://127.0.0.1:" + std::to_string(sink.Port());
    ASSERT_GE(task.AddOutput(url, "-f rtp -c:v mpeg4 -qscale 5"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << log.Text();
  }
  EXPECT_GT(sink.Drain(), 0);
  const std::string text = log.Text();
  const size_t at = text.find("SDP:\r\nv=0");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(log.Count("SDP:\r\n"), 1);
  const std::string sdp = text.substr(at);
  EXPECT_NE(sdp.find("m=video " + std::to_string(sink.Port()) + " RTP/AVP 96"), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("a=rtpmap:96 MP4V-ES/90000"), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("c=IN IP4 127.0.0.1"), std::string::npos) << sdp;
}

TEST(TranscodeRtpTest, FileOutputLogsNoSessionDescription) {
  TTempDir dir;
  TTranscodeLog log;
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(LavfiVideo(160, 120, 25, 0.2), "-f lavfi"));
    ASSERT_GE(task.AddOutput(dir.Path("out.mkv"), "-c:v mpeg4"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  }
  EXPECT_FALSE(log.Contains("SDP:")) << log.Text();
}

}  // namespace
}  // namespace vexa::test
