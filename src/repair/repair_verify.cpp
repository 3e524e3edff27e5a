#include "repair/repair_verify.h"

#include <strings.h>

#include <cstdint>

#include "detect/end_marker.h"
#include "platform/jpeg_decoder.h"

namespace yuragi {

namespace {

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

bool StartsLikeJpeg(const std::string& bytes) {
  return bytes.size() >= 3 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8 && uint8_t(bytes[2]) == 0xFF;
}

bool LooksLikeHtml(const std::string& bytes, const std::string& contentType) {
  if (strncasecmp(contentType.c_str(), "text/html", 9) == 0) return true;
  for (const char c : bytes) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '<';
  }
  return false;
}

}  // namespace

Verification VerifyFetched(const std::string& local, const std::string& fresh, const std::string& contentType,
                           bool acceptChanged) {
  if (fresh.empty()) return {Verdict::Empty, "empty body"};
  if (!StartsLikeJpeg(fresh)) {
    if (LooksLikeHtml(fresh, contentType)) return {Verdict::Html, contentType.empty() ? "HTML" : contentType};
    return {Verdict::NotJpeg, contentType.empty() ? "not a JPEG" : contentType};
  }
  const bool continues = fresh.size() > local.size() && fresh.compare(0, local.size(), local) == 0;
  bool changed = false;
  if (!continues) {
    const bool prefixOfLocal = local.compare(0, fresh.size(), fresh) == 0;
    if (prefixOfLocal) {
      return {Verdict::Smaller, std::to_string(fresh.size()) + " bytes, the file has " + std::to_string(local.size())};
    }
    if (!acceptChanged) return {Verdict::Changed, "changed on the server"};
    changed = true;
  }
  if (!HasJpegEndMarker(Bytes(fresh), fresh.size())) return {Verdict::Incomplete, "no end marker"};
  // The entropy-coded data is read in full at the smallest scale too, so a
  // stream that runs out is caught without the cost of a full-size picture.
  std::string error;
  DecodeWarnings warnings;
  if (!DecodeJpeg(Bytes(fresh), fresh.size(), DecodeRequest{1, 1}, &error, &warnings)) {
    return {Verdict::NotJpeg, error.empty() ? "does not decode" : error};
  }
  if (warnings.dataMissing) return {Verdict::Incomplete, "picture data ends early"};
  return {changed ? Verdict::GoodChanged : Verdict::Good, {}};
}

std::optional<std::string> CloseWithEndMarker(const std::string& local, std::string* detail) {
  const auto fail = [detail](const char* why) -> std::optional<std::string> {
    if (detail) *detail = why;
    return std::nullopt;
  };
  if (HasJpegEndMarker(Bytes(local), local.size())) return fail("already ends in the end marker");
  std::string closed = local;
  closed += "\xFF\xD9";
  const std::optional<RgbImage> before = DecodeJpeg(Bytes(local), local.size());
  if (!before) return fail("does not decode");
  const std::optional<RgbImage> after = DecodeJpeg(Bytes(closed), closed.size());
  if (!after || after->width != before->width || after->height != before->height || after->pixels != before->pixels) {
    return fail("the closed picture would differ");
  }
  return closed;
}

}  // namespace yuragi
