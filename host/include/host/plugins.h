#pragma once
#include <string>
#include <vector>

// Loads the plug-in modules (*.so) of the plug-in folders. The default folder is
// the one the build (or install) put the modules in; the environment variable
// LUMETS_PLUGIN_PATH adds folders (separated by ':'), searched first.
namespace plugins {

std::vector<std::string> SearchFolders();
// Loads every module of every folder once; returns the number of modules loaded.
// Errors (a module that does not load) are collected, not thrown.
int LoadAll();
// Loads one module by path; false (with the reason in error) when it fails.
bool LoadModule(const std::string& path, std::string* error);
std::vector<std::string> LoadErrors();
// Unloads every loaded module (their registries go away with them).
void UnloadAll();

}  // namespace plugins
