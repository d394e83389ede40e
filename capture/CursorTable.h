#pragma once

#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <map>
#include <string_view>
#include <vector>

// A cursor of the application's cursor table, by identifier: the standard cursors have the framework's
// identifiers (0 and below), the program installs its own cursors under any identifier it likes.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

// The application's cursor table (the list of cursors that the framework's screen object keeps) and its
// application-wide cursor override. A control asks for a cursor by identifier and shows whatever the
// table holds under it, also when the entry is replaced later. Lives on the GUI thread.
class CursorTable {
public:
    // The application's table.
    static CursorTable& Application();

    // The cursor under the identifier: what was installed there, else the standard cursor, else the
    // default arrow.
    QCursor Cursor(TCursor id) const;
    // Installs the cursor under the identifier, replacing what was there; every control that shows the
    // identifier, and the override when it is that identifier, change to it.
    void SetCursor(TCursor id, const QCursor& cursor);

    // Lets the control show the cursor of the identifier (the control's cursor property).
    void SetControlCursor(QWidget* control, TCursor id);
    // The identifier the control shows; crDefault when it never asked for one.
    TCursor ControlCursor(const QWidget* control) const;

    // The application-wide override: every window of the program shows this cursor until it is set
    // back to crDefault. It is one entry on Qt's override stack, pushed by the first identifier other
    // than crDefault and popped by crDefault; nothing happens when it is crDefault already.
    TCursor Override() const { return override_; }
    void SetOverride(TCursor id);

private:
    struct Control {
        QPointer<QWidget> widget;
        TCursor id;
    };
    void ForgetDestroyedControls();

    std::map<TCursor, QCursor> installed_;
    std::vector<Control> controls_;
    TCursor override_ = crDefault;
};

// A cursor resource of the program by its name: "CURSOR_1" is the hand of the object overlay. Raises
// Exception for any other name.
QCursor LoadCursor(std::string_view name);
