// Answering the shell's real folder browser from the test's own thread, the
// way a user would: a thread-local CBT hook sees each dialog being created
// and sets a timer on it, whose procedure runs inside the dialog's modal loop;
// there the browser is given its answer, and OK is pressed only once the
// browser shows the wanted folder selected.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct BrowserAnswer {
  enum Kind {
    Choose,            // the folder at `path`
    ChooseMyComputer,  // an item without a file system path
    KeepDefault,       // OK on the folder the program asked the browser to start at
    Cancel,
  } kind;
  std::string path;
};

// While it lives, hands each top-level dialog this thread creates to
// `onDialog`, shortly after the dialog is created and from inside its modal
// loop. It also notes the folder a program asks a dialog to select
// (BFFM_SETSELECTION), which is what a KeepDefault answer confirms. One at a
// time per process.
class DialogWatch {
 public:
  explicit DialogWatch(std::function<void(HWND dialog)> onDialog);
  ~DialogWatch();
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;

 private:
  HHOOK created_;
  HHOOK sent_;
};

// Whether `dialog` is the folder browser: the dialog with a tree of folders.
bool IsFolderBrowser(HWND dialog);

// Gives `answer` to `browser`, a dialog that a DialogWatch handed over, and
// returns; the rest runs on timer ticks inside the browser's modal loop. A
// browser that never shows the wanted folder selected within a few ticks
// fails the test, saying what it shows instead, and is cancelled.
void AnswerFolderBrowser(HWND browser, const BrowserAnswer& answer);
