#pragma once

#include <string>
#include <vector>

// The desktop's registered applications and default handlers (GIO), on path
// bytes. Errors come back as text; an empty text means it worked.
namespace yuragi {

struct DesktopApp {
  std::string id;    // desktop-file id, "viewer.desktop"
  std::string name;  // shown name, UTF-8
  std::string icon;  // theme icon name or icon file path; may be empty
};

// file:// URI with the raw bytes percent-encoded; empty with *error set on failure.
std::string FileUri(const std::string& path, std::string* error);
// MIME type from name and contents; empty when the file cannot be read.
std::string ContentTypeOf(const std::string& path);
std::string ContentTypeDescription(const std::string& type);
// Applications registered for the type, the default first.
std::vector<DesktopApp> AppsForType(const std::string& type);

std::string LaunchDefaultForUri(const std::string& uri);
std::string LaunchApp(const std::string& id, const std::string& path);
std::string LaunchProgram(const std::string& program, const std::string& path);

struct EditorLaunch {
  bool found = false;  // a text editor was registered or found on PATH
  std::string error;   // empty when it started
};
// The editor registered for text/plain, else a common one found on PATH.
EditorLaunch LaunchTextEditor(const std::string& path);

}  // namespace yuragi
