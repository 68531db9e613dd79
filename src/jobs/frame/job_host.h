// What the end of a job needs from the program that runs it: telling the
// user, asking where to save, showing a folder. Whoever creates the job
// record fills it in (the program with its dialogs; velmora-cli and tests
// leave it empty and read the outcome themselves). The functions are
// called on the worker thread; a null one does nothing.
#pragma once

#include <string>

struct ArchiveJob;

struct JobHost {
    void* context = nullptr;
    // Shows text (what the job could not do, or a move that failed).
    void (*report)(void* context, const ArchiveJob& job, const std::string& text) = nullptr;
    // Asks where to save the archive just made, of the kind extension_word
    // ("tzst" or "zip"); "" when the user cancelled.
    std::string (*choose_save_path)(void* context, const ArchiveJob& job, const char* extension_word) = nullptr;
    // Opens the file manager on folder.
    void (*show_folder)(void* context, const char* folder) = nullptr;
    // Closes, as Escape would, whatever the host shows on the worker thread
    // (worker_thread_id); called over and over while the job is being ended,
    // from the thread that ends it.
    void (*dismiss)(void* context, unsigned long worker_thread_id) = nullptr;
};
