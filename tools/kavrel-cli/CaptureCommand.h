#pragma once

#include "tools/kavrel-cli/Cli.h"

// kavrel-cli capture desktop|active|area -o FILE [--geometry WxH+X+Y] [--delay MS] [--no-clipboard]: the
// capture component from the command line; area takes the rectangle of --geometry without an overlay.
// FILE gets PNG, a Windows bitmap or PAM by its extension. Unless --no-clipboard is given,
// the image also goes to the clipboard, which a background process serves after the command has ended
// until another program takes the clipboard over (or hands it to a clipboard manager when one runs).
CliCommand CaptureCliCommand();
