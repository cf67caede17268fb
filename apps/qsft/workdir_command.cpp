// `qsft workdir`: the working directory of a datasource and user, as the control resolves it.
#include <iostream>
#include <string>

#include "base/text.h"
#include "qsft/cli_control.h"
#include "qsft/cli_options.h"
#include "qsft/commands.h"

namespace qs::app {

namespace {

constexpr const char kWorkdirHelp[] =
    "usage: qsft workdir [--change|--check] --datasource NAME --user NAME --page URL\n"
    "                    [--template T] [--dir DIR]\n"
    "\n"
    "Prints the working directory of a datasource and user, as the file-transfer control\n"
    "resolves it for the page URL: the stored one when that page's site may use it, else a\n"
    "default that is created and stored. Settings live in the settings store (see qsft reg).\n"
    "\n"
    "  (no mode)          choose: the stored or default directory; asks for a folder only\n"
    "                     when the default cannot be taken as it is\n"
    "  --change           change: always asks for a folder (give it with --dir)\n"
    "  --check            check: never asks; fails when there is no usable directory\n"
    "  --datasource NAME  the datasource, e.g. Archive\n"
    "  --user NAME        the user, e.g. jdoe\n"
    "  --page URL         the page the control acts for, e.g. https://dms.example.test/app/\n"
    "  --template T       the default's path, as a page gives it, with the macros\n"
    "                     %LocalAppData%, %Datasource% and %User% (default:\n"
    "                     %LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%, in the\n"
    "                     safe location, so it is created and taken without asking)\n"
    "  --dir DIR          the folder to answer when the control asks for one; without it\n"
    "                     the question counts as cancelled\n"
    "\n"
    "exit status: 0 printed, 1 no working directory, 2 wrong arguments\n";

// Below the built-in safe location, one directory per user: a default the control creates and
// takes without asking.
constexpr const char kDefaultTemplate[] =
    "%LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%";

int Usage(const std::string& error) {
  std::cerr << "qsft workdir: " << error << "\n\n" << kWorkdirHelp;
  return kExitUsage;
}

}  // namespace

int WorkdirMain(std::span<char*> args) {
  std::u16string_view method = u"ChooseWorkDir";
  std::string datasource;
  std::string user;
  std::string page;
  std::optional<std::string> dir;
  std::string template_text = kDefaultTemplate;
  bool mode_given = false;
  for (size_t i = 1; i < args.size();) {
    const std::string_view arg = args[i];
    std::string error;
    if (IsHelpOption(arg)) {
      std::cout << kWorkdirHelp;
      return kExitOk;
    }
    bool taken = false;
    for (auto [name, target] :
         {std::pair{"--datasource", &datasource}, std::pair{"--user", &user},
          std::pair{"--page", &page}, std::pair{"--template", &template_text}}) {
      if (auto value = TakeOptionValue(args, i, name, error)) {
        *target = *value;
        taken = true;
        break;
      }
      if (!error.empty()) return Usage(error);
    }
    if (taken) continue;
    if (auto value = TakeOptionValue(args, i, "--dir", error)) {
      dir = *value;
      continue;
    }
    if (!error.empty()) return Usage(error);
    if (arg == "--change" || arg == "--check") {
      if (mode_given) return Usage("--change and --check exclude each other");
      mode_given = true;
      method = arg == "--change" ? u"ChangeWorkDir" : u"CheckWorkDir";
    } else {
      return Usage("unexpected argument " + std::string(arg));
    }
    ++i;
  }
  if (datasource.empty()) return Usage("needs --datasource NAME");
  if (user.empty()) return Usage("needs --user NAME");
  if (page.empty()) return Usage("needs --page URL");
  if (auto wrong = CheckPageUrl("--page", page)) return Usage(*wrong);

  CliControl control(FromUtf8(page));
  control.Put(u"DatasourceName", Variant::String(FromUtf8(datasource)));
  control.Put(u"User", Variant::String(FromUtf8(user)));
  control.Put(u"UserWorkDir", Variant::String(FromUtf8(template_text)));
  if (dir) control.dialogs().Queue(platform::scripted::Folder{FromUtf8(*dir)});

  const InvokeResult resolved = control.Call(method);
  if (!resolved.ok()) {
    std::cerr << "qsft workdir: " << DescribeFailure(resolved) << '\n';
    return kExitFailed;
  }
  const bool found = resolved.value.type() == Variant::Type::kBool && resolved.value.as_bool();
  if (!found) {
    bool asked = false;
    for (const auto& shown : control.dialogs().Shown()) {
      asked = asked || shown.kind == platform::DialogKind::kFolder;
    }
    std::cerr << "qsft workdir: no working directory for " << datasource << " and " << user;
    if (asked && !dir) std::cerr << " (the control asked for a folder: name one with --dir DIR)";
    std::cerr << '\n';
    return kExitFailed;
  }
  const InvokeResult work_dir = control.Get(u"UserWorkDir");
  if (!work_dir.ok()) {
    std::cerr << "qsft workdir: " << DescribeFailure(work_dir) << '\n';
    return kExitFailed;
  }
  std::cout << ToUtf8(work_dir.value.as_string()) << '\n';
  return kExitOk;
}

}  // namespace qs::app
