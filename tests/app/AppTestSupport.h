#pragma once

#include "capture/CaptureSource.h"

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QWidget;

// Registers the picture formats once and sets the application up as the program does.
void InitAppTests();

// Runs a real event loop for `ms` milliseconds, so that the dispatcher blocks and idle-time work runs
// (QTest::qWait processes events without ever blocking).
void RunEventLoop(int ms = 50);

// Calls `inspect` with the next modal dialog that opens while `action` runs, then closes it.
// Returns false when no modal dialog appeared.
bool WithNextModal(const std::function<void()>& action, const std::function<void(QWidget*)>& inspect);

// A capture component that records which operation was called and returns what it was told to.
class FakeCaptureSource : public ICaptureSource {
public:
    std::vector<std::string> calls;
    int width = 0; // 0: return none, as a cancelled overlay does
    int height = 0;
    std::string failure; // non-empty: the operation raises Exception(failure)
    std::function<void()> during; // runs inside the operation, as the screen is read

    std::unique_ptr<TBitmap> CaptureDesktop() override { return Make("desktop"); }
    std::unique_ptr<TBitmap> CaptureActiveWindow() override { return Make("active"); }
    std::unique_ptr<TBitmap> CaptureObject() override { return Make("object"); }
    std::unique_ptr<TBitmap> CaptureArea() override { return Make("area"); }

private:
    std::unique_ptr<TBitmap> Make(const char* what);
};
