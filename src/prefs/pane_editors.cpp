#include "prefs/pane_editors.h"

#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "io/platform.h"
#include "prefs/preferences.h"
#include "io/banned.h"

namespace {

constexpr int CTRL_C = 3, CTRL_F = 6, CTRL_G = 7, CTRL_O = 15, CTRL_P = 16, CTRL_S = 19, CTRL_W = 23;

bool ctrl_with_key(const CellEditor& editor) { return ctrl_is_held ? ctrl_is_held() : editor.key_modifiers().ctrl; }

}  // namespace

bool (*ctrl_is_held)() = nullptr;

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

int UserPaneEditor::on_key(int code) {
    const bool ctrl = (code == KEY_TAB || code == CTRL_S || code == CTRL_W || code == KEY_F12) && ctrl_with_key(*this);
    if (!ctrl) return CellEditor::on_key(code);
    switch (code) {
    case KEY_TAB: SendMessageA(host, WM_PREFS_SWITCH_PANE, 1, 0); return 0;
    case CTRL_S: validate_and_save(); return 0;
    case CTRL_W: DestroyWindow(host); return 1;
    default:  // Ctrl+F12
        if (preferences_state) preferences_state->relaunch_requested = true;
        if (relaunch) relaunch();
        return CellEditor::on_key(code);
    }
}

void UserPaneEditor::validate_and_save() {
    // What is checked is exactly what the save writes.
    const std::string text = file_bytes();
    String error;
    const bool parsed = preferences_text_parses(text.c_str(), text.size(), &error);
    if (parsed) {
        show_message(save() == 0 ? SAVED_MESSAGE : SAVE_FAILED_MESSAGE);
    } else {
        show_message(error.c_str());
    }
}

void UserPaneEditor::draw_help_extra() {
    if (!screen) return;
    const struct {
        const char* text;
        uint8_t attr;
    } items[] = {{"S", ATTR_HELP_KEY}, {"ave", ATTR_HELP}, {" F12", ATTR_HELP_KEY}, {":relaunch", ATTR_HELP}};
    for (const auto& item : items) {
        screen->attr = item.attr;
        add_text(screen, item.text, -1);
    }
    screen->attr = ATTR_HELP;
}
