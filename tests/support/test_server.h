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
#include <vector>

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

  // Sends the first half of bytes, then drops the connection before the
  // announced length.
  void ServeCut(const std::string& path, const std::vector<uint8_t>& bytes) { ServeHalf(path, bytes, false); }
  // Sends the first half of bytes, then says nothing until released (or 5 s).
  void ServeStalling(const std::string& path, const std::vector<uint8_t>& bytes) { ServeHalf(path, bytes, true); }
  void ServeRedirect(const std::string& path, const std::string& to) {
    server_.Get(path, [to](const httplib::Request&, httplib::Response& response) { response.set_redirect(to); });
  }

  // Lets handlers that stall on purpose finish.
  std::atomic<bool> release{false};

 private:
  void ServeHalf(const std::string& path, const std::vector<uint8_t>& bytes, bool stall) {
    server_.Get(path, [this, bytes, stall](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(bytes.size(), "image/jpeg", [this, bytes, stall](size_t offset, size_t,
                                                                                     httplib::DataSink& sink) {
        if (offset == 0) {
          sink.write(reinterpret_cast<const char*>(bytes.data()), bytes.size() / 2);
          return true;
        }
        for (int i = 0; stall && i < 500 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return false;
      });
    });
  }

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
