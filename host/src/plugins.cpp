#include "host/plugins.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "module_loading.h"

namespace fs = std::filesystem;

namespace {

struct LoadedModule {
    std::string Path;  // canonical path
    std::string Name;  // file name
    void* Handle;
    std::string Version;               // from the module's LumetsModuleVersion, if it has one
    std::vector<std::string> Classes;  // class IDs it registered
};

std::mutex LoaderLock;
std::vector<LoadedModule> Modules;
std::vector<std::string> Errors;

// The registries constructed by the module this thread is loading right now
// (null when no load runs on this thread). Static constructors of a module run
// inside dlopen on the loading thread.
thread_local std::vector<Registry*>* PendingRegistries = nullptr;

std::string ExecutableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().string();
}

bool AlreadyLoaded(const std::string& canonical, const std::string& name) {
    return std::any_of(Modules.begin(), Modules.end(),
                       [&](const LoadedModule& m) { return m.Path == canonical || m.Name == name; });
}

// Loads one module; the caller holds LoaderLock.
bool LoadLocked(const std::string& path, std::string* error) {
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    if (ec) {
        if (error) *error = path + ": " + ec.message();
        return false;
    }
    const std::string name = canonical.filename().string();
    if (AlreadyLoaded(canonical.string(), name)) return true;

    std::vector<Registry*> pending;
    PendingRegistries = &pending;
    void* handle = dlopen(canonical.c_str(), RTLD_NOW | RTLD_LOCAL);
    PendingRegistries = nullptr;
    if (!handle) {
        const char* why = dlerror();
        if (error) *error = path + ": " + (why ? why : "cannot be loaded");
        return false;
    }
    auto lookup = reinterpret_cast<ResourceLookup>(dlsym(handle, "LumetsGetResource"));
    LoadedModule module{canonical.string(), name, handle, {}, {}};
    if (auto version = reinterpret_cast<const char* (*)()>(dlsym(handle, "LumetsModuleVersion")))
        if (const char* v = version()) module.Version = v;
    for (Registry* reg : pending) {
        reg->Resources = lookup;
        module.Classes.push_back(reg->ClassId());
    }
    Modules.push_back(std::move(module));
    return true;
}

}  // namespace

namespace hostinternal {

void NoteRegistryCreated(Registry* reg) {
    if (PendingRegistries) PendingRegistries->push_back(reg);
}

void NoteRegistryDestroyed(Registry* reg) {
    if (PendingRegistries)
        PendingRegistries->erase(std::remove(PendingRegistries->begin(), PendingRegistries->end(), reg),
                                 PendingRegistries->end());
}

}  // namespace hostinternal

namespace plugins {

std::vector<std::string> SearchFolders() {
    std::vector<std::string> folders;
    auto add = [&](const std::string& f) {
        if (!f.empty() && std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
    };
    if (const char* env = std::getenv("LUMETS_PLUGIN_PATH")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            add(list.substr(start, end - start));
            start = end + 1;
        }
    }
    // The plug-in folder where the build or the install put it, relative to the
    // running program (bin/ and the library folder are siblings in both).
    const std::string exeDir = ExecutableDir();
    if (!exeDir.empty()) add((fs::path(exeDir) / LUMETS_PLUGIN_RELDIR).lexically_normal().string());
    return folders;
}

int LoadAll() {
    std::lock_guard<std::mutex> guard(LoaderLock);
    Errors.clear();
    int loaded = 0;
    for (const std::string& folder : SearchFolders()) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;  // absent folders are simply not searched
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".so" && entry.is_regular_file(ec)) files.push_back(entry.path().string());
        }
        if (ec) {
            Errors.push_back(folder + ": " + ec.message());
            continue;
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            const size_t before = Modules.size();
            std::string error;
            if (!LoadLocked(file, &error))
                Errors.push_back(error);
            else if (Modules.size() > before)
                ++loaded;
        }
    }
    return loaded;
}

bool LoadModule(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> guard(LoaderLock);
    std::string why;
    const bool ok = LoadLocked(path, &why);
    if (!ok) {
        Errors.push_back(why);
        if (error) *error = why;
    }
    return ok;
}

std::optional<ModuleInfo> ModuleOfClass(const std::string& classId) {
    std::lock_guard<std::mutex> guard(LoaderLock);
    for (const LoadedModule& m : Modules)
        if (std::find(m.Classes.begin(), m.Classes.end(), classId) != m.Classes.end())
            return ModuleInfo{m.Path, m.Version};
    return std::nullopt;
}

std::vector<std::string> LoadErrors() {
    std::lock_guard<std::mutex> guard(LoaderLock);
    return Errors;
}

void UnloadAll() {
    std::lock_guard<std::mutex> guard(LoaderLock);
    while (!Modules.empty()) {
        dlclose(Modules.back().Handle);
        Modules.pop_back();
    }
}

}  // namespace plugins
