#pragma once
#include <optional>
#include <string>
#include <vector>

// Loads the plug-in modules (*.so) of the plug-in folders. The default folder is
// found relative to the running program, where the build (or install) put the
// modules; the environment variable LUMETS_PLUGIN_PATH adds folders (separated
// by ':'), searched first.
namespace plugins {

std::vector<std::string> SearchFolders();
// Loads every module of every folder once; returns the number of modules loaded.
// Errors (a module that does not load) are collected, not thrown.
int LoadAll();
// Loads one module by path; false (with the reason in error) when it fails.
bool LoadModule(const std::string& path, std::string* error);
std::vector<std::string> LoadErrors();
// The loaded module that registered a class: its path and the version it
// reports through its exported LumetsModuleVersion() (empty when it has none).
struct ModuleInfo {
    std::string Path;
    std::string Version;
};
std::optional<ModuleInfo> ModuleOfClass(const std::string& classId);
// Unloads every loaded module (their registries go away with them).
void UnloadAll();

}  // namespace plugins
