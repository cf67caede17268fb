// qsft-browser-host: the native messaging host that the browsers start for the extension.
#include "qsft/commands.h"

int main() { return qs::app::BrowserHostMain(); }
