// The text editor drawn on a CellScreen: a document of UTF-8 lines, a cursor
// and a selection counted in characters (one per cell), a view of one or two
// panes over the document, whole-document undo snapshots that share
// unchanged lines, and the editing commands with the clipboard.
//
// User-interface thread only. Hosts own one editor per cell control for the
// life of the program and subclass it, replacing a few virtual operations;
// the order of the virtual operations is fixed (slots 0 to 21). The screen is
// the only thing the editor draws into. Invariants: 0 <= cursor_line <=
// lines.size() (the position after the last line is allowed); undo_pos and
// saved_pos are -1 or index into undo; the document is modified exactly when
// undo_pos differs from saved_pos.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "editor/cell_screen.h"
#include "io/grow_buffer.h"

class CellEditor;

// Settings that every editor of the process shares.
struct EditorShared {
    bool overwrite = false;  // the Insert key toggles it
    int search_mode = 0;
    String goto_text;
};
extern EditorShared editor_shared;

// One line as kept by undo snapshots: a private copy shared by reference
// count between snapshots whose line is equal.
struct SharedLine {
    char* bytes;
    size_t length;
    int32_t refs;
};

struct UndoSnapshot {
    std::vector<SharedLine*> lines;  // null for an empty line
    int32_t after_hscroll = 0, before_hscroll = 0;
    int32_t after_col = 0, before_col = 0;
    int32_t after_line = 0, before_line = 0;
    int32_t after_scroll = 0, before_scroll = 0;
};

// A running host_tick loop; the editor's destruction clears editor so the
// loop stops without touching it again.
struct TickGuard {
    CellEditor* editor;
    TickGuard* next;
};

struct Modifiers {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};
// The asynchronous state of Shift, Ctrl and Alt.
Modifiers read_modifiers();

// Rows of the text area: pane 0 from top[0] with height[0] rows; when split,
// a divider row and pane 1 below it. Heights may be 0 or less on a grid too
// small for any text.
struct PaneLayout {
    int32_t total;         // rows between the title and help rows
    int32_t split_offset;  // (total - 1) x split, truncated
    bool split;
    int32_t top[2];
    int32_t height[2];
    int32_t divider_row;  // -1 when not split
};
PaneLayout compute_pane_layout(int32_t rows, int32_t top_rows, int32_t bottom_rows, double split);

struct TextPosition {
    int32_t line;
    int32_t col;
};

constexpr size_t LOAD_LINE_LIMIT = 0x2000000;
constexpr char SAVE_FAILED_MESSAGE[] = "Error writing file, changes not saved!";

class CellEditor {
public:
    // Binds the editor to screen (may be null): owner, resize and mouse
    // handlers, one scroll-bar cell, the palette, a blank grid.
    explicit CellEditor(CellScreen* screen);
    // Detaches the screen, frees the document and its history, and stops
    // every running host_tick loop.
    virtual ~CellEditor();                                            // slot 0
    CellEditor(const CellEditor&) = delete;
    CellEditor& operator=(const CellEditor&) = delete;

    // Handles one key code; nonzero ends the host tick's loop for this tick.
    virtual int on_key(int code);                                     // 1
    virtual void on_context_click(HWND window);                       // 2
    // Writes the document to file_path through a temporary file beside it
    // that replaces the file only when complete. 0 on success; 1 when
    // anything failed, the file and the modified state then unchanged.
    virtual int save();                                               // 3
    // Clamps the cursor, scrolls to show it (place in 0..1: put the cursor
    // line that far down the pane), draws the status and places the caret.
    virtual void ensure_cursor_visible(bool vertical, double place);  // 4
    // Loads path; when it cannot be read and initial_text is given, creates
    // the file with that text. 0 when loaded, 1 when the document was
    // started empty.
    virtual int open_file(const char* path, const char* initial_text);  // 5
    // Loads file_path again; 1 when it cannot be opened (nothing changes).
    virtual int reload(bool discard_undo);                            // 6
    // Draws one document line where it is visible, or everything with -1.
    virtual void draw(int32_t line);                                  // 7
    virtual void select_line(int32_t line);                           // 8
    // Skips spaces and tabs at *cursor and returns the run of other
    // characters that follows (its length in *length), leaving *cursor after
    // it; null at end.
    virtual const char* next_token(const char** cursor, const char* end, int32_t* length, int32_t* state);  // 9
    virtual LRESULT on_mouse(HWND window, UINT message, WPARAM wparam, LPARAM lparam);  // 10
    virtual int32_t find_in_line(const char* text, const char* line, int32_t start, bool backward,
                                 int32_t* length);                    // 11
    virtual int32_t line_state(int32_t line);                         // 12
    virtual void draw_line(int32_t row, const String& text, int32_t state, int32_t line);  // 13
    virtual void draw_title();                                        // 14
    virtual void draw_help_extra();                                   // 15
    // Called before (byte_count bytes about to change) and after (0) an edit
    // inside one line; true asks for a full redraw instead of the line.
    virtual bool line_changed(const String& text, size_t byte_offset, size_t byte_count);  // 16
    virtual int document_count();                                     // 17
    virtual CellEditor* document_at(int index);                       // 18
    virtual bool create_document(const char* name);                   // 19
    virtual void switch_document(int index, bool relative);           // 20
    virtual void before_close();                                      // 21

    // Document store and files (editor_file.cpp).
    // Appends the stream's text to the (emptied) lines: BOM, line ends, the
    // indentation survey and tab expansion; records the first snapshot.
    void load_text(FILE* stream);
    void start_empty();
    void clear_document();
    bool modified() const { return undo_pos != saved_pos; }
    int32_t line_count() const { return static_cast<int32_t>(lines.size()); }
    // The text of line, or an empty text when it does not exist.
    const String& line_text(int32_t line) const;

    // View (cell_editor.cpp).
    PaneLayout pane_layout() const;
    void draw_status();
    void draw_help_row();
    // Shows text on the help row until the next key.
    void show_message(const char* text);

    // Undo history (editor_undo.cpp).
    void begin_edit();
    void commit_edit();
    void undo();
    void redo();

    // Editing (editor_commands.cpp). Each command is one undo step.
    void delete_selection();
    void insert_lines(const std::vector<String>& list);
    void indent_selection(int32_t delta);
    void insert_character(uint32_t code);
    void tab_key(bool shift);
    void enter_key(bool ctrl);
    void backspace_key();
    void delete_key();
    void duplicate();
    void select_all();
    void cancel_selection();
    void toggle_overwrite();
    // Normalised selection ends; false when there is no selection.
    bool selection_range(TextPosition* start, TextPosition* end) const;
    bool selection_empty() const;

    // Clipboard (editor_clipboard.cpp).
    // The text that copy puts on the clipboard for the current selection.
    String selection_clipboard_text() const;
    void copy_to_clipboard(bool cut);
    // Reads the clipboard as lines; empty when it holds no text.
    void read_clipboard(std::vector<String>& list);
    void paste();

    CellScreen* screen;
    int32_t top_rows = 1;
    int32_t bottom_rows = 1;
    int32_t tab_width = 2;
    int32_t undo_limit = 500;
    String file_path;
    int32_t crlf = 0;
    int32_t save_tab_width = 0;
    std::vector<std::unique_ptr<String>> lines;
    std::vector<UndoSnapshot*> undo_history;  // owned
    int32_t undo_pos = -1;
    int32_t saved_pos = 0;
    int32_t state = 0;
    int32_t selecting = 0;
    int32_t anchor_col = 0, anchor_line = 0;
    int32_t sel_col = 0, sel_line = 0;
    int32_t hscroll = 0;
    int32_t cursor_col = 0, cursor_line = 0;
    int32_t wanted_col = -1;
    int32_t drag_mode = 0;
    int32_t drag_offset = 0;
    int32_t active_pane = 0;
    double split = 1.0;
    int32_t pane_scroll[2] = {};
    int32_t last_status_len = 0;
    int32_t prompt_typed = 0;
    String find_text;
    String replace_text;
    TickGuard* tick_guards = nullptr;
    String clipboard_text;  // the text this editor put on the clipboard last

protected:
    // Helpers shared by the commands.
    String& cursor_line_text();
    bool cursor_line_exists() const { return cursor_line >= 0 && cursor_line < line_count(); }
    size_t cursor_byte() const;
    // Replaces count bytes at offset in line with text, telling line_changed.
    bool edit_line(int32_t line, size_t offset, size_t count, const char* text, size_t length);
    void insert_line(int32_t index, const char* text, size_t length);
    void remove_line(int32_t index);
    // Redraws after a command: the cursor line, or everything.
    void redraw(bool everything);
    void finish_command(bool everything);

private:
    void draw_selection_on_row(int32_t row, int32_t line);
    void free_history();
    void restore_snapshot(const UndoSnapshot& snapshot, bool before);
    bool full_redraw_requested_ = false;
    friend void host_tick(CellEditor* editor);
};

// One timer tick of a host: hands up to 16 queued keys of the editor's
// screen to its on_key, stopping early when on_key returns nonzero or
// destroys the editor.
void host_tick(CellEditor* editor);

// Replaces target with source (both UTF-8 paths), overwriting an existing
// target. False when the move failed.
bool replace_file(const char* source, const char* target);
