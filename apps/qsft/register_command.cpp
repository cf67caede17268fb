// qsft register / unregister --browser: the browsers' host manifests. Without --browser the
// commands register the control's classes (class_register_command.cpp).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "qsft/browser_manifest.h"
#include "qsft/commands.h"

namespace qs::app {

namespace {

constexpr const char kRegisterHelp[] =
    "usage: qsft register [--user|--system]   (the control's class entries)\n"
    "       qsft register --browser chromium|chrome|firefox [--user|--system]\n"
    "                     [--user-data-dir DIR] [--host PROGRAM] [--root DIR]\n"
    "       qsft unregister --browser chromium|chrome|firefox [--user|--system]\n"
    "                     [--user-data-dir DIR] [--root DIR]\n"
    "\n"
    "Writes (or removes) the native messaging host manifest through which the browser's\n"
    "extension starts qsft-browser-host (the program beside this one). --user (default) for\n"
    "the current user, --system for every user (needs the rights to write there);\n"
    "--user-data-dir for a Chromium or Chrome started with that profile folder.\n"
    "\n"
    "For installers: --host names the host program the manifest points at (an absolute path,\n"
    "not checked); --root DIR (with --system) writes below DIR instead of /, as into a\n"
    "package being built.\n";

struct Args {
  std::optional<Browser> browser;
  ManifestPlace place;
  std::filesystem::path host;  // empty: qsft-browser-host beside this program
  std::filesystem::path root;  // empty: the system's own root
};

int Usage(const char* error) {
  std::fprintf(stderr, "qsft: %s\n\n", error);
  std::fputs(kRegisterHelp, stderr);
  return 2;
}

// 0 when parsed; otherwise the exit status, the message already written.
int ParseArgs(std::span<char*> args, Args& out) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kRegisterHelp, stdout);
      return -1;
    } else if (a == "--browser" && i + 1 < args.size()) {
      out.browser = ParseBrowser(args[++i]);
      if (!out.browser) return Usage("--browser takes chromium, chrome or firefox");
    } else if (a == "--user") {
      out.place.system = false;
    } else if (a == "--system") {
      out.place.system = true;
    } else if (a == "--user-data-dir" && i + 1 < args.size()) {
      out.place.user_data_dir = std::filesystem::absolute(args[++i]);
    } else if (a == "--host" && i + 1 < args.size()) {
      out.host = args[++i];
      if (!out.host.is_absolute()) return Usage("--host takes an absolute path");
    } else if (a == "--root" && i + 1 < args.size()) {
      out.root = std::filesystem::absolute(args[++i]);
    } else {
      return Usage(("unexpected argument '" + std::string(a) + "'").c_str());
    }
  }
  if (!out.browser) return Usage("--browser is required");
  const char* home = std::getenv("HOME");
  out.place.home = home ? home : "";
  if (HostManifestPath(*out.browser, out.place).empty()) {
    return Usage("--user-data-dir is for Chromium and Chrome, and not with --system");
  }
  if (!out.root.empty() && !out.place.system) return Usage("--root goes with --system");
  if (!out.place.system && out.place.user_data_dir.empty() && out.place.home.empty()) {
    return Usage("HOME is not set");
  }
  return 0;
}

bool NamesBrowser(std::span<char*> args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (std::strcmp(args[i], "--browser") == 0) return true;
  }
  return false;
}

// Where the manifest goes, below --root when one is given.
std::filesystem::path ManifestFile(const Args& a) {
  const auto path = HostManifestPath(*a.browser, a.place);
  return a.root.empty() ? path : a.root / path.relative_path();
}

}  // namespace

int RegisterMain(std::span<char*> args) {
  if (!NamesBrowser(args) && !(args.size() == 2 && (std::strcmp(args[1], "--help") == 0 ||
                                                    std::strcmp(args[1], "-h") == 0))) {
    return RegisterClassesMain(args);
  }
  Args a;
  if (int status = ParseArgs(args, a); status != 0) return status < 0 ? 0 : status;
  std::error_code ec;
  auto host = a.host;
  if (host.empty()) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
      std::fprintf(stderr, "qsft register: cannot tell where this program lies: %s\n",
                   ec.message().c_str());
      return 1;
    }
    host = self.parent_path() / "qsft-browser-host";
    if (!std::filesystem::exists(host)) {
      std::fprintf(stderr, "qsft register: %s is missing\n", host.c_str());
      return 1;
    }
  }
  const auto path = ManifestFile(a);
  std::filesystem::create_directories(path.parent_path(), ec);
  // Written beside and renamed into place, so a browser never reads half a manifest.
  const auto temp = path.string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << HostManifestJson(*a.browser, host);
    out.close();
    if (!out) {
      std::fprintf(stderr, "qsft register: cannot write %s\n", temp.c_str());
      std::filesystem::remove(temp, ec);
      return 1;
    }
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::fprintf(stderr, "qsft register: cannot write %s: %s\n", path.c_str(),
                 ec.message().c_str());
    std::filesystem::remove(temp, ec);
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

int UnregisterMain(std::span<char*> args) {
  if (!NamesBrowser(args) && !(args.size() == 2 && (std::strcmp(args[1], "--help") == 0 ||
                                                    std::strcmp(args[1], "-h") == 0))) {
    return UnregisterClassesMain(args);
  }
  Args a;
  if (int status = ParseArgs(args, a); status != 0) return status < 0 ? 0 : status;
  const auto path = ManifestFile(a);
  std::error_code ec;
  if (!std::filesystem::remove(path, ec) && ec) {
    std::fprintf(stderr, "qsft unregister: cannot remove %s: %s\n", path.c_str(),
                 ec.message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace qs::app
