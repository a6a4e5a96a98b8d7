#include "tests/e2e/desktop.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

namespace e2e {

namespace {

constexpr DWORD POLL_MS = 30;
constexpr int MESSAGE_TEXT_ID = 0xFFFF;  // the text of a message box

BOOL CALLBACK collect(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> top_windows(DWORD pid)
{
    std::vector<HWND> all, mine;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
    for (HWND w : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && IsWindowVisible(w)) mine.push_back(w);
    }
    return mine;
}

std::string class_of(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool is_kind(HWND window, Shown kind)
{
    if (class_of(window) != "#32770") return false;
    switch (kind) {
    case Shown::confirm:
        return GetDlgItem(window, 1000) != nullptr;
    case Shown::box: {
        HWND text = GetDlgItem(window, MESSAGE_TEXT_ID);
        return text && class_of(text) == "Static" && !GetDlgItem(window, 1000);
    }
    case Shown::browser:
        return FindWindowExA(window, nullptr, "SysTreeView32", nullptr) != nullptr;
    }
    return false;
}

// Polls `ready` until it holds, the process ends or the time runs out.
template <class Ready>
bool poll(HANDLE process, DWORD timeout_ms, Ready ready)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return ready();
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(POLL_MS);
    }
}

}  // namespace

Program::Program(const std::string &exe)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_))
        process_ = {};
}

Program::~Program()
{
    if (!started()) return;
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

HWND Program::find(Shown kind, HWND except) const
{
    for (HWND w : top_windows(pid()))
        if (w != except && is_kind(w, kind)) return w;
    return nullptr;
}

HWND Program::wait_for(Shown kind, DWORD timeout_ms) const
{
    if (!started()) return nullptr;
    HWND found = nullptr;
    poll(process_.hProcess, timeout_ms, [&] { return (found = find(kind, nullptr)) != nullptr; });
    return found;
}

bool Program::wait_gone(HWND window, DWORD timeout_ms) const
{
    return poll(process_.hProcess, timeout_ms, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

bool Program::ends_showing_nothing(DWORD *code, HWND except, DWORD timeout_ms) const
{
    *code = STILL_ACTIVE;
    if (!started()) return false;
    bool showed = false;
    const bool ended = poll(process_.hProcess, timeout_ms, [&] {
        for (HWND w : top_windows(pid()))
            if (w != except && class_of(w) == "#32770") showed = true;
        return showed || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
    });
    GetExitCodeProcess(process_.hProcess, code);
    return ended && !showed;
}

bool Program::wait_end(DWORD *code, DWORD timeout_ms) const
{
    *code = STILL_ACTIVE;
    if (!started()) return false;
    const bool ended = WaitForSingleObject(process_.hProcess, timeout_ms) == WAIT_OBJECT_0;
    GetExitCodeProcess(process_.hProcess, code);
    return ended;
}

std::string window_text(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string item_text(HWND dialog, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool has_static_text(HWND dialog, const std::string &text)
{
    struct Search {
        const std::string *text;
        bool found;
    } search{&text, false};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM data) CALLBACK -> BOOL {
            auto *s = reinterpret_cast<Search *>(data);
            if (class_of(child) == "Static" && item_text(GetParent(child), GetDlgCtrlID(child)) == *s->text)
                s->found = true;
            return !s->found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool choose_top_folder(HWND browser)
{
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    if (!tree) return false;
    // Item handles are opaque values here; the tree only hands them back.
    const LRESULT top = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    return top && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, top);
}

void click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void press_key(HWND dialog, WPARAM key)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus)
        target = gui.hwndFocus;
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), 0);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void close_box(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

}  // namespace e2e
