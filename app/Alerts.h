// The program's one-button alerts: "OK", shown synchronously (the calling
// thread waits for the answer). A stop alert for a failure the user must
// know of, an information alert for a result. The alert is a window and
// ends its own life when answered.
#pragma once

#include <string>

void ShowStopAlert(const char* title, const std::string& text);
void ShowInfoAlert(const char* title, const std::string& text);
