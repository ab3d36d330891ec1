#pragma once
// One file path and its parts. On this platform the drive part is always
// empty and the folder part keeps its leading and closing "/".
#include <string>

namespace tarnwick {

class PathValue {
public:
    PathValue() = default;
    explicit PathValue(std::string fullPath) : full(std::move(fullPath)) {}

    // Replaces the extension; ext may come with or without its period.
    void SetExtension(const std::string& ext);
    // The extension with its period, empty when there is none.
    std::string ExtensionPart();
    // Drive and folder, the folder with its closing "/".
    std::string FolderPart();
    // Name and extension.
    std::string NamePart();
    // Drops one closing "/" (the root "/" itself stays).
    void TrimTrailingBackslash();
    // Whether full names a file that can be opened for reading now.
    bool CanOpenForReading() const;

    std::string full;
    std::string drive;
    std::string folder;
    std::string name;
    std::string extension;

    // The parts of path, without touching any value.
    struct Parts {
        std::string drive, folder, name, extension;
    };
    static Parts Split(const std::string& path);
    // Puts the parts together; an extension without a period gets one.
    static std::string Build(const std::string& drive, const std::string& folder,
                             const std::string& name, const std::string& extension);

private:
    void SplitFull();
};

}  // namespace tarnwick
