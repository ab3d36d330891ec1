#include "app/path_value.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

PathValue::Parts PathValue::Split(const std::string& path) {
    Parts parts;
    const auto slash = path.rfind('/');
    std::string base;
    if (slash == std::string::npos) {
        base = path;
    } else {
        parts.folder = path.substr(0, slash + 1);
        base = path.substr(slash + 1);
    }
    // A leading period names a hidden file, it does not start an extension.
    const auto dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        parts.name = base;
    } else {
        parts.name = base.substr(0, dot);
        parts.extension = base.substr(dot);
    }
    return parts;
}

std::string PathValue::Build(const std::string& drive, const std::string& folder,
                             const std::string& name, const std::string& extension) {
    std::string path = drive + folder;
    if (!folder.empty() && folder.back() != '/') path += '/';
    path += name;
    if (!extension.empty()) {
        if (extension.front() != '.') path += '.';
        path += extension;
    }
    return path;
}

void PathValue::SplitFull() {
    Parts parts = Split(full);
    drive = std::move(parts.drive);
    folder = std::move(parts.folder);
    name = std::move(parts.name);
    extension = std::move(parts.extension);
}

void PathValue::SetExtension(const std::string& ext) {
    SplitFull();
    extension = ext;
    full = Build(drive, folder, name, extension);
}

std::string PathValue::ExtensionPart() {
    SplitFull();
    return extension;
}

std::string PathValue::FolderPart() {
    SplitFull();
    return drive + folder;
}

std::string PathValue::NamePart() {
    SplitFull();
    return name + extension;
}

void PathValue::TrimTrailingBackslash() {
    // Trimming the root would turn "/" into "", which means the current folder.
    if (full.size() > 1 && full.back() == '/') full.pop_back();
}

bool PathValue::CanOpenForReading() const {
    if (full.empty()) return false;
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    // A folder opens for reading here but is not a file one can read.
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}

}  // namespace tarnwick
