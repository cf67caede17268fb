// A picture of the GTK backend's screen, for test artefacts that show a dialog as the user saw
// it.
#pragma once

#include <string>

namespace qs::platform {

// Saves the whole screen of the GTK backend's display as a PNG at `png_path`, taken on the GTK
// thread while a dialog of the backend is open (its loop does the work). False when there is
// no GTK backend, no dialog takes the request within about five seconds, or the file cannot be
// written.
bool SaveGtkScreenshot(const std::string& png_path);

}  // namespace qs::platform
