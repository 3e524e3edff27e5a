// Default applications, registered applications and launching, through GIO.
#include "platform/glib_owners.h"

#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/desktop_apps.h"

namespace yuragi {
namespace {

// A launch leaves GIO holding the session bus, which by default ends the
// whole process with SIGTERM when the bus goes away (a desktop session
// restarting its bus): the window, and any work in it, must outlive that.
// GIO's launch has just asked for the same connection, so this finds it.
void KeepBusFromEndingProcess() {
  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
}

std::string LaunchWithFile(GAppInfo* app, const std::string& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GList files{file.get(), nullptr, nullptr};
  GErrorOwner failure;
  const bool launched = g_app_info_launch(app, &files, nullptr, &failure.error);
  KeepBusFromEndingProcess();
  if (launched) return {};
  return failure.Text();
}

std::string Utf8OrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

std::string IconText(GAppInfo* app) {
  GIcon* icon = g_app_info_get_icon(app);  // owned by the app
  if (!icon) return {};
  if (G_IS_THEMED_ICON(icon)) {
    const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    return names && names[0] ? std::string(names[0]) : std::string();
  }
  GText text(g_icon_to_string(icon));
  return Utf8OrEmpty(text.get());
}

}  // namespace

std::string FileUri(const std::string& path, std::string* error) {
  GErrorOwner failure;
  GText uri(g_filename_to_uri(path.c_str(), nullptr, &failure.error));
  if (!uri) {
    if (error) *error = failure.Text();
    return {};
  }
  return uri.get();
}

std::string ContentTypeOf(const std::string& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GObjectPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                               G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info) return {};
  return Utf8OrEmpty(g_file_info_get_content_type(info.get()));
}

std::string ContentTypeDescription(const std::string& type) {
  GText description(g_content_type_get_description(type.c_str()));
  return Utf8OrEmpty(description.get());
}

std::vector<DesktopApp> AppsForType(const std::string& type) {
  std::vector<DesktopApp> apps;
  GObjectPtr<GAppInfo> fallback(g_app_info_get_default_for_type(type.c_str(), FALSE));
  GAppList all(g_app_info_get_all_for_type(type.c_str()));
  auto add = [&apps](GAppInfo* app) {
    const std::string id = Utf8OrEmpty(g_app_info_get_id(app));
    for (const DesktopApp& known : apps) {
      if (!id.empty() && known.id == id) return;
    }
    apps.push_back({id, Utf8OrEmpty(g_app_info_get_name(app)), IconText(app)});
  };
  if (fallback) add(fallback.get());
  for (GList* item = all.get(); item; item = item->next) add(G_APP_INFO(item->data));
  return apps;
}

std::string LaunchDefaultForUri(const std::string& uri) {
  GErrorOwner failure;
  const bool launched = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &failure.error);
  KeepBusFromEndingProcess();
  if (launched) return {};
  return failure.Text();
}

std::string LaunchApp(const std::string& id, const std::string& path) {
  GObjectPtr<GDesktopAppInfo> app(g_desktop_app_info_new(id.c_str()));
  if (!app) return "no application " + id;
  return LaunchWithFile(G_APP_INFO(app.get()), path);
}

std::string LaunchProgram(const std::string& program, const std::string& path) {
  // GIO starts programs through a helper, so a file that cannot run would
  // pass unnoticed: check it here.
  struct stat status {};
  if (::stat(program.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || (status.st_mode & 0111) == 0 ||
      ::access(program.c_str(), X_OK) != 0) {
    return "実行できるプログラムではありません。";
  }
  GText quoted(g_shell_quote(program.c_str()));
  GErrorOwner failure;
  GObjectPtr<GAppInfo> app(
      g_app_info_create_from_commandline(quoted.get(), nullptr, G_APP_INFO_CREATE_NONE, &failure.error));
  if (!app) return failure.Text();
  return LaunchWithFile(app.get(), path);
}

EditorLaunch LaunchTextEditor(const std::string& path) {
  GObjectPtr<GAppInfo> registered(g_app_info_get_default_for_type("text/plain", FALSE));
  if (registered) return {true, LaunchWithFile(registered.get(), path)};
  static const char* const kCommonEditors[] = {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                                               "xed", "pluma", "featherpad", "leafpad", "geany"};
  for (const char* name : kCommonEditors) {
    GText program(g_find_program_in_path(name));
    if (program) return {true, LaunchProgram(program.get(), path)};
  }
  return {false, {}};
}

}  // namespace yuragi
