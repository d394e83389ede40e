#pragma once

#include <string>

// The two places where the framework asks the user something. The application installs its own
// handlers; without them the framework stays silent and answers OK.

using TBeepHandler = void (*)();
// Shows a warning with OK and Cancel; returns true for OK.
using TWarningHandler = bool (*)(const std::string& text);

void SetBeepHandler(TBeepHandler handler);
void SetWarningHandler(TWarningHandler handler);

void MessageBeep();
bool WarningOkCancel(const std::string& text);
