// The user's editor of the Preferences window: it validates the text by the
// preferences rules before it saves, and can restart the program. (The
// left pane is the editor's read-only view, DefaultPaneEditor.)
// User-interface thread only.
#pragma once

#include <windows.h>

#include "editor/default_pane_editor.h"

constexpr char SAVED_MESSAGE[] = "Parsed and saved successfully";

class UserPaneEditor : public CellEditor {
public:
    using CellEditor::CellEditor;
    int on_key(int code) override;
    void draw_help_extra() override;
    // Checks the text by the preferences rules and saves it only when it
    // parses; the outcome shows on the status line.
    void validate_and_save();
    HWND host = nullptr;
    // Destroys the main window for a relaunch (set by the program).
    void (*relaunch)() = nullptr;
};
