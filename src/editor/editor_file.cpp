// The editor's document store and its file: loading (line ends, byte-order
// mark, the indentation survey and tab expansion), saving through a
// temporary file that replaces the original only when complete, opening,
// reloading and clearing.
//
// User-interface thread only.
#include <cstdlib>
#include <cstring>

#include "editor/cell_editor.h"
#include "io/file_writer.h"
#include "io/platform.h"

#include "io/banned.h"

namespace {

constexpr size_t PIECE_BYTES = 4095;  // a line read into a 4096-byte buffer
constexpr int32_t SURVEY_START_WIDTH = 5;
constexpr int32_t SURVEY_MAX_SPACES = 7;
constexpr char SAVE_SUFFIX[] = ".velmora-save";

// Reads a stream in pieces of at most 4095 bytes that end after a line
// feed, as line reads would, but keeps zero bytes inside lines.
class PieceReader {
public:
    explicit PieceReader(FILE* stream) : stream_(stream) {}
    // The next piece's length (0 at the end of the file); bytes in piece.
    size_t next(char* piece) {
        size_t n = 0;
        while (n < PIECE_BYTES) {
            if (start_ == end_ && !fill()) break;
            const char byte = buffer_[start_++];
            piece[n++] = byte;
            if (byte == '\n') break;
        }
        return n;
    }

private:
    bool fill() {
        start_ = 0;
        end_ = std::fread(buffer_, 1, sizeof(buffer_), stream_);
        return end_ > 0;
    }
    FILE* stream_;
    char buffer_[65536];
    size_t start_ = 0;
    size_t end_ = 0;
};

// The running guess of the indentation step from the leading tabs and
// spaces of each line; it fails for good on a tab after spaces or more than
// seven spaces.
struct IndentSurvey {
    bool failed = false;
    bool tab_indented = false;
    int32_t width = SURVEY_START_WIDTH;

    void add(const String& line) {
        if (failed) return;
        const char* text = line.c_str();
        const size_t length = line.length();
        size_t at = 0;
        if (length && text[0] == '\t') {
            tab_indented = true;
            while (at < length && text[at] == '\t') ++at;
        }
        int32_t spaces = 0;
        while (at < length && text[at] == ' ') {
            ++at;
            ++spaces;
        }
        if ((at < length && text[at] == '\t') || spaces > SURVEY_MAX_SPACES) {
            failed = true;
        } else if (spaces + 1 > width) {
            width = spaces + 1;
        }
    }
};

void expand_tabs(String& line, int32_t width) {
    if (!std::memchr(line.c_str(), '\t', line.length())) return;
    String expanded;
    for (size_t i = 0; i < line.length(); ++i) {
        if (line.c_str()[i] == '\t') {
            for (int32_t n = 0; n < width; ++n) expanded.append_char(' ');
        } else {
            expanded.append_char(line.c_str()[i]);
        }
    }
    line = expanded;
}

}  // namespace

void CellEditor::load_text(FILE* stream) {
    PieceReader reader(stream);
    IndentSurvey survey;
    char piece[PIECE_BYTES + 1];
    String line;
    bool first = true;
    bool stop = false;
    size_t carriage_returns = 0;
    const size_t first_new = lines.size();
    while (!stop) {
        const size_t n = reader.next(piece);
        if (n) {
            line.append(piece, n);
            if (piece[n - 1] != '\n' && line.length() <= LOAD_LINE_LIMIT) continue;
        } else if (line.empty()) {
            break;
        } else {
            stop = true;  // the last line has no line feed
        }
        if (first) {
            first = false;
            if (line.length() >= 3 && std::memcmp(line.c_str(), "\xEF\xBB\xBF", 3) == 0) {
                if (line.length() == 3) break;
                String rest;
                rest.set(line.c_str() + 3, line.length() - 3);
                line = rest;
            }
        }
        size_t length = line.length();
        while (length && (line.c_str()[length - 1] == '\n' || line.c_str()[length - 1] == '\r')) {
            if (line.c_str()[length - 1] == '\r') ++carriage_returns;
            --length;
        }
        line.truncate(length);
        auto stored = std::make_unique<String>(line);
        survey.add(*stored);
        lines.push_back(std::move(stored));
        line.clear();
    }
    if (!survey.failed && survey.tab_indented) {
        tab_width = survey.width;
        save_tab_width = survey.width;
    } else {
        save_tab_width = 0;
    }
    for (size_t i = first_new; i < lines.size(); ++i) expand_tabs(*lines[i], tab_width);
    crlf = carriage_returns > (lines.size() - first_new) / 2 ? 1 : 0;
    commit_edit();
    saved_pos = undo_pos;
}

void CellEditor::start_empty() {
    commit_edit();
    saved_pos = undo_pos;
}

void CellEditor::clear_document() {
    lines.clear();
    free_history();
    undo_pos = -1;
    saved_pos = -1;
    cursor_line = 0;
    cursor_col = 0;
    reset_interaction();
}

void CellEditor::reset_interaction() {
    if (drag_mode != DRAG_NONE && screen && screen->window && GetCapture() == screen->window) ReleaseCapture();
    state = STATE_NORMAL;
    prompt_typed = 0;
    selecting = 0;
    wanted_col = -1;
    hscroll = 0;
    split = 1.0;
    active_pane = 0;
    pane_scroll[0] = pane_scroll[1] = 0;
    drag_mode = DRAG_NONE;
    drag_offset = 0;
    last_status_len = 0;
}

int CellEditor::open_file(const char* path, const char* initial_text) {
    file_path.set(path);
    lines.clear();
    FILE* stream = open_stream(path, "rb");
    if (stream) {
        load_text(stream);
        std::fclose(stream);
        return 0;
    }
    if (initial_text) {
        stream = open_stream(path, "w+b");
        if (stream) {
            std::fwrite(initial_text, 1, std::strlen(initial_text), stream);
            std::fseek(stream, 0, SEEK_SET);
            load_text(stream);
            std::fclose(stream);
            return 0;
        }
    }
    start_empty();
    return 1;
}

int CellEditor::reload(bool discard_undo) {
    FILE* stream = open_stream(file_path.c_str(), "rb");
    if (!stream) return 1;
    if (discard_undo) {
        free_history();
        undo_pos = -1;
    } else {
        begin_edit();
    }
    lines.clear();
    load_text(stream);
    std::fclose(stream);
    return 0;
}

std::string CellEditor::file_bytes() const {
    std::string bytes;
    for (const auto& line : lines) {
        const char* text = line->c_str();
        size_t length = line->length();
        if (save_tab_width > 0 && length) {
            const size_t step = static_cast<size_t>(save_tab_width);
            size_t spaces = 0;
            while (spaces < length && text[spaces] == ' ') ++spaces;
            bytes.append(spaces / step, '\t');
            text += spaces / step * step;
            length -= spaces / step * step;
        }
        bytes.append(text, length);
        if (crlf) bytes.push_back('\r');
        bytes.push_back('\n');
    }
    return bytes;
}

int CellEditor::save() {
    if (file_path.empty()) return 1;
    // A read-only file is refused, as opening it for writing would be.
    const DWORD attributes = file_attributes(file_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return 1;
    const String temporary = concat(file_path.c_str(), SAVE_SUFFIX);
    const std::string bytes = file_bytes();
    {
        FileWriter writer(temporary.c_str());
        if (!writer.is_open()) return 1;
        writer.write(bytes.data(), bytes.size());
        const bool complete = writer.close() && !writer.failed() && writer.bytes_written() == bytes.size();
        if (!complete) {
            delete_file(temporary.c_str());
            return 1;
        }
    }
    if (!move_file_replacing(temporary.c_str(), file_path.c_str(), true)) {
        delete_file(temporary.c_str());
        return 1;
    }
    saved_pos = undo_pos;
    return 0;
}

