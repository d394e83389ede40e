#pragma once

#include <string>

class QWidget;

// The error box's text: the message, with "." appended when its last byte is greater than "." (so a
// message ending in a letter, a digit or a Chinese character gets one; one ending in ".", ")" or a
// blank does not).
std::string ErrorBoxText(const std::string& message);

// The modal error box: caption the application title, error icon, one OK button.
void ShowErrorBox(QWidget* parent, const std::string& message);

// Shows the exception being handled in the error box; for use inside a catch block.
void ReportCurrentException(QWidget* parent) noexcept;

// Runs a command handler; a failure inside it is shown in the error box and goes no further, so Qt
// never sees an exception and the program carries on with the state the handler had reached.
template <typename Handler> void RunGuarded(QWidget* parent, Handler&& handler) noexcept
{
    try {
        handler();
    } catch (...) {
        ReportCurrentException(parent);
    }
}
