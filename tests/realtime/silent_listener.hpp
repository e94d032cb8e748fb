// SilentListener: a loopback port that listens and never answers. Connections wait in its
// backlog (or, past it, for their connect) until their own time-out, so an opening handshake or
// an HTTP request to it hangs as it would against a hung server.
//
//   SilentListener server;
//   client = RealtimeClientV2::make(boost::urls::url(server.url() + "/realtime/v1"), options);
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace voduzazi::testing {

class SilentListener {
 public:
  // `backlog`: how many connections the kernel completes and holds before refusing to answer.
  explicit SilentListener(int backlog = 16) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (fd_ >= 0) ::close(fd_);
      throw std::runtime_error("no listening socket");
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  // "http://127.0.0.1:<port>"
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace voduzazi::testing
