#include "DetectorInstance.h"

#include "LoadedLibrary.h"
#include "ToolExit.h"

#include <cstddef>
#include <new>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace zor::bench {

#if !defined(_WIN32)
// The loaded library's own ZORCustomHMD, constructed in place through its
// exported constructor and destructor (Itanium C++ ABI names).
struct DetectorInstance::Loaded {
    using Structor = void (*)(void*);

    explicit Loaded(const std::filesystem::path& file) {
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
        if (handle == nullptr) {
            const char* reason = dlerror();
            throw tools::UserError("cannot load " + file.string() + (reason ? std::string(": ") + reason : ""));
        }
        construct = reinterpret_cast<Structor>(dlsym(handle, "_ZN12ZORCustomHMDC1Ev"));
        destruct = reinterpret_cast<Structor>(dlsym(handle, "_ZN12ZORCustomHMDD1Ev"));
        if (construct == nullptr || destruct == nullptr) {
            dlclose(handle);
            throw tools::UserError(file.string() + " provides no ZORCustomHMD constructor and destructor");
        }
        construct(storage);
        detector = std::launder(reinterpret_cast<ZORCustomHMD*>(storage));
    }
    ~Loaded() {
        destruct(detector);
        dlclose(handle);
    }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    void* handle = nullptr;
    Structor construct = nullptr;
    Structor destruct = nullptr;
    alignas(ZORCustomHMD) std::byte storage[sizeof(ZORCustomHMD)];
    ZORCustomHMD* detector = nullptr;
};
#else
struct DetectorInstance::Loaded {
    explicit Loaded(const std::filesystem::path&) {
        throw tools::UserError("--compare-library needs dlopen, which this platform lacks");
    }
    ZORCustomHMD* detector = nullptr;
};
#endif

DetectorInstance::DetectorInstance()
    : linked_(std::make_unique<ZORCustomHMD>()),
      plugin_(linked_.get()),
      libraryFile_(tools::loadedLibraryFile("libZORCustomHelmetDetection")) {}

DetectorInstance::DetectorInstance(const std::filesystem::path& libraryFile)
    : loaded_(std::make_unique<Loaded>(libraryFile)),
      plugin_(loaded_->detector),
      libraryFile_(std::filesystem::weakly_canonical(libraryFile)) {}

DetectorInstance::~DetectorInstance() = default;

}  // namespace zor::bench
