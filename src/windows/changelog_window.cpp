// The Changelog window: changelog.txt from the program's folder in a
// read-only editor view that Esc, Ctrl+W and the close box close.
// User-interface thread only.
#include "windows/changelog_window.h"

#include <cstdio>
#include <memory>

#include "io/platform.h"
#include "editor/default_pane_editor.h"
#include "graphics/window_layout.h"
#include "resources/resource_ids.h"
#include "io/banned.h"

HWND changelog_window = nullptr;

namespace {

constexpr UINT_PTR EDITOR_TICK_TIMER_ID = 100;

// The read-only view, in which Esc closes the window as in every other
// window of the program; while a prompt is open, Esc closes the prompt.
// Ctrl+Esc and Ctrl+[ keep their editor meaning.
class ChangelogEditor : public DefaultPaneEditor {
public:
    using DefaultPaneEditor::DefaultPaneEditor;
    int on_key(int code) override {
        const bool prompt_open = state >= PROMPT_FIND && state <= PROMPT_GOTO;
        if (code == KEY_ESCAPE && !prompt_open && !key_modifiers().ctrl) {
            DestroyWindow(host);
            return 1;
        }
        return DefaultPaneEditor::on_key(code);
    }
};

struct ChangelogState {
    CellScreen screen;
    std::unique_ptr<ChangelogEditor> editor;
    WindowLayout layout;
    String folder;
};
ChangelogState changelog;

void on_init_dialog(HWND window) {
    changelog_window = window;
    const HWND control = GetDlgItem(window, IDC_CHANGELOG_VIEW);
    attach_window(&changelog.screen, control);
    changelog.layout.init(window);
    changelog.layout.add(control, 0, 0, 1, 1);
    restore_position(window, "changelog", {0, 50, 620, 505});
    ChangelogEditor& editor = *changelog.editor;
    editor.host = window;
    load_pane_file(editor, concat(changelog.folder.c_str(), "changelog.txt").c_str());
    SetTimer(window, EDITOR_TICK_TIMER_ID, HOST_TICK_MS, nullptr);
    SetFocus(control);
}

void on_destroy(HWND window) {
    changelog.editor->clear_document();
    KillTimer(window, EDITOR_TICK_TIMER_ID);
    save_position(window, "changelog");
    changelog_window = nullptr;
}

}  // namespace

void create_changelog_editor(const char* folder) {
    changelog.folder.set(folder);
    changelog.editor = std::make_unique<ChangelogEditor>(&changelog.screen);
}

void destroy_changelog_editor() { changelog.editor.reset(); }

INT_PTR CALLBACK changelog_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM) {
    if (close_on_cancel(window, message, wparam)) return 0;
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); break;
    case WM_TIMER:
        if (wparam == EDITOR_TICK_TIMER_ID) host_tick(changelog.editor.get());
        break;
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED) changelog.layout.relayout();
        break;
    case WM_DESTROY: on_destroy(window); break;
    default: break;
    }
    return 0;
}
