#include "framework/DialogHooks.h"

namespace {
TBeepHandler beepHandler = nullptr;
TWarningHandler warningHandler = nullptr;
}  // namespace

void SetBeepHandler(TBeepHandler handler)
{
    beepHandler = handler;
}

void SetWarningHandler(TWarningHandler handler)
{
    warningHandler = handler;
}

void MessageBeep()
{
    if (beepHandler)
        beepHandler();
}

bool WarningOkCancel(const std::string& text)
{
    return warningHandler ? warningHandler(text) : true;
}
