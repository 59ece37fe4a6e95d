#include "tests/wine/browser_driver.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "tests/wine/wine_process.h"

namespace {

constexpr UINT_PTR kOpenedTimer = 1;
constexpr UINT kOpenedDelayMs = 50;
constexpr UINT_PTR kAnswerTimer = 2;
constexpr UINT kAnswerRetryMs = 100;
constexpr int kAnswerTries = 5;

// A folder as the browser is asked for it: a path, or an item ID list.
struct Target {
  bool isPath = false;
  std::wstring path;
  std::vector<BYTE> items;  // a whole ITEMIDLIST, terminator included
};

struct Answering {
  BrowserAnswer answer;
  int tries = 0;
};

struct WatchState {
  std::function<void(HWND)> onDialog;
  std::map<HWND, Target> requested;  // what the program asked each browser to select
  std::map<HWND, Answering> answering;
};
WatchState* watch = nullptr;

std::vector<BYTE> CopyItems(LPCITEMIDLIST items) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(items);
  return std::vector<BYTE>(bytes, bytes + ILGetSize(items));
}

Target PathTarget(const std::string& path) {
  Target target;
  target.isPath = true;
  target.path = Widen(path);
  return target;
}

Target MyComputerTarget() {
  Target target;
  LPITEMIDLIST computer = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)) && computer) {
    target.items = CopyItems(computer);
    CoTaskMemFree(computer);
  }
  return target;
}

std::string Describe(const Target& target) { return target.isPath ? Narrow(target.path, CP_UTF8) : "an item ID list"; }

// The target's items, from the desktop down, as the shell parses its path.
bool ItemsOf(const Target& target, std::vector<BYTE>* items) {
  if (!target.isPath) {
    *items = target.items;
    return !items->empty();
  }
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop))) return false;
  std::wstring path = target.path;
  LPITEMIDLIST parsed = nullptr;
  const HRESULT parsedResult = desktop->ParseDisplayName(nullptr, nullptr, &path[0], nullptr, &parsed, nullptr);
  desktop->Release();
  if (FAILED(parsedResult) || !parsed) return false;
  *items = CopyItems(parsed);
  CoTaskMemFree(parsed);
  return true;
}

// The names the browser's tree shows for the target's items below the
// desktop, which is the tree's root: the names the shell gives each item in
// its parent folder.
bool ShownNames(const Target& target, std::vector<std::wstring>* names) {
  std::vector<BYTE> items;
  if (!ItemsOf(target, &items)) return false;
  names->clear();
  IShellFolder* folder = nullptr;
  if (FAILED(SHGetDesktopFolder(&folder))) return false;
  bool named = true;
  for (size_t at = 0; named && at + sizeof(USHORT) <= items.size();) {
    const SHITEMID* id = reinterpret_cast<const SHITEMID*>(&items[at]);
    if (id->cb == 0) break;
    std::vector<BYTE> one(id->cb + sizeof(USHORT), 0);  // this item alone, relative to its parent
    std::memcpy(one.data(), id, id->cb);
    const auto child = reinterpret_cast<LPCITEMIDLIST>(one.data());
    STRRET name;
    WCHAR text[MAX_PATH] = L"";
    named = SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_NORMAL, &name)) &&
            SUCCEEDED(StrRetToBufW(&name, child, text, MAX_PATH));
    if (!named) break;
    names->push_back(text);
    at += id->cb;
    if (at + sizeof(USHORT) < items.size()) {
      IShellFolder* inner = nullptr;
      named = SUCCEEDED(folder->BindToObject(child, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&inner)));
      folder->Release();
      folder = named ? inner : nullptr;
    }
  }
  if (folder) folder->Release();
  return named;
}

BOOL CALLBACK FindTree(HWND child, LPARAM found) {
  WCHAR className[32] = L"";
  GetClassNameW(child, className, 32);
  if (lstrcmpW(className, WC_TREEVIEWW) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

HWND TreeOf(HWND browser) {
  HWND tree = nullptr;
  EnumChildWindows(browser, FindTree, reinterpret_cast<LPARAM>(&tree));
  return tree;
}

HTREEITEM NextItem(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

std::wstring TextOf(HWND tree, HTREEITEM item) {
  WCHAR text[MAX_PATH] = L"";
  TVITEMW data = {};
  data.mask = TVIF_TEXT;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

// The names from the root's child down to the selected item: empty when the
// root itself is selected.
bool SelectedNames(HWND tree, std::vector<std::wstring>* names) {
  names->clear();
  HTREEITEM item = NextItem(tree, TVGN_CARET, nullptr);
  if (!item) return false;
  for (HTREEITEM parent; (parent = NextItem(tree, TVGN_PARENT, item)) != nullptr; item = parent)
    names->insert(names->begin(), TextOf(tree, item));
  return true;
}

std::string Join(const std::vector<std::wstring>& names) {
  std::string joined;
  for (const std::wstring& name : names) joined += (joined.empty() ? "" : " > ") + Narrow(name, CP_UTF8);
  return joined.empty() ? "the tree's root" : joined;
}

// Selects the item with these names as a user would: opening each level of
// the tree and clicking the next name.
bool SelectThroughTree(HWND tree, const std::vector<std::wstring>& names) {
  HTREEITEM item = NextItem(tree, TVGN_ROOT, nullptr);
  for (const std::wstring& name : names) {
    if (!item) return false;
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    HTREEITEM child = NextItem(tree, TVGN_CHILD, item);
    while (child && TextOf(tree, child) != name) child = NextItem(tree, TVGN_NEXT, child);
    item = child;
  }
  return item && SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void AskBrowserToSelect(HWND browser, const Target& target) {
  if (target.isPath) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(target.path.c_str()));
  } else if (!target.items.empty()) {
    SendMessageW(browser, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(target.items.data()));
  }
}

// Sent, not posted: Wine's browser loop takes seconds to see a posted command.
void Press(HWND browser, int button) {
  KillTimer(browser, kAnswerTimer);
  if (watch) {
    watch->answering.erase(browser);
    watch->requested.erase(browser);
  }
  SendMessageW(browser, WM_COMMAND, button, 0);
}

VOID CALLBACK AnswerTick(HWND browser, UINT, UINT_PTR, DWORD);

// One try: select the answer's folder, and press OK once the browser shows it
// selected. The first try asks the browser (BFFM_SETSELECTION), as a program
// does; later ones click through the tree. Wine's browser finds a requested
// folder by comparing its item IDs byte for byte with those its tree made
// when it listed the folder's parent, last-access time included: a folder
// that a listing touched in between (a fresh one, on a slow machine) is then
// not found, and the request changes nothing however often it is repeated.
void TryAnswer(HWND browser) {
  if (!watch || !watch->answering.count(browser)) return;
  Answering& state = watch->answering[browser];
  ++state.tries;
  Target target;
  if (state.answer.kind == BrowserAnswer::Choose) {
    target = PathTarget(state.answer.path);
  } else if (state.answer.kind == BrowserAnswer::ChooseMyComputer) {
    target = MyComputerTarget();
  } else if (watch->requested.count(browser)) {
    target = watch->requested[browser];
  } else {
    // The program asked for no start folder: there is nothing to confirm.
    Press(browser, IDOK);
    return;
  }
  std::vector<std::wstring> wanted;
  if (!ShownNames(target, &wanted)) {
    ADD_FAILURE() << "the shell finds no folder " << Describe(target) << " to select in the folder browser";
    Press(browser, IDCANCEL);
    return;
  }
  const HWND tree = TreeOf(browser);
  if (state.tries == 1) {
    // A start folder that the program asked for has been requested already.
    if (state.answer.kind != BrowserAnswer::KeepDefault) AskBrowserToSelect(browser, target);
  } else {
    SelectThroughTree(tree, wanted);
  }
  std::vector<std::wstring> shown;
  const bool selected = SelectedNames(tree, &shown);
  if (selected && shown == wanted) {
    Press(browser, IDOK);
  } else if (state.tries < kAnswerTries) {
    SetTimer(browser, kAnswerTimer, kAnswerRetryMs, AnswerTick);
  } else {
    ADD_FAILURE() << "the folder browser did not show " << Describe(target) << " (" << Join(wanted)
                  << ") selected after " << state.tries << " tries; it shows "
                  << (selected ? Join(shown) : "no selection");
    Press(browser, IDCANCEL);
  }
}

VOID CALLBACK AnswerTick(HWND browser, UINT, UINT_PTR, DWORD) {
  KillTimer(browser, kAnswerTimer);
  TryAnswer(browser);
}

VOID CALLBACK DialogOpened(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  if (watch && watch->onDialog) watch->onDialog(dialog);
}

LRESULT CALLBACK WatchCreated(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && watch) {
    HWND window = reinterpret_cast<HWND>(wParam);
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    WCHAR className[16] = L"";
    GetClassNameW(window, className, 16);
    if (!(create->style & WS_CHILD) && lstrcmpW(className, L"#32770") == 0)
      SetTimer(window, kOpenedTimer, kOpenedDelayMs, DialogOpened);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Notes the program's own selection requests, made before the browser is
// answered (its start folder, from BFFM_INITIALIZED).
LRESULT CALLBACK WatchSent(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && watch) {
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    const bool request = sent->message == BFFM_SETSELECTIONA || sent->message == BFFM_SETSELECTIONW;
    if (request && sent->lParam && !watch->answering.count(sent->hwnd) && TreeOf(sent->hwnd)) {
      Target target;
      if (!sent->wParam) {
        target.items = CopyItems(reinterpret_cast<LPCITEMIDLIST>(sent->lParam));
      } else {
        target.isPath = true;
        target.path = sent->message == BFFM_SETSELECTIONW ? std::wstring(reinterpret_cast<LPCWSTR>(sent->lParam))
                                                          : Widen(reinterpret_cast<const char*>(sent->lParam));
      }
      watch->requested[sent->hwnd] = std::move(target);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

DialogWatch::DialogWatch(std::function<void(HWND dialog)> onDialog) {
  watch = new WatchState{std::move(onDialog), {}, {}};
  created_ = SetWindowsHookExW(WH_CBT, WatchCreated, nullptr, GetCurrentThreadId());
  sent_ = SetWindowsHookExW(WH_CALLWNDPROC, WatchSent, nullptr, GetCurrentThreadId());
}

DialogWatch::~DialogWatch() {
  UnhookWindowsHookEx(sent_);
  UnhookWindowsHookEx(created_);
  delete watch;
  watch = nullptr;
}

bool IsFolderBrowser(HWND dialog) { return TreeOf(dialog) != nullptr; }

void AnswerFolderBrowser(HWND browser, const BrowserAnswer& answer) {
  if (answer.kind == BrowserAnswer::Cancel || !watch) {
    Press(browser, IDCANCEL);
    return;
  }
  watch->answering[browser] = Answering{answer, 0};
  TryAnswer(browser);
}
