// qsft-describe FILE: writes the control's interface description (JSON) into FILE. The build runs
// it so that the description installed beside the program always matches the method table.
#include <cstdio>
#include <fstream>
#include <string>

#include "qsft/interface_description.h"
#include "qsft/json.h"

int main(int argc, char** argv) {
  // An option is never taken for the name of the file to write.
  if (argc != 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
    std::fputs("usage: qsft-describe FILE\n", stderr);
    return 2;
  }
  const std::string text = qs::json::Write(qs::app::InterfaceDescription()) + "\n";
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "qsft-describe: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
