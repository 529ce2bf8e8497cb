// Stand-in for a modal message box: there is no desktop to show one on, so
// the text and its caption go to standard error where the user sees them.
#pragma once

namespace okc::platform {

void ShowMessageBox(const char* text, const char* caption);

}  // namespace okc::platform
