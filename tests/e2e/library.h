// Loading a built library as the agent does, and records wrapped in canaries.
#ifndef QARVEL_TESTS_E2E_LIBRARY_H
#define QARVEL_TESTS_E2E_LIBRARY_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "api/types.h"

namespace e2e {

// A dlopen'ed library. Each test runs in its own process, so the library's state starts
// fresh and QARVEL_MACHINE can be set before the first call.
class Library {
public:
    explicit Library(const char* path, const char* machine = QARVEL_SAMPLE_MACHINE) {
        if (machine) setenv("QARVEL_MACHINE", machine, 1);
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    }
    // A good caller releases the library's readers before it lets go of the library.
    ~Library() {
        if (!handle_) return;
        if (auto* release = function<int()>("release")) release();
        dlclose(handle_);
    }
    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }
    template <typename F>
    F* function(const char* name) const {
        return reinterpret_cast<F*>(symbol(name));
    }

private:
    void* handle_ = nullptr;
};

// A record between two runs of canary bytes; the record itself starts zeroed.
template <typename Record>
struct Guarded {
    static constexpr unsigned char kCanary = 0xC5;
    unsigned char before[64];
    Record record;
    unsigned char after[64];

    Guarded() {
        std::memset(before, kCanary, sizeof before);
        std::memset(&record, 0, sizeof record);
        std::memset(after, kCanary, sizeof after);
    }
    bool canaries_intact() const {
        for (unsigned char c : before)
            if (c != kCanary) return false;
        for (unsigned char c : after)
            if (c != kCanary) return false;
        return true;
    }
};

using GetInfoFunction = int(unsigned long, LPVOID);

// The simulated library serving the sample server, with GetInfo looked up.
class SampleServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << dlerror();
        get_info = lib.function<GetInfoFunction>("GetInfo");
        ASSERT_NE(get_info, nullptr);
    }
    Library lib{QARVEL_SIM_LIBRARY};
    GetInfoFunction* get_info = nullptr;
};

}  // namespace e2e

#endif
