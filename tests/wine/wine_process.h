// Running Windows programs from a Wine test and seeing what they did.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Whole files (ReadWholeFile, WriteWholeFile, FileText), shared with the
// native tests.
#include "tests/support/files.h"

// Runs `commandLine` (program first, quoted as needed) with CreateProcessW,
// waits for it, and delivers its stdout (stderr stays the test's) and its
// full 32-bit exit code. False, with `*output` holding the reason, when the
// program could not be started.
// `application`, when not empty, names the program file itself (e.g. a
// \\?\ path, which the command line's search cannot take).
bool RunProgram(const std::wstring& commandLine, std::string* output, uint32_t* exitCode,
                const std::wstring& application = std::wstring());

// The folder of the build's test tools (run_exit_code.exe, exit_with.exe),
// with a trailing backslash.
std::wstring ToolsDirectory();

// Widens ASCII/ANSI text (code page of the process).
std::wstring Widen(const std::string& text);

// Narrows `text` to `codePage` (the process's ANSI code page by default).
std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP);

// The visible top-level dialogs (message boxes, the folder browser) that
// process `processId` shows now.
std::vector<HWND> VisibleDialogsOf(DWORD processId);
