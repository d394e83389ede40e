#pragma once

#include "tools/kavrel-cli/Cli.h"

// kavrel-cli capture desktop|active -o FILE [--delay MS] [--no-clipboard]: the capture component from the
// command line. FILE gets a Windows bitmap (.bmp) or a PAM image (.pam). Unless --no-clipboard is given,
// the image also goes to the clipboard, which a background process serves after the command has ended
// until another program takes the clipboard over (or hands it to a clipboard manager when one runs).
CliCommand CaptureCliCommand();
