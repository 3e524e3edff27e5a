// yuragimaru-demo-server ROOT: makes a small saved site under
// ROOT/127.0.0.1:PORT/ with some pictures cut off, serves the complete
// originals on 127.0.0.1:PORT, and runs until its standard input closes
// or it is stopped.
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "jpeg_writer.h"

using namespace yuragi::testing;

namespace {

struct Picture {
  const char* path;  // below the host folder
  int width;
  int height;
  int keepPercent;  // of the bytes stored on disk; 100 = complete
};

const Picture kSite[] = {
    {"photos/2024/sunset.jpg", 640, 480, 60},       {"photos/2024/harbour.jpg", 640, 480, 100},
    {"photos/2024/night market.jpg", 800, 600, 40}, {"photos/2023/写真.jpg", 640, 427, 75},
    {"photos/2023/bridge.jpg", 500, 375, 100},      {"gallery/thumbs/a.jpg", 160, 120, 100},
    {"gallery/thumbs/b.jpg", 160, 120, 50},         {"gallery/large/mountain.jpg", 1024, 768, 85},
    {"gallery/large/river.jpg", 1024, 683, 100},    {"gallery/large/broken-header.jpg", 640, 480, 0},
    {"img/logo.jpeg", 300, 300, 30},                {"img/banner.jpg", 728, 90, 100},
};

httplib::Server* running = nullptr;

void Stop(int) {
  if (running) running->stop();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: yuragimaru-demo-server ROOT\n");
    return 2;
  }
  httplib::Server server;
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::fprintf(stderr, "yuragimaru-demo-server: cannot listen on 127.0.0.1\n");
    return 1;
  }
  const std::filesystem::path site = std::filesystem::path(argv[1]) / std::string("127.0.0.1:").append(std::to_string(port));
  std::map<std::string, std::string> originals;
  uint32_t seed = 11;
  for (const Picture& picture : kSite) {
    const std::vector<uint8_t> whole = EncodeJpeg({picture.width, picture.height, JpegKind::Baseline, 88, seed++});
    originals[std::string("/").append(picture.path)] = std::string(whole.begin(), whole.end());
    const size_t keep = picture.keepPercent == 0 ? 150 : whole.size() * size_t(picture.keepPercent) / 100;
    const std::filesystem::path file = site / picture.path;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file.string(), Truncated(whole, keep));
  }
  WriteFile((site / "index.html").string(), std::string("<html><body>a saved page</body></html>\n"));

  server.Get(".*", [&originals](const httplib::Request& request, httplib::Response& response) {
    const auto found = originals.find(request.path);
    if (found == originals.end()) {
      response.status = 404;
      response.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
      return;
    }
    response.set_content(found->second, "image/jpeg");
  });

  running = &server;
  signal(SIGTERM, Stop);
  signal(SIGINT, Stop);
  std::printf("%s\n", site.string().c_str());
  std::fflush(stdout);
  // Whoever started us can stop us by closing our input.
  std::thread watcher([&server] {
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    server.stop();
  });
  watcher.detach();
  server.listen_after_bind();
  return 0;
}
