// The sub-commands of qsft. Each lives in a file of its own and is listed once in main.cpp.
#pragma once

#include <span>
#include <string_view>

namespace qs::app {

// args[0] is the sub-command's name; returns the process exit code.
using CommandMain = int (*)(std::span<char*> args);

struct Command {
  std::string_view name;
  std::string_view summary;
  CommandMain run;
};

int VersionMain(std::span<char*> args);
int HostMain(std::span<char*> args);
// qsft-browser-host: `qsft host --native-messaging` under the name the browsers start. The
// browsers pass the caller's identity as arguments; the host takes it from each message instead.
int BrowserHostMain();
int TrustMain(std::span<char*> args);
int RegisterMain(std::span<char*> args);
int UnregisterMain(std::span<char*> args);
int RegMain(std::span<char*> args);
int DownloadMain(std::span<char*> args);
int UploadMain(std::span<char*> args);
int WorkdirMain(std::span<char*> args);
int LangpackMain(std::span<char*> args);
// Without --browser, register and unregister hand over to these (the control's class entries).
int RegisterClassesMain(std::span<char*> args);
int UnregisterClassesMain(std::span<char*> args);

}  // namespace qs::app
