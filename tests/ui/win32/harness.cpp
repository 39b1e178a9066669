// The stand-in host and the driver's tools (see harness.h).
#include "harness.h"

#include <commctrl.h>
#include <ole2.h>
#include <wininet.h>

#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace uitest {

namespace {

// Safety limit for anything the driver waits for. Generous: wine under a
// loaded machine can take seconds to bring up a window.
const DWORD kWaitLimitMs = 30000;

template <class Pred>
bool WaitUntil(Pred pred, DWORD limitMs = kWaitLimitMs) {
    for (DWORD waited = 0;; waited += 20) {
        if (pred()) return true;
        if (waited >= limitMs) return false;
        Sleep(20);
    }
}

// ---- the host's settings store and callback --------------------------------

struct StoreState {
    std::mutex m;
    std::map<std::string, std::string> values;
    std::vector<std::string> log;
} g_store;

std::string Text(intptr_t p) {
    return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
}

void CopyOut(intptr_t* w, const std::string& text) {
    char* buf = reinterpret_cast<char*>(w[4]);
    size_t cap = static_cast<size_t>(w[8]);
    size_t n = text.size() < cap ? text.size() : cap;
    std::memcpy(buf, text.data(), n);
    buf[n] = 0;
}

int32_t __stdcall HostCallback(uint32_t code, intptr_t first, intptr_t second) {
    std::lock_guard<std::mutex> g(g_store.m);
    intptr_t* w = reinterpret_cast<intptr_t*>(first);
    switch (code) {
        case 5: {  // write
            const std::string key = Text(w[0]) + "/" + Text(w[1]);
            g_store.values[key] = w[2] == 1 ? std::to_string(static_cast<int32_t>(w[4])) : Text(w[4]);
            return 1;
        }
        case 6: {  // read
            const std::string key = Text(w[0]) + "/" + Text(w[1]);
            auto it = g_store.values.find(key);
            if (w[2] == 1)
                w[4] = it != g_store.values.end() ? std::atoi(it->second.c_str()) : w[6];
            else
                CopyOut(w, it != g_store.values.end() ? it->second : Text(w[6]));
            return 1;
        }
        case 7:
            g_store.log.push_back(Text(second));
            return 1;
        case 9:
            g_store.log.push_back("notify " + std::to_string(static_cast<int32_t>(first)));
            return 1;
    }
    return 0;
}

struct ThreadWindows {
    std::string caption;
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindInThread(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<ThreadWindows*>(lp);
    char cls[32] = {0}, text[256] = {0};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(hwnd) && s->caption == text &&
        (!s->owner || GetWindow(hwnd, GW_OWNER) == s->owner)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND Item(HWND dlg, int id) {
    return GetDlgItem(dlg, id);
}

}  // namespace

std::string WinPath(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string Env(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// ---- host -----------------------------------------------------------------

Host& TheHost() {
    static Host host;
    return host;
}

bool Host::Start(const std::string& modulePath) {
    std::promise<bool> loaded;
    std::future<bool> result = loaded.get_future();
    m_thread = std::thread(&Host::Run, this, modulePath, std::move(loaded));
    return result.get();
}

void Host::Run(std::string path, std::promise<bool> loaded) {
    // A host is a GUI program with COM set up on its thread (the folder
    // browser needs it).
    OleInitialize(nullptr);
    m_tid = GetCurrentThreadId();
    m_module = LoadLibraryA(path.c_str());
    if (m_module)
        m_handler = reinterpret_cast<Handler>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "_vdtPlugInMsgHandler@12")));
    loaded.set_value(m_handler != nullptr);
    for (;;) {
        std::packaged_task<int32_t()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return m_quit || !m_tasks.empty(); });
            if (m_tasks.empty()) break;
            task = std::move(m_tasks.front());
            m_tasks.pop();
        }
        task();
    }
    if (m_module) FreeLibrary(m_module);
    OleUninitialize();
}

void Host::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

std::future<int32_t> Host::Enqueue(std::function<int32_t()> fn) {
    std::packaged_task<int32_t()> task(std::move(fn));
    std::future<int32_t> f = task.get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push(std::move(task));
    }
    m_cv.notify_all();
    return f;
}

std::future<int32_t> Host::Post(uint32_t msg, intptr_t p, int32_t a) {
    return Enqueue([this, msg, p, a] { return m_handler(msg, p, a); });
}

int32_t Host::Send(uint32_t msg, intptr_t p, int32_t a) {
    return Post(msg, p, a).get();
}

std::map<std::string, std::string> Host::Store() {
    std::lock_guard<std::mutex> g(g_store.m);
    return g_store.values;
}

void Host::SetStore(const std::map<std::string, std::string>& values) {
    std::lock_guard<std::mutex> g(g_store.m);
    g_store.values = values;
}

std::vector<std::string> Host::LogLines() {
    std::lock_guard<std::mutex> g(g_store.m);
    return g_store.log;
}

void Host::LoadSettings() {
    Send(3, reinterpret_cast<intptr_t>(&HostCallback));
    Send(28, 0);
    Send(7);
}

// ---- windows ----------------------------------------------------------------

HWND FindDialog(const std::string& caption, HWND owner) {
    ThreadWindows s{caption, owner, nullptr};
    EnumThreadWindows(TheHost().ThreadId(), FindInThread, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitDialog(const std::string& caption, HWND owner, unsigned limitMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(caption, owner)) != nullptr; }, limitMs);
    if (found) SendMessageA(found, WM_NULL, 0, 0);  // its initialisation has run
    return found;
}

bool WaitGone(HWND hwnd) {
    return WaitUntil([&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); });
}

std::string MessageBoxText(HWND box) {
    // The text is the box's longest static that is not the icon.
    std::string best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {0};
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") != 0 || (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            continue;
        char text[2048] = {0};
        GetWindowTextA(c, text, sizeof text);
        if (std::strlen(text) > best.size()) best = text;
    }
    return best;
}

std::string AnswerMessageBox(HWND owner, const std::string& shot, unsigned limitMs) {
    HWND box = WaitDialog("Lumora", owner, limitMs);
    if (!box) return "<no message box>";
    std::string text = MessageBoxText(box);
    if (!shot.empty()) Screenshot(box, shot);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    WaitGone(box);
    // Let the dialog finish the command that showed the box.
    if (IsWindow(owner)) SendMessageA(owner, WM_NULL, 0, 0);
    return text;
}

void PostClick(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(dlg, id)));
}

void Click(HWND dlg, int id) {
    SendMessageA(Item(dlg, id), BM_CLICK, 0, 0);
}

void SetText(HWND dlg, int id, const std::string& text) {
    SendMessageA(Item(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string GetText(HWND dlg, int id) {
    char buf[4096] = {0};
    SendMessageA(Item(dlg, id), WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

bool Checked(HWND dlg, int id) {
    return SendMessageA(Item(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Enabled(HWND dlg, int id) {
    return IsWindowEnabled(Item(dlg, id)) != FALSE;
}

void SelectCombo(HWND dlg, int id, int index) {
    SendMessageA(Item(dlg, id), CB_SETCURSEL, index, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(dlg, id)));
}

int ComboSelection(HWND dlg, int id) {
    return static_cast<int>(SendMessageA(Item(dlg, id), CB_GETCURSEL, 0, 0));
}

std::vector<std::string> ComboItems(HWND dlg, int id) {
    std::vector<std::string> out;
    int n = static_cast<int>(SendMessageA(Item(dlg, id), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char buf[1024] = {0};
        SendMessageA(Item(dlg, id), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
        out.push_back(buf);
    }
    return out;
}

int ListCount(HWND dlg, int id) {
    return static_cast<int>(SendMessageA(Item(dlg, id), LVM_GETITEMCOUNT, 0, 0));
}

std::string ListText(HWND dlg, int id, int row, int column) {
    char buf[1024] = {0};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    SendMessageA(Item(dlg, id), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buf;
}

bool ListChecked(HWND dlg, int id, int row) {
    UINT state = static_cast<UINT>(SendMessageA(Item(dlg, id), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void SetListChecked(HWND dlg, int id, int row, bool on) {
    LVITEMA item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
    SendMessageA(Item(dlg, id), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void SelectListRow(HWND dlg, int id, int row) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Item(dlg, id), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void PostListDoubleClick(HWND dlg, int id, int row) {
    HWND list = Item(dlg, id);
    int count = ListCount(dlg, id);
    RECT rc = {};
    int x = 60, y = 30;
    if (count > 0) {
        rc.left = LVIR_LABEL;
        SendMessageA(list, LVM_GETITEMRECT, row >= 0 ? row : count - 1, reinterpret_cast<LPARAM>(&rc));
        x = (rc.left + rc.right) / 2;
        y = row >= 0 ? (rc.top + rc.bottom) / 2 : rc.bottom + 2 * (rc.bottom - rc.top);
    }
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

HWND FocusedControl() {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(TheHost().ThreadId(), &gti)) return nullptr;
    return gti.hwndFocus;
}

bool WholeTextSelected(HWND edit) {
    DWORD start = 1, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return start == 0 && end == static_cast<DWORD>(GetWindowTextLengthA(edit));
}

void Screenshot(HWND hwnd, const std::string& name) {
    const std::string dir = Env("LUMORA_SCREENSHOT_DIR");
    if (dir.empty() || !hwnd) return;
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_ERASE);
    SendMessageA(hwnd, WM_NULL, 0, 0);
    char caption[256] = {0};
    GetWindowTextA(hwnd, caption, sizeof caption);
    const std::string base = WinPath(dir) + "\\" + name;
    DeleteFileA((base + ".done").c_str());
    WriteFile(base + ".tmp", caption);
    MoveFileExA((base + ".tmp").c_str(), (base + ".req").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!WaitUntil([&] { return FileExists(base + ".done"); }))
        std::fprintf(stderr, "screenshot %s: the wrapper did not answer\n", name.c_str());
    DeleteFileA((base + ".done").c_str());
}

// ---- the stand-in service -----------------------------------------------

std::string ServiceUrl() {
    std::string url = ReadFile(WinPath(Env("LUMORA_TEST_SERVICE_DIR")) + "\\url");
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r' || url.back() == ' ')) url.pop_back();
    return url;
}

HttpAnswer Http(const std::string& method, const std::string& url, const std::string& body) {
    HttpAnswer answer;
    char host[256] = {0}, path[4096] = {0};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return answer;
    HINTERNET inet = InternetOpenA("lumora-ui-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET conn = InternetConnectA(inet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET req = HttpOpenRequestA(conn, method.c_str(), path, nullptr, nullptr, nullptr,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    const char headers[] = "Content-Type: application/json\r\n";
    if (req && HttpSendRequestA(req, headers, static_cast<DWORD>(std::strlen(headers)),
                                const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
        DWORD status = 0, size = sizeof status;
        HttpQueryInfoA(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        answer.status = static_cast<int>(status);
        char buf[8192];
        DWORD got = 0;
        while (InternetReadFile(req, buf, sizeof buf, &got) && got > 0) answer.body.append(buf, got);
    }
    if (req) InternetCloseHandle(req);
    if (conn) InternetCloseHandle(conn);
    if (inet) InternetCloseHandle(inet);
    return answer;
}

void ResetService() {
    Http("POST", ServiceUrl() + "/_control/reset");
}

void SetFaults(const std::string& rulesJson) {
    Http("POST", ServiceUrl() + "/_control/faults", rulesJson);
}

std::vector<std::string> ServiceRequests() {
    std::vector<std::string> urls;
    Json::Value root;
    Json::Reader reader;
    if (!reader.parse(Http("GET", ServiceUrl() + "/_control/log").body, root) || !root.isArray()) return urls;
    for (const Json::Value& e : root) urls.push_back(e.get("url", "").asString());
    return urls;
}

// ---- files ----------------------------------------------------------------

namespace {
void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string p = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(p);
            else
                DeleteFileA(p.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}
}  // namespace

std::string TempFolder(const std::string& name) {
    // Not under the temp folder: the shell's folder browser hides it.
    std::string root = "C:\\lumora-ui";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string dir = root + "\\" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << data;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace uitest
