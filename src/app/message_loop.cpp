// The message loop every modeless window of the program shares, and the
// note it keeps of which control of each top-level window last held the
// keyboard focus. User-interface thread only.
#include <windows.h>

#include "app/shell.h"
#include "prefs/preferences_window.h"
#include "windows/about_window.h"
#include "windows/changelog_window.h"
#include "windows/license_window.h"
#include "windows/progress_window.h"
#include "io/banned.h"

namespace {

constexpr ATOM DIALOG_CLASS_ATOM = 32770;

// Focusing a dialog puts the focus on the control its dialog manager kept,
// and under Wine that is the first tab stop once another program has been
// in front; so the loop notes the focused control itself whenever it takes a
// message. One note per top-level window; notes of destroyed windows are
// reused.
struct FocusNote {
    HWND top;
    HWND control;
};
FocusNote focus_notes[8];

void note_focus() {
    const HWND focus = GetFocus();
    if (!focus) return;
    const HWND top = GetAncestor(focus, GA_ROOT);
    if (!top || top == focus) return;
    FocusNote* unused = nullptr;
    for (FocusNote& note : focus_notes) {
        if (note.top == top) {
            note.control = focus;
            return;
        }
        if (!unused && !IsWindow(note.top)) unused = &note;
    }
    if (unused) *unused = {top, focus};
}

bool offer_to_dialogs(MSG& message) {
    const HWND dialogs[] = {shell.main_window, changelog_window, license_window,
                            about_window, preferences_window, progress_window};
    for (const HWND dialog : dialogs) {
        if (dialog && IsDialogMessageA(dialog, &message)) return true;
    }
    return false;
}

// Offers the message to the nearest standard dialog among the target's
// ancestors that is not itself a child window.
bool offer_to_enclosing_dialog(MSG& message) {
    HWND remembered = nullptr;
    for (HWND window = message.hwnd; window; window = GetParent(window)) {
        if (static_cast<ATOM>(GetClassLongPtrA(window, GCW_ATOM)) == DIALOG_CLASS_ATOM) {
            remembered = window;
            if (!(GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD)) break;
        }
    }
    return remembered && IsDialogMessageA(remembered, &message);
}

}  // namespace

HWND last_focused_control(HWND top) {
    for (const FocusNote& note : focus_notes) {
        if (note.top == top && IsChild(top, note.control)) return note.control;
    }
    return nullptr;
}

int run_message_loop() {
    MSG message;
    for (;;) {
        const BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0) return static_cast<int>(message.wParam);
        if (result == -1) {
            Sleep(10);
            continue;
        }
        note_focus();
        if (!message.hwnd) {
            DispatchMessageA(&message);
            continue;
        }
        if (handle_shortcut_key(message) > 0) continue;
        if (offer_to_dialogs(message)) continue;
        if (offer_to_enclosing_dialog(message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
