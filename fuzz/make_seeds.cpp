// Writes the starting corpus of every harness: real encodes, cut and
// garbled; real settings files; paths with Shift-JIS and control bytes;
// real response headers. Usage: make_seeds FOLDER (one subfolder each).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jpeg_writer.h"
#include "picture_writer.h"

namespace fs = std::filesystem;
using yuragi::testing::JpegKind;
using yuragi::testing::JpegSpec;

namespace {

void Put(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  yuragi::testing::WriteFile((folder / name).string(), bytes);
}

std::string Str(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

void JpegSeeds(const fs::path& root) {
  const JpegKind kinds[] = {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk,
                            JpegKind::Arithmetic, JpegKind::ManyScans};
  int n = 0;
  for (const JpegKind kind : kinds) {
    const std::vector<uint8_t> whole = yuragi::testing::EncodeJpeg(JpegSpec{40, 30, kind, 75, uint32_t(n + 1)});
    std::vector<std::string> seeds = {Str(whole), Str(yuragi::testing::Truncated(whole, whole.size() / 2)),
                                      Str(yuragi::testing::Truncated(whole, whole.size() - 2)),
                                      Str(whole) + std::string(20, '\0'),
                                      Str(yuragi::testing::WithClaimedSize(whole, 65535, 65535))};
    std::string garbled = Str(whole);
    for (size_t i = garbled.size() / 3; i < garbled.size(); i += 97) garbled[i] = char(garbled[i] ^ 0x5A);
    seeds.push_back(garbled);
    for (const std::string& seed : seeds) {
      Put(root / "jpeg_thumbnail", "seed" + std::to_string(n), seed);
      Put(root / "jpeg_preview", "seed" + std::to_string(n), seed);
      ++n;
    }
  }
}

// Each picture whole, cut at its half and before its last bytes, with
// data after its end, and garbled.
void PictureSeeds(const fs::path& folder, const std::vector<std::vector<uint8_t>>& pictures) {
  int n = 0;
  for (const std::vector<uint8_t>& whole : pictures) {
    std::string garbled = Str(whole);
    for (size_t i = garbled.size() / 3; i < garbled.size(); i += 89) garbled[i] = char(garbled[i] ^ 0x5A);
    const std::string seeds[] = {Str(whole), Str(yuragi::testing::Truncated(whole, whole.size() / 2)),
                                 Str(yuragi::testing::Truncated(whole, whole.size() - 1)),
                                 Str(whole) + "<html></html>", garbled};
    for (const std::string& seed : seeds) Put(folder, "seed" + std::to_string(n++), seed);
  }
}

void FormatSeeds(const fs::path& root) {
  const JpegSpec small{24, 18, JpegKind::Baseline, 80, 3};
  const JpegSpec wide{70, 9, JpegKind::Baseline, 60, 4};
  PictureSeeds(root / "png_completeness", {yuragi::testing::EncodePng(small), yuragi::testing::EncodePng(wide, true)});
  PictureSeeds(root / "gif_completeness", {yuragi::testing::EncodeGif(small), yuragi::testing::EncodeGif(wide, 3)});
  PictureSeeds(root / "webp_completeness",
               {yuragi::testing::EncodeWebp(small), yuragi::testing::EncodeWebp(wide, true),
                yuragi::testing::EncodeAnimatedWebp(small, 3)});
}

void PathSeeds(const fs::path& root) {
  const std::vector<std::string> paths = {
      "/home/u/saved/www.example.com/img/a.jpg",
      "/home/u/saved/www.example.com/\x95\x5c\x8e\xa6/b.jpg",  // Shift-JIS with a 0x5C tail byte
      "/home/u/saved/example.org/dir name/ファイル #1%.jpg",
      "/home/u/saved/a\tb.com/\x01\x7f\xff.jpg?q=1&x=%41",
      "C:\\saved\\host.jp\\x\\y.jpeg",
      "relative/no.host/path/",
      "/sp ace.com:8080/a%95%5Cb.jpg",
  };
  int n = 0;
  for (const std::string& path : paths) {
    Put(root / "url", "seed" + std::to_string(n), path);
    Put(root / "exec_quote", "seed" + std::to_string(n), path);
    ++n;
  }
  Put(root / "exec_quote", "quotes", "/opt/it's \"here\"/`b`/$HOME/back\\slash/100%/yuragimaru");
}

void IniSeeds(const fs::path& root) {
  const fs::path folder = root / "ini_file";
  Put(folder, "settings", "[Form]\r\nLeft=10\r\nTop=$20\r\nWidth=0x300\r\n\r\n[Folder]\r\nPath=/home/u/\x95\x5c\r\n\r\n");
  Put(folder, "messy", "; comment\nbare line\n[ Form ]\nleft = 1\nLEFT=2\n[form]\n=empty key\nkey=\n[\n]x\r\n\r\r\n");
  Put(folder, "no_end", "[A]\nk=v");
}

void HeaderSeeds(const fs::path& root) {
  const fs::path folder = root / "http_headers";
  Put(folder, "partial",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 Partial Content\r\nContent-Length: 100\r\n"
      "Content-Range: bytes 100-199/200\r\nContent-Type: image/jpeg\r\n\r\n");
  Put(folder, "redirect",
      "HTTP/1.1 301 Moved\r\nLocation: http://example.com/b.jpg\r\nContent-Length: 0\r\n\r\n"
      "HTTP/2 200\r\ncontent-length: 4096\r\ncontent-range:\tbytes 0-4095/4096 \r\n\r\n");
  Put(folder, "odd", "HTTP/1.0 999 \nContent-Range: bytes 18446744073709551615-1/2\n\nRetry-After: 120\r\n");
}

void TimeMapSeeds(const fs::path& root) {
  const fs::path folder = root / "timemap";
  Put(folder, "archive",
      "<http://a.example/x.jpg>; rel=\"original\",\n"
      "<https://ar.example/web/timemap/link/http://a.example/x.jpg>; rel=\"self\"; type=\"application/link-format\"; "
      "from=\"Tue, 20 Jun 2000 18:02:59 GMT\",\n"
      "<https://ar.example/web/20000620180259/http://a.example/x.jpg>; rel=\"first memento\"; "
      "datetime=\"Tue, 20 Jun 2000 18:02:59 GMT\",\n"
      "<https://ar.example/web/20080409203051/http://a.example/x.jpg>\n  ; rel=\"last memento\"\n"
      "  ; datetime=\"Wed, 09 Apr 2008 20:30:51 GMT\"\n");
  Put(folder, "quoting",
      "<u,1;>;title=\"a, b; \\\"c\\\"\";rel=memento;datetime=\"Sun, 06 Nov 1994 08:49:37 GMT\",<u2>;"
      "rel=\"memento\";DateTime=Sunday, <u3>; rel=\"memento; datetime=\"x");
}

void RecordSeeds(const fs::path& root) {
  const fs::path folder = root / "url_records";
  Put(folder, "zip_extra",
      "HTTP/1.1 200 OK\r\nX-In-Cache: 0\r\nX-StatusCode: 200\r\nX-StatusMessage: OK\r\nX-Size: 336\r\n"
      "Content-Type: image/jpeg\r\nX-Addr: 127.0.0.1:8080\r\nX-Fil: /img/a.jpg\r\nX-Save: 127.0.0.1_8080/img/a.jpg\r\n");
  Put(folder, "new_txt",
      "date\tsize'/'remotesize\tflags\tstatuscode\tstatus\tMIME\tEtag|Date\tURL\tlocalfile\t(from URL)\n"
      "10:50:42\t336/336\t---M--\t200\tadded ('OK')\timage/jpeg\tdate:x\thttp://127.0.0.1:8080/img/a.jpg\t"
      "/m/127.0.0.1_8080/img/a.jpg\t(from http://127.0.0.1:8080/)\r\n10:50:41\t-1/0\t\t404\n");
  Put(folder, "zone", "\xFF\xFE[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=about:internet\r\nHostUrl=https://h/%E7%94%BB.jpg\r\n");
  Put(folder, "url", "http://h.example/a%20b/%89%E6%25%2F x\"#frag");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path root(argv[1]);
  JpegSeeds(root);
  FormatSeeds(root);
  PathSeeds(root);
  IniSeeds(root);
  HeaderSeeds(root);
  TimeMapSeeds(root);
  RecordSeeds(root);
  return 0;
}
