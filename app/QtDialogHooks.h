#pragma once

// Gives the framework's beep and OK/Cancel warning their Qt forms.
void InstallQtDialogHooks();
