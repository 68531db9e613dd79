#include "prefs/pane_editors.h"

#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "io/platform.h"
#include "prefs/preferences.h"
#include "io/banned.h"

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
