#include "agent/process_state.h"

namespace agent {

ProcessState& processState() {
    static ProcessState state;
    return state;
}

std::shared_ptr<plat::Thread> normalThreadHandle() { return std::atomic_load(&processState().normalThread); }

void setNormalThreadHandle(std::shared_ptr<plat::Thread> thread) {
    std::atomic_store(&processState().normalThread, std::move(thread));
}

}  // namespace agent
