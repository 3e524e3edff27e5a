// Batch repair against a shell loop around curl: 2,000 complete JPEGs of
// 20-300 KB served with 20 ms of latency per response under four host
// names, 400 of them cut at random points in the saved tree; then eight
// cut files whose server sends an endless 200 body that keeps matching
// them. Prints times, bytes and peak memory; see README.md for the targets.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_writer.h"
#include "load_average.h"

#include <httplib.h>

using namespace yuragi::testing;

namespace {

constexpr int kFiles = 2000;
constexpr int kCut = 400;
constexpr int kHosts = 4;

struct Run {
  double seconds = 0;
  long peakKb = 0;
  std::string out;
  int exitCode = -1;  // -1: it did not exit by itself
};

// Runs argv with standard output into a string; wall time and peak memory.
Run Spawn(const std::vector<std::string>& argv, const std::string& input = {}) {
  int out[2];
  int in[2];
  if (::pipe(out) != 0 || ::pipe(in) != 0) std::abort();
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(in[0], STDIN_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    ::close(out[0]);
    ::close(in[1]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(in[0]);
  std::thread feeder([&] {
    size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    ::close(in[1]);
  });
  Run run;
  char buffer[65536];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, size_t(n));
  ::close(out[0]);
  feeder.join();
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKb = usage.ru_maxrss;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  PrintLoadAverage();
  const std::string repair = argc > 1 ? argv[1] : "./yuragimaru-repair";
  // A second build, timed in the same rounds as the first, for before/after.
  const std::string earlier = argc > 2 ? argv[2] : "";
  const int rounds = earlier.empty() ? 3 : 5;
  QTemporaryDir work;
  if (work.path().contains('.')) {
    std::fprintf(stderr, "repair_bench: the temporary folder's name must hold no dot\n");
    return 1;
  }

  // Pictures of 20-300 KB: real image data all the way, so a cut anywhere
  // past the header leaves a picture that still decodes.
  std::vector<std::string> pictures;
  for (int i = 0; i < 16; ++i) {
    const int width = 580 + i * 148;  // 580 ... 2800 pixels wide
    const std::vector<uint8_t> bytes = EncodeJpeg({width, width * 3 / 4, JpegKind::Baseline, 92, uint32_t(i + 1)});
    pictures.emplace_back(bytes.begin(), bytes.end());
  }
  std::map<std::string, const std::string*> served;  // path -> bytes
  constexpr int kEndless = 8;
  const std::string& endlessStart = pictures[0];  // what each endless body begins with
  std::mt19937 random(42);

  // One server on four loopback addresses, as four hosts.
  std::vector<std::unique_ptr<httplib::Server>> servers;
  std::vector<std::thread> threads;
  int port = 0;
  for (int h = 1; h <= kHosts; ++h) {
    auto server = std::make_unique<httplib::Server>();
    // Endless: the picture's bytes, then filler for ever (the repair stops at its cap).
    server->Get(R"(/endless/.*)", [&endlessStart](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("image/jpeg", [&endlessStart](size_t offset, httplib::DataSink& sink) {
        static const std::string filler(256 * 1024, '\x55');
        if (offset < endlessStart.size()) return sink.write(endlessStart.data() + offset, endlessStart.size() - offset);
        return sink.write(filler.data(), filler.size());
      });
    });
    server->Get(".*", [&served](const httplib::Request& request, httplib::Response& response) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const auto found = served.find(request.path);
      if (found == served.end()) {
        response.status = 404;
        return;
      }
      response.set_content(*found->second, "image/jpeg");
    });
    const std::string address = "127.0.0." + std::to_string(h);
    if (h == 1) {
      port = server->bind_to_any_port(address);
    } else if (!server->bind_to_port(address, port)) {
      std::fprintf(stderr, "repair_bench: cannot listen on %s:%d\n", address.c_str(), port);
      return 1;
    }
    httplib::Server* raw = server.get();
    threads.emplace_back([raw] { raw->listen_after_bind(); });
    servers.push_back(std::move(server));
  }
  for (auto& server : servers) {
    while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  struct Cut {
    std::string path;
    std::string url;
    const std::string* whole;
    size_t keep;
  };
  std::vector<Cut> cuts;
  uint64_t treeBytes = 0;
  const QString root = work.path() + "/mirror";
  for (int i = 0; i < kFiles; ++i) {
    const int host = i % kHosts + 1;
    const std::string urlPath = "/d" + std::to_string(i / 100) + "/p" + std::to_string(i) + ".jpg";
    const std::string* bytes = &pictures[size_t(random()) % pictures.size()];
    served[urlPath] = bytes;
    const std::string hostName = "127.0.0." + std::to_string(host) + ":" + std::to_string(port);
    const std::string path = root.toStdString() + "/" + hostName + urlPath;
    QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
    treeBytes += bytes->size();
    if (i % (kFiles / kCut) == 0) {
      std::uniform_int_distribution<size_t> at(2048, bytes->size() - 64);
      cuts.push_back({path, "http://" + hostName + urlPath, bytes, at(random)});
    } else {
      WriteFile(path, *bytes);
    }
  }
  uint64_t cutWhole = 0;
  for (const Cut& cut : cuts) cutWhole += cut.whole->size();
  const auto recut = [&] {
    for (const Cut& cut : cuts) WriteFile(cut.path, cut.whole->substr(0, cut.keep));
  };

  // (a) xargs -P 8 over curl -s -o for the 400 URLs: no scan, no checks.
  const std::string scratch = work.path().toStdString() + "/curl";
  QDir().mkpath(QString::fromStdString(scratch));
  std::string list;
  for (size_t i = 0; i < cuts.size(); ++i) list += scratch + "/" + std::to_string(i) + ".jpg " + cuts[i].url + "\n";
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> e;
  long peakKb = 0;
  uint64_t fetched = 0;
  int repaired = 0;
  bool failed = false;  // a run that did not do the work makes the figures meaningless
  for (int round = 0; round < rounds; ++round) {
    const Run curl = Spawn({"xargs", "-P", "8", "-n", "2", "curl", "-s", "-o"}, list);
    failed = failed || curl.exitCode != 0;
    a.push_back(curl.seconds);
    if (!earlier.empty()) {
      recut();
      const Run before = Spawn({earlier, "--json", "--jobs", "8", "--per-host", "2", root.toStdString()});
      failed = failed || before.exitCode != 0;
      e.push_back(before.seconds);
    }
    recut();
    const Run run = Spawn({repair, "--json", "--jobs", "8", "--per-host", "2", root.toStdString()});
    b.push_back(run.seconds);
    peakKb = std::max(peakKb, run.peakKb);
    fetched = 0;
    repaired = 0;
    for (size_t at = 0; (at = run.out.find("\"bytes\":", at)) != std::string::npos;) {
      at += 8;
      fetched += std::strtoull(run.out.c_str() + at, nullptr, 10);
    }
    for (size_t at = 0; (at = run.out.find("\"outcome\":\"repaired\"", at)) != std::string::npos; ++at) ++repaired;
    failed = failed || run.exitCode != 0 || repaired != int(cuts.size());
  }
  // (c) eight endless bodies at once, in a tree of their own.
  const QString endlessRoot = work.path() + "/endless";
  for (int i = 0; i < kEndless; ++i) {
    const std::string folder = endlessRoot.toStdString() + "/127.0.0.1:" + std::to_string(port) + "/endless";
    QDir().mkpath(QString::fromStdString(folder));
    WriteFile(folder + "/p" + std::to_string(i) + ".jpg", endlessStart.substr(0, endlessStart.size() / 2));
  }
  const Run endless = Spawn({repair, "--json", "--jobs", "8", "--per-host", "8", endlessRoot.toStdString()});
  int capped = 0;
  for (size_t at = 0; (at = endless.out.find("\"outcome\":\"too-large\"", at)) != std::string::npos; ++at) ++capped;
  uint64_t endlessBytes = 0;
  for (size_t at = 0; (at = endless.out.find("\"bytes\":", at)) != std::string::npos;) {
    at += 8;
    endlessBytes += std::strtoull(endless.out.c_str() + at, nullptr, 10);
  }

  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  std::sort(e.begin(), e.end());
  const size_t mid = size_t(rounds / 2);
  for (auto& server : servers) server->stop();
  for (std::thread& thread : threads) thread.join();

  size_t smallest = SIZE_MAX;
  size_t largest = 0;
  for (const std::string& picture : pictures) {
    smallest = std::min(smallest, picture.size());
    largest = std::max(largest, picture.size());
  }
  std::printf("%d files of %zu-%zu KB (%.1f MB) under %d hosts, %d cut; 20 ms per response; medians of %d:\n",
              kFiles, smallest / 1024, largest / 1024, double(treeBytes) / 1e6, kHosts, int(cuts.size()), rounds);
  std::printf("  (a) xargs -P 8 curl -s -o, the %d URLs   %7.3f s\n", int(cuts.size()), a[mid]);
  std::printf("  (b) yuragimaru-repair --jobs 8 --per-host 2 %7.3f s   b/a = %.2f (target <= 1)\n", b[mid],
              b[mid] / a[mid]);
  if (!earlier.empty()) {
    std::printf("      the same with %s %7.3f s   /a = %.2f\n", earlier.c_str(), e[mid], e[mid] / a[mid]);
  }
  std::printf("      repaired %d of %d; fetched %.1f MB of %.1f MB whole = %.2f (target <= 0.6)\n", repaired,
              int(cuts.size()), double(fetched) / 1e6, double(cutWhole) / 1e6, double(fetched) / double(cutWhole));
  std::printf("      peak memory %.1f MB (target <= 100 MB)\n", double(peakKb) / 1024);
  std::printf("  (c) %d endless 200 bodies at once: %d stopped at the cap after %.0f MB in %.1f s;\n", kEndless,
              capped, double(endlessBytes) / 1e6, endless.seconds);
  std::printf("      peak memory %.1f MB (target <= 100 MB)\n", double(endless.peakKb) / 1024);
  if (failed || capped != kEndless) {
    std::printf("FAILED: curl or yuragimaru-repair did not fetch and repair every cut file, or an endless body was\n"
                "not stopped at the cap: the figures are not valid\n");
    return 1;
  }
  return 0;
}
