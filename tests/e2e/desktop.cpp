#include "tests/e2e/desktop.h"

#include <commctrl.h>

#include <vector>

namespace e2e {

namespace {

constexpr DWORD TIMEOUT_MS = 30000;

std::vector<HWND> top_windows(DWORD pid)
{
    std::vector<HWND> all, mine;
    EnumWindows([](HWND w, LPARAM list) CALLBACK -> BOOL { return reinterpret_cast<std::vector<HWND> *>(list)->push_back(w), TRUE; },
                reinterpret_cast<LPARAM>(&all));
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
    HWND text = GetDlgItem(window, 0xFFFF);
    switch (kind) {
    case Shown::confirm: return GetDlgItem(window, 1000) != nullptr;
    case Shown::box: return text && class_of(text) == "Static" && !GetDlgItem(window, 1000);
    case Shown::browser: return FindWindowExA(window, nullptr, "SysTreeView32", nullptr) != nullptr;
    }
    return false;
}

// Polls `ready` until it holds, the process ends or the time runs out.
template <class Ready>
bool poll(HANDLE process, Ready ready)
{
    for (const DWORD start = GetTickCount();; Sleep(30)) {
        if (ready()) return true;
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return ready();
        if (GetTickCount() - start > TIMEOUT_MS) return false;
    }
}

}  // namespace

Program::Program(const std::string &exe)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
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

HWND Program::wait_for(Shown kind) const
{
    HWND found = nullptr;
    if (started())
        poll(process_.hProcess, [&] {
            for (HWND w : top_windows(process_.dwProcessId))
                if (is_kind(w, kind)) return (found = w) != nullptr;
            return false;
        });
    return found;
}

bool Program::wait_gone(HWND window) const
{
    return poll(process_.hProcess, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

bool Program::ends_showing_nothing(DWORD *code, HWND except) const
{
    bool showed = false;
    const bool ended = started() && poll(process_.hProcess, [&] {
        for (HWND w : top_windows(process_.dwProcessId)) showed |= w != except && class_of(w) == "#32770";
        return showed || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
    });
    *code = STILL_ACTIVE;
    if (started()) GetExitCodeProcess(process_.hProcess, code);
    return ended && !showed;
}

void Program::kill() const
{
    if (!started()) return;
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
}

bool Program::wait_end(DWORD *code) const
{
    *code = STILL_ACTIVE;
    const bool ended = started() && WaitForSingleObject(process_.hProcess, TIMEOUT_MS) == WAIT_OBJECT_0;
    if (started()) GetExitCodeProcess(process_.hProcess, code);
    return ended;
}

std::string utf8(const std::string &text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size())));
    std::string out(wide.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), static_cast<int>(out.size()),
                                   nullptr, nullptr));
    return out;
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

std::wstring window_wide(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring item_wide(HWND dialog, int id)
{
    wchar_t text[1024] = L"";
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

bool has_static_text(HWND dialog, const std::string &text)
{
    std::pair<const std::string *, bool> search{&text, false};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM data) CALLBACK -> BOOL {
            auto *s = reinterpret_cast<std::pair<const std::string *, bool> *>(data);
            s->second = class_of(child) == "Static" && item_text(GetParent(child), GetDlgCtrlID(child)) == *s->first;
            return !s->second;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

bool choose_top_folder(HWND browser)
{
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    // Item handles are opaque values here; the tree only hands them back.
    const LRESULT top = tree ? SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0) : 0;
    return top && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, top);
}

void click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void press_key(HWND dialog, WPARAM key)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND target = GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus ? gui.hwndFocus : dialog;
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), 0);
    PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void close_box(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

}  // namespace e2e
