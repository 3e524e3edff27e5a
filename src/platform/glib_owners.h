#pragma once

// Owners for the GLib objects the desktop-shell code holds. Include before
// any Qt header: Qt's "signals" macro breaks the GLib headers.
#include <gio/gio.h>

#include <memory>
#include <string>

namespace yuragi {

struct GErrorOwner {
  GError* error = nullptr;
  GErrorOwner() = default;
  GErrorOwner(const GErrorOwner&) = delete;
  GErrorOwner& operator=(const GErrorOwner&) = delete;
  ~GErrorOwner() { g_clear_error(&error); }
  std::string Text() const { return error ? std::string(error->message) : std::string(); }
};

struct GFreeDeleter {
  void operator()(void* memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct GAppListDeleter {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using GAppList = std::unique_ptr<GList, GAppListDeleter>;

}  // namespace yuragi
