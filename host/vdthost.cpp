// vdthost: a stand-in for the slideshow host. Loads the plug-in module by
// path, serves its callback from an INI file, prints its log lines and
// notifications, and drives it through the host's messages.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_platform.h"
#include "ini.h"

namespace {

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoModule = 3 };

const char kUsage[] =
    "usage: vdthost --module PATH --settings FILE.ini [--host-kind N] [--read-mode fill|point] COMMAND\n"
    "commands:\n"
    "  info                               results of messages 1 and 2\n"
    "  load-save                          messages 3, 28, 7, then 6\n"
    "  run --seconds N [--show-every S] [--save]\n"
    "                                     start, report a shown image every S seconds (default 5), stop;\n"
    "                                     --save: message 6 at the end even when 8 answers 0\n"
    "  configure                          messages 3, 28, 7, 5, and 6 when 8 answers 1\n";

// Log lines arrive from the host's thread and the plug-in's worker.
std::mutex g_outMutex;
std::mutex g_storeMutex;
IniFile g_store;
bool g_pointMode = false;  // answer text reads with our own text instead of filling the buffer
std::string g_lastText;    // the text a "point" answer refers to; valid until the next read

void Print(const char* fmt, const std::string& a, const std::string& b = std::string()) {
    std::lock_guard<std::mutex> g(g_outMutex);
    printf(fmt, a.c_str(), b.c_str());
    fflush(stdout);
}

std::string TextArg(HostWord w) {
    const char* s = reinterpret_cast<const char*>(w);
    return s ? s : "";
}

// Like the profile API: leading blanks, a sign and digits; anything else is
// no number, and the default applies.
bool ParseInt(const std::string& text, int32_t* out) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t') ++s;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(s, &end, 10);
    if (end == s) return false;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    *out = static_cast<int32_t>(v);
    return true;
}

void ReadSetting(SettingRecord* r) {
    std::string section = TextArg(r->w[SR_SECTION]), key = TextArg(r->w[SR_KEY]);
    std::string stored;
    std::lock_guard<std::mutex> g(g_storeMutex);
    bool found = !key.empty() && g_store.Get(section, key, &stored);
    if (r->w[SR_TYPE] == SR_TYPE_INT) {
        int32_t value = static_cast<int32_t>(r->w[SR_DEFAULT]);
        if (found) ParseInt(stored, &value);
        r->w[SR_VALUE] = value;
        return;
    }
    g_lastText = found ? stored : TextArg(r->w[SR_DEFAULT]);
    char* buf = reinterpret_cast<char*>(r->w[SR_VALUE]);
    size_t capacity = static_cast<size_t>(r->w[SR_CAPACITY]);
    if (g_pointMode || !buf || capacity == 0) {
        r->w[SR_VALUE] = reinterpret_cast<HostWord>(g_lastText.c_str());
        return;
    }
    size_t n = std::min(g_lastText.size(), capacity);
    memcpy(buf, g_lastText.data(), n);
    buf[n] = 0;
}

void WriteSetting(const SettingRecord* r) {
    std::string section = TextArg(r->w[SR_SECTION]), key = TextArg(r->w[SR_KEY]);
    if (section.empty() || key.empty()) return;
    std::string value = r->w[SR_TYPE] == SR_TYPE_INT ? std::to_string(static_cast<int32_t>(r->w[SR_VALUE]))
                                                     : TextArg(r->w[SR_VALUE]);
    std::lock_guard<std::mutex> g(g_storeMutex);
    if (!g_store.Set(section, key, value))
        fprintf(stderr, "vdthost: cannot write the settings file (%s)\n", key.c_str());
}

int32_t LUMORA_STDCALL HostCallback(uint32_t code, HostWord first, HostWord second) {
    switch (code) {
        case PHC_LOG: {
            std::string prefix = TextArg(first);
            Print(prefix.empty() ? "%s%s\n" : "%s %s\n", prefix, TextArg(second));
            return 1;
        }
        case PHC_NOTIFY:
            Print("notify %s\n", std::to_string(static_cast<int32_t>(first)));
            return 0;
        case PHC_READSETTING:
            if (first) ReadSetting(reinterpret_cast<SettingRecord*>(first));
            return 0;
        case PHC_WRITESETTING:
            if (first) WriteSetting(reinterpret_cast<const SettingRecord*>(first));
            return 0;
        default:
            return 0;
    }
}

struct Options {
    std::string module, settings, command;
    int32_t hostKind = 0;
    double seconds = -1, showEvery = 5;
    bool saveAlways = false;  // run: message 6 at the end whatever message 8 answers
};

bool ParseNumber(const char* text, double* out) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end || !(v >= 0)) return false;
    *out = v;
    return true;
}

bool ParseArgs(int argc, char** argv, Options* o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--module" || a == "--settings" || a == "--host-kind" || a == "--seconds" ||
            a == "--show-every" || a == "--read-mode") {
            if (!hasValue) {
                *error = a + " needs a value";
                return false;
            }
            const char* v = argv[++i];
            if (a == "--module")
                o->module = v;
            else if (a == "--settings")
                o->settings = v;
            else if (a == "--host-kind") {
                char* end = nullptr;
                long long k = strtoll(v, &end, 10);
                if (end == v || *end || k < INT32_MIN || k > INT32_MAX) {
                    *error = "--host-kind needs an integer";
                    return false;
                }
                o->hostKind = static_cast<int32_t>(k);
            } else if (a == "--seconds") {
                if (!ParseNumber(v, &o->seconds)) {
                    *error = "--seconds needs a number of seconds";
                    return false;
                }
            } else if (a == "--show-every") {
                if (!ParseNumber(v, &o->showEvery) || o->showEvery <= 0) {
                    *error = "--show-every needs a positive number of seconds";
                    return false;
                }
            } else {
                if (strcmp(v, "fill") && strcmp(v, "point")) {
                    *error = "--read-mode is fill or point";
                    return false;
                }
                g_pointMode = strcmp(v, "point") == 0;
            }
        } else if (a == "--save") {
            o->saveAlways = true;
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else if (o->command.empty()) {
            o->command = a;
        } else {
            *error = "more than one command";
            return false;
        }
    }
    if (o->module.empty() || o->settings.empty() || o->command.empty()) {
        *error = "--module, --settings and a command are required";
        return false;
    }
    if (o->command != "info" && o->command != "load-save" && o->command != "run" &&
        o->command != "configure") {
        *error = "unknown command " + o->command;
        return false;
    }
    if (o->command == "run" && o->seconds < 0) {
        *error = "run needs --seconds N";
        return false;
    }
    return true;
}

bool IsImageName(const std::string& name) {
    static const char* const kExts[] = {"jpg", "jpeg", "png", "gif", "bmp", "tif", "webp"};
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* e : kExts)
        if (ext == e) return true;
    return false;
}

void CollectImages(const std::string& folder, int depth, std::vector<std::string>* out) {
    if (depth > 32) return;
    std::string base = folder;
    if (!base.empty() && base.back() != '/' && base.back() != '\\') base += kHostPathSep;
    for (const DirEntry& e : ListFolder(folder)) {
        if (e.folder)
            CollectImages(base + e.name, depth + 1, out);
        else if (IsImageName(e.name))
            out->push_back(base + e.name);
    }
}

// The image after the last one shown, in path order, from a fresh scan:
// files that come and go between two shows are seen as a slideshow would.
std::string NextImage(const std::string& folder, const std::string& last) {
    std::vector<std::string> images;
    if (!folder.empty()) CollectImages(folder, 0, &images);
    if (images.empty()) return std::string();
    std::sort(images.begin(), images.end());
    auto next = std::upper_bound(images.begin(), images.end(), last);
    return next == images.end() ? images.front() : *next;
}

std::string ImageFolder() {
    std::string folder;
    std::lock_guard<std::mutex> g(g_storeMutex);
    g_store.Get("LumoraPlugIn", "ImgFolder", &folder);
    return folder;
}

struct Plugin {
    PlugInMsgHandler handler = nullptr;
    int32_t Send(uint32_t msg, HostWord p = 0, int32_t a = 0) { return handler(msg, p, a); }
    void Connect(int32_t hostKind) {
        Send(PIM_SETCALLBACK, reinterpret_cast<HostWord>(&HostCallback));
        Send(PIM_SETHOST, hostKind);
    }
    // Message 6 when the plug-in reports a change (message 8), or always: a
    // host that saves on exit stores what the plug-in holds in memory.
    void SaveIfChanged(bool always = false) {
        int32_t changed = Send(PIM_ISCHANGED);
        Print("changed: %s\n", std::to_string(changed));
        if (changed == 1 || always) Print("save: %s\n", std::to_string(Send(PIM_SAVE)));
    }
};

void Run(Plugin& plugin, const Options& o) {
    plugin.Send(PIM_START);
    typedef std::chrono::steady_clock Clock;
    Clock::time_point start = Clock::now();
    Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    Clock::duration step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.showEvery));
    std::string last;
    for (Clock::time_point next = start + step; next <= end; next += step) {
        std::this_thread::sleep_until(next);
        std::string image = NextImage(ImageFolder(), last);
        if (image.empty()) continue;
        last = image;
        Print("show %s\n", image);
        plugin.Send(PIM_FILESHOWN, reinterpret_cast<HostWord>(image.c_str()));
    }
    std::this_thread::sleep_until(end);
    plugin.Send(PIM_STOP, 0, 1);
    plugin.SaveIfChanged(o.saveAlways);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseArgs(argc, argv, &o, &error)) {
        fprintf(stderr, "vdthost: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (!g_store.Load(o.settings)) {
        fprintf(stderr, "vdthost: cannot read %s\n", o.settings.c_str());
        return kExitFailed;
    }
    Plugin plugin;
    void* module = LoadPlugin(o.module, &plugin.handler, &error);
    if (!module) {
        fprintf(stderr, "vdthost: cannot load %s: %s\n", o.module.c_str(), error.c_str());
        return kExitNoModule;
    }

    if (o.command == "info") {
        Print("query: %s\n", std::to_string(plugin.Send(PIM_QUERY)));
        char name[256] = {0};
        plugin.Send(PIM_GETNAME, reinterpret_cast<HostWord>(name));
        Print("name: %s\n", name);
    } else {
        plugin.Connect(o.hostKind);
        Print("load: %s\n", std::to_string(plugin.Send(PIM_LOAD)));
        if (o.command == "load-save") {
            Print("save: %s\n", std::to_string(plugin.Send(PIM_SAVE)));
        } else if (o.command == "run") {
            Run(plugin, o);
        } else {
            Print("configure: %s\n", std::to_string(plugin.Send(PIM_CONFIGURE)));
            plugin.SaveIfChanged();
        }
    }
    UnloadPlugin(module);
    return kExitOk;
}
