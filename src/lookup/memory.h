// What lookups learn once and keep for the rest of the run, in memory only: nothing of it is
// written anywhere, and it goes with the program. Each kind of knowledge is one object of its
// own type, made on its first use and shared by every worker from then on; the type keeps
// itself safe against the workers that use it at the same time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <typeindex>

namespace tessaly {

class RunMemory {
public:
    // The one Knowledge object of this run (default-constructed on first use). It lives as
    // long as the memory does.
    template <class Knowledge>
    Knowledge& of() {
        std::lock_guard lock(mutex_);
        std::shared_ptr<void>& kept = kept_[std::type_index(typeid(Knowledge))];
        if (!kept) {
            kept = std::make_shared<Knowledge>();
        }
        return *static_cast<Knowledge*>(kept.get());
    }

private:
    std::mutex mutex_;
    std::map<std::type_index, std::shared_ptr<void>> kept_;
};

}  // namespace tessaly
