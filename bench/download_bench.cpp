// Download speed: curl against the headless download logic and against a
// download in the real window, all on one 64 MB body from 127.0.0.1.
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

#include "app/globals.h"
#include "load_average.h"
#include "median_time.h"
#include "app/main_window.h"
#include "platform/http_client.h"
#include "formats/number_format.h"
#include "platform/output_file.h"
#include "refetch/download.h"
#include "scripted_prompts.h"
#include "test_server.h"

using namespace yuragi;
using namespace yuragi::testing;

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  PrintLoadAverage();
  QApplication app(argc, argv);
  QTemporaryDir work;
  std::string body(64u << 20, '\0');
  std::mt19937 random(7);
  for (char& byte : body) byte = char(random());
  TestServer server;
  server->Get("/big.jpg", [&body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "image/jpeg");
  });
  server.Start();
  const std::string url = server.Url("/big.jpg");
  const std::string out = work.path().toStdString() + "/out.bin";

  const std::string command = "curl -s -o /dev/null '" + url + "'";
  bool failed = false;  // a run that did not do the work makes the figures meaningless
  const double a = Seconds([&] { failed = failed || std::system(command.c_str()) != 0; });
  uint64_t total = 0;
  const double b = Seconds([&] {
    HttpError error;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(url, [] {}, &error);
    std::unique_ptr<OutputFile> file = OutputFile::Create(out, nullptr);
    TransferSteps steps;
    steps.processMessages = [] {};
    total = TransferToFile(*request, *file, steps).total;
  });
  ScriptedPrompts prompts;
  TForm1 form(prompts, {});
  form.Edit1->setText(work.path() + "/big.jpg");
  int key = 13;
  form.Edit1KeyPress(form.Edit1, key);
  form.Edit2->setText(QString::fromStdString(url));
  const double c = Seconds([&] { form.ReGetBtnClick(); });
  // Random bytes are no picture: the window receives them all, shows the count and refuses them.
  failed = failed || total != body.size() || form.GroupBox5->title() != FormatByteSize(int64_t(body.size()));

  std::printf("64 MB body from 127.0.0.1 (%llu bytes received headless):\n", (unsigned long long)total);
  std::printf("  (a) curl -s -o /dev/null   %7.3f s\n", a);
  std::printf("  (b) download, headless     %7.3f s   b/a = %.2f (target <= 1.2)\n", b, b / a);
  std::printf("  (c) download in the window %7.3f s   c/a = %.2f (target <= 1.5)\n", c, c / a);
  if (failed) {
    std::printf("FAILED: curl, the headless download or the window's did not fetch the whole body\n");
    return 1;
  }
  return 0;
}
