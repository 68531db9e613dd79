// The read-only editor: a view of a file that takes navigation, search and
// copy and refuses every edit. The Preferences window shows the reference
// preferences in it and the Changelog window the changelog. Also the
// helpers its hosts share: loading a file as at a first opening, and the
// Ctrl test of the key being handled. User-interface thread only.
#pragma once

#include <windows.h>

#include "editor/cell_editor.h"

// Sent to the host by Ctrl+Tab (wparam: the pane editor that asks, 1 or 2),
// which a host with a second pane answers by moving the focus there.
constexpr UINT WM_PREFS_SWITCH_PANE = WM_USER + 200;

// Tells whether Ctrl was held with the key being handled. Null (the
// program's value) takes it from the key (CellEditor::key_modifiers); tests
// may set their own.
extern bool (*ctrl_is_held)();
// Whether Ctrl was held with the key editor is handling, by the rule above.
bool ctrl_with_key(const CellEditor& editor);

// Loads path into editor (an empty document marked as saved when it cannot
// be read) as at its first opening, whatever the editor was left doing,
// draws the whole view and brings the cursor into view.
void load_pane_file(CellEditor& editor, const char* path);

class DefaultPaneEditor : public CellEditor {
public:
    using CellEditor::CellEditor;
    int on_key(int code) override;
    HWND host = nullptr;  // the window Ctrl+Tab tells and Ctrl+W closes
};
