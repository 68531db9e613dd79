// The two editors of the Preferences window, also used by the Changelog
// window: a read-only view that takes only navigation, search and copy, and
// the user's editor that validates before it saves and can restart the
// program. User-interface thread only.
#pragma once

#include <windows.h>

#include "editor/cell_editor.h"

constexpr UINT WM_PREFS_SWITCH_PANE = WM_USER + 200;
constexpr char SAVED_MESSAGE[] = "Parsed and saved successfully";

// Tells whether Ctrl was held with the key being handled. Null (the
// program's value) takes it from the key (CellEditor::key_modifiers); tests
// may set their own.
extern bool (*ctrl_is_held)();

// Loads path into editor (an empty document marked as saved when it cannot
// be read) as at its first opening, whatever the editor was left doing,
// draws the whole view and brings the cursor into view.
void load_pane_file(CellEditor& editor, const char* path);

class DefaultPaneEditor : public CellEditor {
public:
    using CellEditor::CellEditor;
    int on_key(int code) override;
    HWND host = nullptr;
};

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
