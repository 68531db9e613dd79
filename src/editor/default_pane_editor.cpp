#include "editor/default_pane_editor.h"

#include <cstdio>

#include "io/platform.h"
#include "io/banned.h"

bool (*ctrl_is_held)() = nullptr;

bool ctrl_with_key(const CellEditor& editor) { return ctrl_is_held ? ctrl_is_held() : editor.key_modifiers().ctrl; }

void load_pane_file(CellEditor& editor, const char* path) {
    editor.clear_document();
    editor.file_path.set(path);
    FILE* stream = open_stream(path, "rb");
    if (stream) {
        editor.load_text(stream);
        std::fclose(stream);
    } else {
        editor.start_empty();
    }
    editor.draw(-1);
    editor.ensure_cursor_visible(true, 0.5);
}

int DefaultPaneEditor::on_key(int code) {
    if (find_prompt_open()) return CellEditor::on_key(code);
    switch (code) {
    case KEY_TAB:
        if (ctrl_with_key(*this)) SendMessageA(host, WM_PREFS_SWITCH_PANE, 2, 0);
        return 0;
    case CTRL_W:
        if (ctrl_with_key(*this)) {
            DestroyWindow(host);
            return 1;
        }
        return 0;
    case CTRL_C:
    case CTRL_F:
    case CTRL_G:
    case CTRL_O:
    case CTRL_P: return ctrl_with_key(*this) ? CellEditor::on_key(code) : 0;
    case KEY_REDRAW:
    case KEY_ESCAPE: return CellEditor::on_key(code);
    default: break;
    }
    const bool navigation = code >= KEY_DOWN && code <= KEY_END;
    const bool function_key = code >= KEY_F1 && code <= KEY_F12;
    return navigation || function_key ? CellEditor::on_key(code) : 0;
}
