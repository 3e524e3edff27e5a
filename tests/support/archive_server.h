#pragma once

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "test_server.h"

namespace yuragi::testing {

// A web archive on 127.0.0.1 speaking the two public forms: the TimeMap
// PREFIX "timemap/link/" URL in link format (RFC 7089) and the raw capture
// PREFIX TIME "id_/" URL. PREFIX is Prefix().
class ArchiveServer {
 public:
  enum class Mode { Whole, Drip };
  struct Capture {
    std::string time;  // YYYYMMDDhhmmss
    std::string body;
    std::string type = "image/jpeg";
    Mode mode = Mode::Whole;
  };
  struct Seen {
    std::string path;
    std::string agent;
    std::chrono::steady_clock::time_point when;
  };

  ArchiveServer() {
    server_->Get(R"(/web/timemap/link/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
      Note(request);
      if (Refuse(response)) return;
      const std::string url = request.matches[1];
      const std::lock_guard lock(mutex_);
      if (const auto text = timeMaps.find(url); text != timeMaps.end()) {
        response.set_content(text->second, "application/link-format");
        return;
      }
      const auto found = captures.find(url);
      if (found == captures.end()) {
        response.status = 404;
        return;
      }
      response.set_content(TimeMapOf(url, found->second), "application/link-format");
    });
    server_->Get(R"(/web/(\d{14})id_/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
      Note(request);
      if (Refuse(response)) return;
      const std::string time = request.matches[1];
      const std::string url = request.matches[2];
      Capture capture;
      {
        const std::lock_guard lock(mutex_);
        bool found = false;
        for (const Capture& each : captures[url]) {
          if (each.time == time) capture = each, found = true;
        }
        if (!found) {
          response.status = 404;
          return;
        }
      }
      const auto body = std::make_shared<std::string>(capture.body);
      const bool drip = capture.mode == Mode::Drip;
      response.set_content_provider(body->size(), capture.type, [this, body, drip, time](size_t offset, size_t,
                                                                                           httplib::DataSink& sink) {
        if (drip) {
          for (int i = 0; i < 100 && !server_.release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (server_.release) return false;
        }
        const size_t count = std::min<size_t>(drip ? 1 : 64 * 1024, body->size() - offset);
        if (!sink.write(body->data() + offset, count)) return false;
        const std::lock_guard lock(mutex_);
        sent[time] += count;
        return true;
      });
    });
    server_.Start();
  }
  ~ArchiveServer() { server_.Stop(); }

  std::string Prefix() const { return server_.Url("/web/"); }

  // "Tue, 20 Jun 2000 18:02:59 GMT" of a 14-digit time.
  static std::string HttpDate(const std::string& time) {
    std::tm parts{};
    parts.tm_year = std::stoi(time.substr(0, 4)) - 1900;
    parts.tm_mon = std::stoi(time.substr(4, 2)) - 1;
    parts.tm_mday = std::stoi(time.substr(6, 2));
    parts.tm_hour = std::stoi(time.substr(8, 2));
    parts.tm_min = std::stoi(time.substr(10, 2));
    parts.tm_sec = std::stoi(time.substr(12, 2));
    const time_t when = timegm(&parts);
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
  }

  // The TimeMap as public archives write it: oldest first, one link per
  // line, the datetime values holding their commas.
  std::string TimeMapOf(const std::string& url, const std::vector<Capture>& list) const {
    std::string text = "<" + url + ">; rel=\"original\",\n<" + Prefix() + "timemap/link/" + url +
                       ">; rel=\"self\"; type=\"application/link-format\",\n<" + Prefix() + url +
                       ">; rel=\"timegate\"";
    std::vector<std::string> times;
    for (const Capture& capture : list) times.push_back(capture.time);
    std::sort(times.begin(), times.end());
    for (size_t i = 0; i < times.size(); ++i) {
      const char* rel = i == 0 ? "first memento" : i + 1 == times.size() ? "last memento" : "memento";
      text += ",\n<" + Prefix() + times[i] + "/" + url + ">; rel=\"" + rel + "\"; datetime=\"" + HttpDate(times[i]) +
              "\"";
    }
    return text + "\n";
  }

  std::vector<Seen> Requests() {
    const std::lock_guard lock(mutex_);
    return seen;
  }
  int CaptureRequests() {
    const std::lock_guard lock(mutex_);
    int count = 0;
    for (const Seen& each : seen) count += each.path.find("id_/") != std::string::npos;
    return count;
  }

  std::mutex mutex_;
  std::map<std::string, std::vector<Capture>> captures;  // by original URL
  std::map<std::string, std::string> timeMaps;           // served as they stand
  std::map<std::string, size_t> sent;                    // body bytes written per capture time
  std::vector<Seen> seen;
  int tooMany = 0;              // the next requests answered 429
  std::string retryAfter = "1";

 private:
  void Note(const httplib::Request& request) {
    const std::lock_guard lock(mutex_);
    seen.push_back({request.path, request.get_header_value("User-Agent"), std::chrono::steady_clock::now()});
  }
  bool Refuse(httplib::Response& response) {
    const std::lock_guard lock(mutex_);
    if (tooMany == 0) return false;
    --tooMany;
    response.status = 429;
    response.set_header("Retry-After", retryAfter);
    return true;
  }

  TestServer server_;
};

}  // namespace yuragi::testing
