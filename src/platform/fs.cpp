// The replaceable table of file operations, shared by both platforms.
#include <atomic>

#include "platform/fs.h"

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

}  // namespace plat
