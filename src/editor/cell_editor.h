// The text editor drawn on a CellScreen: a document of UTF-8 lines, a cursor
// and a selection counted in characters (one per cell), a view of one or two
// panes over the document, whole-document undo snapshots that share
// unchanged lines, and the editing commands with the clipboard.
//
// User-interface thread only. Hosts own one editor per cell control for the
// life of the program and subclass it, replacing a few virtual operations
// (the virtual functions declared together below). The screen is
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

// State that every editor of the process shares.
struct EditorShared {
    bool overwrite = false;  // the Insert key toggles it
    int search_mode = 0;     // 0 to 5, see search_mode_name; bit 0 set = case-sensitive
    String goto_text;        // emptied each time the go-to prompt opens
    // The cell of the last mouse button press, within 0..cols and 0..rows.
    int32_t press_col = 0, press_row = 0;
    // Opens a double-clicked link; null means the shell's "open" verb. A
    // test may set it to watch links instead of starting a browser.
    void (*open_link)(HWND owner, const char* link) = nullptr;
};
extern EditorShared editor_shared;

constexpr int SEARCH_MODE_COUNT = 6;
constexpr int32_t WHEEL_DELTA_PER_LINE = 20;  // 6 lines a 120-unit notch
constexpr int32_t SCROLL_PAST_END = 4;        // lines a pane may scroll past the last line
constexpr char USE_FIND_FIRST_MESSAGE[] = "Use Ctrl+F first, or run Ctrl+R from Find prompt";

// "substring", "SubString", "wordmatch", "WordMatch", "tokenmatch",
// "TokenMatch" for the modes 0 to 5 (a mode outside counts modulo 6).
const char* search_mode_name(int mode);
// A text for messages and prompts: texts of more than 41 bytes become a
// head of at least 25 bytes, "..." and a tail, at most 46 bytes of the text
// in all, cut only between characters.
String shorten_for_display(const char* text);
// The line that a go-to text asks for: "+n" and "-n" count from
// cursor_line, "n" is line n (counted from 1); the result is kept within
// 0..line_count. False when the text holds no number above 0.
bool goto_target(const char* text, int32_t cursor_line, int32_t line_count, int32_t* target);
// The "http://" link of line (length bytes) that covers character column
// col: its byte range [*start, *end). A link starts at the line start or
// after a byte that is not an ASCII letter or digit, runs to a space, a
// quote or ")" and is cut at 511 bytes; links of 9 bytes or less do not
// count. False when col is on no link.
bool find_link(const char* line, size_t length, int32_t col, size_t* start, size_t* end);
// Character classes for word moves: 0 space or tab, 1 ASCII letter, digit
// or "_", 2 ";", 3 anything else (every character from 0x80 up included).
int word_class(uint32_t code);

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
// The modifiers of KEY_WITH_ bits.
Modifiers modifiers_of(uint8_t bits);

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
// What the editor's bottom rows hold: the status (normal), a message that
// the next key takes away, or one of the three prompts.
enum EditorState : int32_t {
    STATE_NORMAL = 0,
    STATE_MESSAGE = 1,
    PROMPT_FIND = 2,
    PROMPT_REPLACE = 3,
    PROMPT_GOTO = 4,
};
// What a held left button drags: nothing, the text of pane 0 or 1 (a
// selection), or the divider between the panes.
enum DragMode : int32_t { DRAG_NONE = 0, DRAG_TEXT_TOP = 1, DRAG_TEXT_BOTTOM = 2, DRAG_DIVIDER = 3 };
constexpr char SAVE_FAILED_MESSAGE[] = "Error writing file, changes not saved!";

class CellEditor {
public:
    // Binds the editor to screen (may be null): owner, resize and mouse
    // handlers, one scroll-bar cell, the palette, a blank grid.
    explicit CellEditor(CellScreen* screen);
    // Detaches the screen, frees the document and its history, and stops
    // every running host_tick loop.
    virtual ~CellEditor();
    CellEditor(const CellEditor&) = delete;
    CellEditor& operator=(const CellEditor&) = delete;

    // Handles one key code; nonzero ends the host tick's loop for this tick.
    virtual int on_key(int code);
    virtual void on_context_click(HWND window);
    // Writes the document to file_path through a temporary file beside it
    // that replaces the file only when complete. 0 on success; 1 when
    // anything failed, the file and the modified state then unchanged.
    virtual int save();
    // Clamps the cursor, scrolls to show it (place in 0..1: put the cursor
    // line that far down the pane), draws the status and places the caret.
    virtual void ensure_cursor_visible(bool vertical, double place);
    // Loads path; when it cannot be read and initial_text is given, creates
    // the file with that text. 0 when loaded, 1 when the document was
    // started empty.
    virtual int open_file(const char* path, const char* initial_text);
    // Loads file_path again; 1 when it cannot be opened (nothing changes).
    virtual int reload(bool discard_undo);
    // Draws one document line where it is visible, or everything with -1.
    virtual void draw(int32_t line);
    virtual void select_line(int32_t line);
    // Skips spaces and tabs at *cursor and returns the run of other
    // characters that follows (its length in *length), leaving *cursor after
    // it; null at end.
    virtual const char* next_token(const char** cursor, const char* end, int32_t* length, int32_t* state);
    virtual LRESULT on_mouse(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    virtual int32_t find_in_line(const char* text, const char* line, int32_t start, bool backward,
                                 int32_t* length);
    virtual int32_t line_state(int32_t line);
    virtual void draw_line(int32_t row, const String& text, int32_t state, int32_t line);
    virtual void draw_title();
    virtual void draw_help_extra();
    // Called before (byte_count bytes about to change) and after (0) an edit
    // inside one line; true asks for a full redraw instead of the line.
    virtual bool line_changed(const String& text, size_t byte_offset, size_t byte_count);
    virtual int document_count();
    virtual CellEditor* document_at(int index);
    virtual bool create_document(const char* name);
    virtual void switch_document(int index, bool relative);
    virtual void before_close();

    // Document store and files (editor_file.cpp).
    // Appends the stream's text to the (emptied) lines: BOM, line ends, the
    // indentation survey and tab expansion; records the first snapshot.
    void load_text(FILE* stream);
    void start_empty();
    // Forgets the document and its history, and the way it was being
    // worked on (reset_interaction): the next load starts as the first did.
    void clear_document();
    // No prompt or message, no selection, no remembered column, no sideways
    // scroll, one pane scrolled to the top and no mouse drag. The find text
    // and the settings that every editor shares stay.
    void reset_interaction();
    // The bytes save() writes: every line with its end (CR LF when the file
    // had them), leading spaces turned back into tabs when save_tab_width
    // is set.
    std::string file_bytes() const;
    bool modified() const { return undo_pos != saved_pos; }
    bool find_prompt_open() const { return state == PROMPT_FIND; }
    int32_t line_count() const { return static_cast<int32_t>(lines.size()); }
    // The text of line, or an empty text when it does not exist.
    const String& line_text(int32_t line) const;

    // View (cell_editor.cpp).
    PaneLayout pane_layout() const;
    void draw_status();
    void draw_help_row();
    // Shows text on the help row until the next key.
    void show_message(const char* text);
    // True when the cursor line is one of the active pane's visible lines.
    bool cursor_in_view() const;
    // Shift, Ctrl and Alt as they were when the key being handled was
    // pressed: stored with a key that host_tick hands over, else read now.
    Modifiers key_modifiers() const;

    // Search, replace and go-to (editor_search.cpp).
    // Finds the next match of find_text (the previous one when backward),
    // wrapping around the document, selects it and reports it; or replaces
    // every match by replace_text as one undo step. Nothing without a find
    // text.
    void find_next(bool backward, bool replace_all);
    // Opens the find prompt, or the replace prompt (which needs a find
    // text); a non-empty selection on one line becomes the find text.
    void open_search_prompt(bool replace);
    void open_goto_prompt();
    // Edits target (the find, replacement or go-to text) with one key code
    // of an open prompt and redraws the prompt row.
    void prompt_key(int code, String& target);
    // Draws the open prompt on the last row, the caret after its text.
    void draw_prompt();

    // Keys (editor_keys.cpp).
    // Moves the cursor for a navigation code (4096 to 4103), Ctrl giving
    // the scroll, word and document variants; the selection's moving end
    // follows the cursor.
    void move_cursor(int code, bool ctrl);
    // Ctrl+P: two panes over the document, or one again.
    void toggle_split();
    // Ctrl+O: the other pane becomes active (splitting first).
    void other_pane();

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
    int32_t state = STATE_NORMAL;  // an EditorState
    int32_t selecting = 0;
    int32_t anchor_col = 0, anchor_line = 0;
    int32_t sel_col = 0, sel_line = 0;
    int32_t hscroll = 0;
    int32_t cursor_col = 0, cursor_line = 0;
    int32_t wanted_col = -1;
    int32_t drag_mode = DRAG_NONE;  // a DragMode
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
    void delete_selection_key();
    void prompt_state_key(int code);
    void go_to_line();
    void replace_all_matches();
    // Ends the selection before a move without Shift; false when the move
    // is done by that (the cursor went to the selection's start or end).
    bool end_selection_for_move(int code);
    LRESULT mouse_press(HWND window, UINT message, WPARAM wparam, int32_t x, int32_t y);
    void mouse_drag(int32_t x, int32_t y);
    void mouse_wheel(WPARAM wparam, int32_t x, int32_t y);
    bool open_link_at(HWND window, int pane, int32_t row, int32_t col);
    void draw_selection_on_row(int32_t row, int32_t line);
    void free_history();
    void restore_snapshot(const UndoSnapshot& snapshot, bool before);
    bool full_redraw_requested_ = false;
    bool key_in_hand_ = false;  // on_key is handling a key that host_tick took from the queue
    Modifiers key_in_hand_modifiers_;
    friend void host_tick(CellEditor* editor);
};

// One timer tick of a host: hands up to 16 queued keys of the editor's
// screen to its on_key, stopping early when on_key returns nonzero or
// destroys the editor. A host calls it every HOST_TICK_MS milliseconds.
void host_tick(CellEditor* editor);
constexpr UINT HOST_TICK_MS = 50;

