#include "support/RawFtpClient.h"

#include <cctype>
#include <cerrno>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>

namespace ftpc::test {

namespace {

constexpr size_t kMaxReplyLines = 10000;

bool IsReplyStart(const std::string& ALine) {
  return ALine.size() >= 4 && std::isdigit(static_cast<unsigned char>(ALine[0])) &&
         std::isdigit(static_cast<unsigned char>(ALine[1])) &&
         std::isdigit(static_cast<unsigned char>(ALine[2])) && (ALine[3] == ' ' || ALine[3] == '-');
}

} // namespace

bool RawFtpClient::Connect(const std::string& AHost, uint16_t APort, Millis ATimeout) {
  FInput.clear();
  FSocket = ConnectTo(AHost, APort, ATimeout, FError);
  return FSocket.Valid();
}

bool RawFtpClient::SendLine(const std::string& ALine) { return SendRaw(ALine + "\r\n"); }

bool RawFtpClient::SendRaw(const std::string& ABytes) {
  return FSocket.Valid() && SendAll(FSocket.Get(), ABytes.data(), ABytes.size(), Millis(10000), FError);
}

bool RawFtpClient::Fill(Clock::time_point ADeadline) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(FSocket.Get(), buffer, sizeof buffer, 0);
    if (n > 0) {
      FInput.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n == 0) {
      FError = "connection closed";
      return false;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      FError = "recv: " + ErrnoText(errno);
      return false;
    }
    if (errno != EINTR && WaitForEvents(FSocket.Get(), POLLIN, ADeadline) == 0) {
      FError = "timed out";
      return false;
    }
  }
}

bool RawFtpClient::ReadLine(std::string& VLine, Millis ATimeout) {
  if (!FSocket.Valid()) {
    FError = "not connected";
    return false;
  }
  const auto deadline = Clock::now() + ATimeout;
  size_t end = FInput.find('\n');
  while (end == std::string::npos) {
    if (!Fill(deadline)) {
      return false;
    }
    end = FInput.find('\n');
  }
  VLine = FInput.substr(0, end);
  if (!VLine.empty() && VLine.back() == '\r') {
    VLine.pop_back();
  }
  FInput.erase(0, end + 1);
  return true;
}

RawReply RawFtpClient::ReadReply(Millis ATimeout) {
  const auto deadline = Clock::now() + ATimeout;
  RawReply reply;
  std::string line;
  while (reply.Text.size() < kMaxReplyLines) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
    if (!ReadLine(line, left.count() > 0 ? left : Millis(0))) {
      return RawReply{0, std::move(reply.Text)};
    }
    reply.Text.push_back(line);
    const std::string& first = reply.Text.front();
    if (!IsReplyStart(first)) {
      FError = "not a reply line: " + first;
      return RawReply{0, std::move(reply.Text)};
    }
    const bool single = first[3] == ' ';
    const bool lastOfMulti = reply.Text.size() > 1 && line.size() >= 4 &&
                             line.compare(0, 3, first, 0, 3) == 0 && line[3] == ' ';
    if (single || lastOfMulti) {
      reply.Code = std::stoi(first.substr(0, 3));
      return reply;
    }
  }
  FError = "reply too long";
  return RawReply{0, std::move(reply.Text)};
}

RawReply RawFtpClient::Command(const std::string& ALine, Millis ATimeout) {
  if (!SendLine(ALine)) {
    return {};
  }
  return ReadReply(ATimeout);
}

bool RawFtpClient::WaitForClose(Millis ATimeout) {
  const auto deadline = Clock::now() + ATimeout;
  while (FSocket.Valid()) {
    FInput.clear();
    if (!Fill(deadline)) {
      return FError != "timed out";
    }
  }
  return true;
}

void RawFtpClient::Reset() {
  if (FSocket.Valid()) {
    SetLingerReset(FSocket.Get());
    FSocket.Reset();
  }
}

bool ReadUntilClosed(int AFd, std::string& VData, Millis ATimeout) {
  const auto deadline = Clock::now() + ATimeout;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(AFd, buffer, sizeof buffer, 0);
    if (n > 0) {
      VData.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return false;
    } else if (errno != EINTR && WaitForEvents(AFd, POLLIN, deadline) == 0) {
      return false;
    }
  }
}

bool ParsePasvReply(const std::string& ALine, std::string& VHost, uint16_t& VPort) {
  const size_t open = ALine.find('(');
  const size_t close = ALine.find(')', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) {
    return false;
  }
  std::istringstream in(ALine.substr(open + 1, close - open - 1));
  int n[6];
  char comma = 0;
  for (int i = 0; i < 6; ++i) {
    if (!(in >> n[i]) || n[i] < 0 || n[i] > 255 || (i < 5 && (!(in >> comma) || comma != ','))) {
      return false;
    }
  }
  VHost = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
          std::to_string(n[3]);
  VPort = static_cast<uint16_t>(n[4] * 256 + n[5]);
  return true;
}

} // namespace ftpc::test
