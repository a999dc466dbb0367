#include "operator/user_dialogs.h"

namespace user_dialogs {

std::optional<std::string> AskMotionFile(const char* title, std::string& initialDirectory) {
    platform::Platform& p = platform::Get();
    initialDirectory = p.CurrentDirectory();
    platform::FileDialogSpec spec;
    spec.Title = title;
    spec.Filters = {{"Lumet Position Data", "*.lpd"}, {"All Files", "*.*"}};
    spec.DefaultExtension = ".lpd";
    spec.InitialDirectory = initialDirectory;
    return p.FileDialog(spec);
}

}  // namespace user_dialogs
