// The replaceable table of file operations, shared by both platforms.
#include <atomic>

#include "platform/fs.h"
#include "platform/profile.h"

namespace plat {

namespace {
std::atomic<const FileOps*> g_ops{nullptr};
}  // namespace

const FileOps& Files() {
    const FileOps* ops = g_ops.load(std::memory_order_acquire);
    return ops ? *ops : RealFileOps();
}

const FileOps* SetFileOpsForTest(const FileOps* ops) {
    const FileOps* previous = g_ops.exchange(ops, std::memory_order_acq_rel);
    return previous ? previous : &RealFileOps();
}

FILE* OpenFileChecked(const std::string& path, const char* mode, int* error) {
    const FileOps& ops = Files();
    return (ops.openChecked ? ops.openChecked : RealFileOps().openChecked)(path, mode, error);
}

bool WriteAll(FILE* f, const void* data, size_t size) {
    const FileOps& ops = Files();
    return (ops.write ? ops.write : RealFileOps().write)(f, data, size);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
    return ForEachFolderEntry(folder, [entries](const FolderEntry& e) { entries->push_back(e); });
}

bool NameEndsIn(const std::string& name, const std::string& suffix) {
    if (name.size() < suffix.size()) return false;
    const size_t at = name.size() - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i) {
        char a = name[at + i], b = suffix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

bool FreeSpace(const std::string& path, uint64_t* available, uint64_t* total, int* error) {
    const FileOps& ops = Files();
    return (ops.freeSpace ? ops.freeSpace : RealFileOps().freeSpace)(path, available, total, error);
}

bool CloseFile(FILE* f) {
    const FileOps& ops = Files();
    if (ops.close) return ops.close(f);
    return f && std::fclose(f) == 0;
}

bool SetProfileKey(const std::string& path, const std::u16string& section, const std::u16string& key,
                   const std::u16string& value) {
    const FileOps& ops = Files();
    return (ops.writeProfileKey ? ops.writeProfileKey : WriteProfileKey)(path, section, key, value);
}

}  // namespace plat
