#pragma once

#include <QString>

// The application object's title: the task bar text and the caption of every error box. Kept apart
// from Qt's display name, which the X11 platform would append to every window caption.
QString ApplicationTitle();

// The maker's addresses and numbers as the frame, the Help menu and the About box show them.
namespace Maker {
inline constexpr const char* kName = "Kavrel 开发组";
inline constexpr const char* kWebAddress = "www.kavrel.example.org";
inline constexpr const char* kSecondWebAddress = "kavrel.example.net";
inline constexpr const char* kDownloadAddress = "download.kavrel.example.org";
inline constexpr const char* kHomePage = "http://www.kavrel.example.org/";
inline constexpr const char* kFeedbackMail = "mailto:feedback@kavrel.example.org";
inline constexpr const char* kContactNumber = "10000";
inline constexpr const char* kTelephone = "010-55550100";

// 『Kavrel 开发组出品』, the credit line of the status bar and the About box.
QString CreditLine();
} // namespace Maker

class QApplication;

// What every run needs before the first window: the application's names and icon, the fonts the
// forms name (mapped to installed ones) and the style's toolbar separators.
void SetUpApplication(QApplication& application);
