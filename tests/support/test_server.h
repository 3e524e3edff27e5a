#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace yuragi::testing {

// A real HTTP server on 127.0.0.1 for the length of a test.
class TestServer {
 public:
  TestServer() = default;
  ~TestServer() { Stop(); }

  httplib::Server& operator*() { return server_; }
  httplib::Server* operator->() { return &server_; }

  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Stop() {
    release = true;
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Port() const { return port_; }

  // Lets handlers that stall on purpose finish.
  std::atomic<bool> release{false};

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// A port that refuses connections: bound once, then closed.
inline int RefusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace yuragi::testing
