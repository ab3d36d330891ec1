#include "document/tarnwick_doc.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "app/path_value.h"
#include "app/string_table.h"
#include "document/le_bytes.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "ports/log.h"
#include "ports/prompter.h"

namespace tarnwick {
namespace {

constexpr unsigned kStrNewTitle = 10101;       // "Neu"
constexpr unsigned kStrNotOurFormat = 11000;   // red line of a refused file
constexpr unsigned kStrOk = 11012;             // "Ok\r\n"
constexpr unsigned kStrOpening = 11026;        // "Öffnen %s...\r\n"
constexpr unsigned kStrSaving = 11035;         // "Speichern von  %s...\r\n"
constexpr unsigned kStrUntitled = 61443;       // "Unbenannt"
constexpr unsigned kStrAskToSave = 61699;      // "Änderungen in %1 speichern?"
constexpr unsigned kStrSeekError = 61865;      // "Positionierungsfehler auf %1."

struct PairRow {
    std::uint32_t imageType;
    std::uint32_t dataId;
    std::uint32_t headerId;
};

// Searched from the first row; the first match wins.
constexpr std::array<PairRow, 6> kPairingTable{{
    {0x00000001, 0x00000001, 0x20000000},
    {0x00000040, 0x00000200, 0x00000400},
    {0x00000002, 0x00000004, 0x00000008},
    {0x00010000, 0x00000010, 0x00000020},
    {0x80000000, 0x00000040, 0x00000080},
    {0x00010001, 0x00000002, 0x40000000},
}};

std::string ReplaceFirst(std::string text, const std::string& what, const std::string& with) {
    const auto pos = text.find(what);
    if (pos != std::string::npos) text.replace(pos, what.size(), with);
    return text;
}

std::string FileNameOf(const std::string& path) { return PathValue(path).NamePart(); }

}  // namespace

CTarnwickDoc::CTarnwickDoc(Log& log, Prompter& prompter) : log_(log), prompter_(prompter) {}

CTarnwickDoc::~CTarnwickDoc() = default;

void CTarnwickDoc::SetFileFactory(FileFactory factory) { fileFactory_ = std::move(factory); }

std::unique_ptr<File> CTarnwickDoc::NewFile() {
    if (fileFactory_) return fileFactory_();
    return std::make_unique<File>();
}

// --- Pairing table -----------------------------------------------------------

std::uint32_t CTarnwickDoc::DataPartId(std::uint32_t imageType) {
    for (const auto& row : kPairingTable) {
        if (row.imageType == imageType) return row.dataId;
    }
    return kUnknownPartId;
}

std::uint32_t CTarnwickDoc::HeaderPartId(std::uint32_t imageType) {
    for (const auto& row : kPairingTable) {
        if (row.imageType == imageType) return row.headerId;
    }
    return kUnknownPartId;
}

std::uint32_t CTarnwickDoc::DataPartOfHeader(std::uint32_t headerId) {
    for (const auto& row : kPairingTable) {
        if (row.headerId == headerId) return row.dataId;
    }
    return kUnknownPartId;
}

bool CTarnwickDoc::IsHeaderPartId(std::uint32_t id) {
    return std::any_of(kPairingTable.begin(), kPairingTable.end(),
                       [id](const PairRow& row) { return row.headerId == id; });
}

// --- Image list ----------------------------------------------------------------

bool CTarnwickDoc::GrowForOneMore() {
    const std::size_t length = parts_.size();
    if (length >= kMaxParts) return false;
    if (length < parts_.capacity()) return true;
    // Grow by an eighth of the length, at least 4 and at most 1024 parts.
    const std::size_t step = std::clamp<std::size_t>(length / 8, 4, 1024);
    parts_.reserve(std::max(length + 1, length + step));
    return true;
}

ImagePart* CTarnwickDoc::AddPart() {
    ImagePart part;
    if (!part.HasFile() || !GrowForOneMore()) {
        ReportError(kFnCreatePart, kErrorFileWrite);
        return nullptr;
    }
    parts_.push_back(std::move(part));
    return &parts_.back();
}

int CTarnwickDoc::RemovePartAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= parts_.size()) return 0;
    parts_.erase(parts_.begin() + index);
    return 1;
}

ImagePart* CTarnwickDoc::PartAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= parts_.size()) return nullptr;
    return &parts_[static_cast<std::size_t>(index)];
}

const ImagePart* CTarnwickDoc::PartAt(int index) const {
    return const_cast<CTarnwickDoc*>(this)->PartAt(index);
}

int CTarnwickDoc::IndexOfPart(std::uint32_t id) const {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (parts_[i].Id() == id) return static_cast<int>(i);
    }
    return -1;
}

ImagePart* CTarnwickDoc::FindPart(std::uint32_t id) { return PartAt(IndexOfPart(id)); }

const ImagePart* CTarnwickDoc::FindPart(std::uint32_t id) const { return PartAt(IndexOfPart(id)); }

std::uint32_t CTarnwickDoc::PresentMask() const {
    std::uint32_t mask = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t b = 1u << bit;
        if (FindPart(b) != nullptr) mask |= b;
    }
    return mask;
}

std::uint32_t CTarnwickDoc::PresentHeaderMask(std::uint16_t& n) const {
    n = 0;
    std::uint32_t result = 0;
    const std::uint32_t present = PresentMask();
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t b = 1u << bit;
        if ((present & b) && IsHeaderPartId(b)) {
            result |= b;
            ++n;
        }
    }
    return result;
}

std::uint32_t CTarnwickDoc::TotalSize(std::uint32_t mask) const {
    std::uint32_t total = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t b = 1u << bit;
        if (!(mask & b)) continue;
        if (const ImagePart* part = FindPart(b)) total += part->Size();
    }
    return total;
}

void CTarnwickDoc::RemoveAllParts() {
    if (parts_.empty()) return;
    // Destroy in array order, then give the array back.
    for (auto& part : parts_) {
        ImagePart dying(std::move(part));  // its temporary file goes here
    }
    std::vector<ImagePart>().swap(parts_);
}

bool CTarnwickDoc::HasValidImageSet() const {
    if (!usable_) return false;
    const std::uint32_t mask = PresentMask() & ~kConfigPartId;
    return std::find(std::begin(kValidImageSets), std::end(kValidImageSets), mask) !=
           std::end(kValidImageSets);
}

// --- Life cycle ------------------------------------------------------------------

void CTarnwickDoc::SetPathName(const std::string& path) {
    pathName_ = path;
    title_ = path.empty() ? std::string{} : FileNameOf(path);
}

void CTarnwickDoc::LogImageVersions() { tarnwick::LogImageVersions(log_, values_); }

void CTarnwickDoc::EmptyParts() {
    RemoveAllParts();
    values_ = DescriptionValues{};
    usable_ = true;
}

void CTarnwickDoc::DeleteContents() {
    log_.ClearLog();
    RemoveAllParts();
    values_.StoredTotal = 0;
    values_.CeImageVersion = 0;
    values_.AppVersion = 0;
    values_.CeVersionMajor = 0;
    values_.CeVersionMinor = 0;
    values_.HardwareType = 0;
    values_.HardwareSubtype = 0;
    values_.AuxValue = 0;
    values_.ImageAreaSize = 0;
    usable_ = true;
}

bool CTarnwickDoc::OnNewDocument() {
    if (!SaveModified()) return false;
    DeleteContents();
    pathName_.clear();
    modified_ = false;
    title_ = Text(kStrNewTitle);
    return true;
}

bool CTarnwickDoc::SaveModified() {
    if (!modified_) return true;
    std::string name = pathName_.empty() ? title_ : FileNameOf(pathName_);
    if (name.empty()) name = Text(kStrUntitled);
    const std::string question = ReplaceFirst(Text(kStrAskToSave), "%1", name);
    switch (prompter_.MessageBox(question, MessageIcon::Question, MessageButtons::YesNoCancel)) {
    case MessageAnswer::Cancel: return false;
    case MessageAnswer::Yes: return OnFileSave();
    default: return true;
    }
}

bool CTarnwickDoc::DoSave(const std::string& newName, bool replace) {
    std::string target = newName;
    if (target.empty()) {
        FileDialogRequest request;
        request.filter = "Image (*.img)|*.img||";
        request.defaultExtension = "img";
        request.overwritePrompt = true;
        if (pathName_.empty()) {
            request.initialName = title_.empty() ? Text(kStrUntitled) : title_;
            if (PathValue(request.initialName).ExtensionPart().empty()) request.initialName += ".img";
        } else {
            PathValue path(pathName_);
            request.initialFolder = path.FolderPart();
            request.initialName = path.NamePart();
        }
        auto chosen = prompter_.SaveFileDialog(request);
        if (!chosen || chosen->empty()) return false;
        target = *chosen;
    }
    if (!OnSaveDocument(target)) return false;
    if (replace) SetPathName(target);
    return true;
}

bool CTarnwickDoc::OnFileSave() {
    // A file that may not be written asks for another name, as Save As does.
    if (pathName_.empty() || (::access(pathName_.c_str(), F_OK) == 0 &&
                              ::access(pathName_.c_str(), W_OK) != 0)) {
        return DoSave({}, true);
    }
    return DoSave(pathName_, true);
}

bool CTarnwickDoc::OnFileSaveAs() { return DoSave({}, true); }

bool CTarnwickDoc::OnOpenDocument(const std::string& path) {
    auto file = NewFile();
    if (!file->Open(path, File::Mode::Read)) {
        ReportError(kFnOpenDocument, errno == ENOENT ? kErrorFileNotFound : kErrorFileRead);
        ShowError(log_, prompter_);
        return false;
    }
    DeleteContents();
    modified_ = true;  // the document is in between while it loads
    Archive archive(*file, Archive::Mode::Load);
    const bool loaded = Serialize(archive);
    file->Close();
    modified_ = false;
    if (!loaded) {
        // The former contents are gone already: leave an empty, untitled
        // document rather than one that a Save would write over that path.
        EmptyParts();
        pathName_.clear();
        title_ = Text(kStrNewTitle);
        return false;
    }
    SetPathName(path);
    log_.AppendLog(ReplaceFirst(Text(kStrOpening), "%s", path), kLogBlack, kLogNormal);
    LogImageVersions();
    log_.AppendLog(Text(kStrOk), kLogBlack, kLogNormal);
    return true;
}

bool CTarnwickDoc::OnSaveDocument(const std::string& path) {
    log_.AppendLog(ReplaceFirst(Text(kStrSaving), "%s", path), kLogBlack, kLogNormal);
    if (!WriteDocumentFile(path)) {
        ShowError(log_, prompter_);
        return false;
    }
    modified_ = false;
    log_.AppendLog(Text(kStrOk), kLogBlack, kLogNormal);
    return true;
}

bool CTarnwickDoc::WriteDocumentFile(const std::string& path) {
    namespace fs = std::filesystem;
    // Through a link, the file it points at is the one replaced.
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {
        const auto resolved = fs::canonical(path, ec);
        if (!ec) target = resolved.string();
    }
    const fs::path targetPath(target);
    std::string folder = targetPath.parent_path().string();
    if (folder.empty()) folder = ".";
    std::string temp = folder + "/." + targetPath.filename().string() + ".XXXXXX";
    int fd;
    do {
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReportError(kFnSaveDocument, kErrorFileCreate, path);
        return false;
    }
    // The new file gets the permissions of the one it replaces, or those a
    // newly created file would have.
    struct stat st {};
    mode_t mode;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);

    auto file = NewFile();
    file->Adopt(fd, temp);
    Archive archive(*file, Archive::Mode::Store);
    bool ok = Serialize(archive);
    if (ok && !file->Flush()) {
        ReportError(kFnSaveDocument, kErrorFileWrite);
        ok = false;
    }
    file->Close();
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ReportError(kFnSaveDocument, kErrorFileWrite);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the new name itself durable.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool CTarnwickDoc::Serialize(Archive& archive) {
    return archive.IsStoring() ? StoreDocument(archive) : LoadDocument(archive);
}

bool CTarnwickDoc::StoreDocument(Archive& archive) {
    File& file = archive.GetFile();
    if (file.Seek(0) != 0) {
        ReportError(kFnSaveDocument, kErrorFileWrite);
        return false;
    }
    for (auto& part : parts_) {
        if (!part.SerializeData(archive)) return false;
    }
    const std::int64_t tableOffset = file.Position();
    const std::int64_t fileEnd = tableOffset +
                                 static_cast<std::int64_t>(parts_.size() * kPartRecordSize) +
                                 static_cast<std::int64_t>(kDocumentHeaderSize);
    // Offsets are 32-bit: a document stays below 4 GiB.
    if (tableOffset < 0 || fileEnd > static_cast<std::int64_t>(0xFFFFFFFFu)) {
        ReportError(kFnSaveDocument, kErrorFileWrite);
        return false;
    }
    for (auto& part : parts_) {
        if (!part.SerializeRecord(archive)) {
            ReportError(kFnSaveDocument, kErrorFileWrite);
            return false;
        }
    }
    std::uint8_t header[kDocumentHeaderSize] = {};
    le::Put16(header + 0, static_cast<std::uint16_t>(parts_.size()));
    le::Put32(header + 2, static_cast<std::uint32_t>(tableOffset));
    le::Put32(header + 6, values_.CeImageVersion);
    le::Put32(header + 10, values_.AppVersion);
    le::Put32(header + 14, values_.CeVersionMajor);
    le::Put32(header + 18, values_.CeVersionMinor);
    le::Put32(header + 22, values_.HardwareType);
    le::Put32(header + 26, values_.HardwareSubtype);
    le::Put32(header + 30, values_.AuxValue);
    le::Put32(header + 34, values_.ImageAreaSize);
    le::Put32(header + 38, values_.StoredTotal);
    le::Put32(header + 60, kDocumentMagic);
    if (!file.Write(header, sizeof header)) {
        ReportError(kFnSaveDocument, kErrorFileWrite);
        return false;
    }
    return true;
}

void CTarnwickDoc::RefuseFormat() {
    log_.SetLogFormat(kLogRed, kLogBold);
    log_.AppendLog(Text(kStrNotOurFormat), kLogRed, kLogBold);
    ReportError(kFnLoadDocument, kErrorUnknownFileFormat, "");
    ShowError(log_, prompter_);
}

void CTarnwickDoc::ShowSeekError(const std::string& path) {
    prompter_.MessageBox(ReplaceFirst(Text(kStrSeekError), "%1", path), MessageIcon::Exclamation,
                         MessageButtons::Ok);
}

bool CTarnwickDoc::LoadDocument(Archive& archive) {
    File& file = archive.GetFile();
    const std::int64_t length = file.Length();

    // The trailer first: a file that does not end in our magic is not read.
    std::uint8_t trailer[4];
    if (length < 4 || file.Seek(-4, File::Whence::End) < 0) {
        ShowSeekError(file.Path());
        return false;
    }
    if (file.Read(trailer, sizeof trailer) != 4) {
        ReportError(kFnOpenDocument, kErrorFileRead);
        ShowError(log_, prompter_);
        return false;
    }
    if (le::Get32(trailer) != kDocumentMagic) {
        RefuseFormat();
        return false;
    }

    std::uint8_t header[kDocumentHeaderSize];
    if (length < static_cast<std::int64_t>(kDocumentHeaderSize) ||
        file.Seek(-static_cast<std::int64_t>(kDocumentHeaderSize), File::Whence::End) < 0) {
        ShowSeekError(file.Path());
        return false;
    }
    if (file.Read(header, sizeof header) != static_cast<std::int64_t>(sizeof header)) {
        ReportError(kFnOpenDocument, kErrorFileRead);
        ShowError(log_, prompter_);
        return false;
    }
    const std::uint16_t count = le::Get16(header + 0);
    const std::uint32_t tableOffset = le::Get32(header + 2);
    values_.CeImageVersion = le::Get32(header + 6);
    values_.AppVersion = le::Get32(header + 10);
    values_.CeVersionMajor = le::Get32(header + 14);
    values_.CeVersionMinor = le::Get32(header + 18);
    values_.HardwareType = le::Get32(header + 22);
    values_.HardwareSubtype = le::Get32(header + 26);
    values_.AuxValue = le::Get32(header + 30);
    values_.ImageAreaSize = le::Get32(header + 34);
    values_.StoredTotal = le::Get32(header + 38);

    // Records and streams lie in front of the header; nothing is read from
    // anywhere else, and no count from the file is trusted further than the
    // file itself reaches.
    const std::int64_t limit = length - static_cast<std::int64_t>(kDocumentHeaderSize);
    archive.SetLoadLimit(limit);
    if (count > 0 && static_cast<std::int64_t>(tableOffset) > limit) {
        RefuseFormat();
        return false;
    }
    const std::int64_t whole =
        count > 0 ? (limit - static_cast<std::int64_t>(tableOffset)) /
                        static_cast<std::int64_t>(kPartRecordSize)
                  : 0;
    const std::size_t present = std::min<std::size_t>(count, static_cast<std::size_t>(whole));

    // Bring the list to the number of parts whose records are there.
    while (parts_.size() > present) parts_.pop_back();
    if (parts_.size() < present) {
        const std::size_t length0 = parts_.size();
        const std::size_t step = std::clamp<std::size_t>(length0 / 8, 4, 1024);
        parts_.reserve(std::max(present, length0 + step));
        while (parts_.size() < present) {
            ImagePart part;
            if (!part.HasFile()) {
                ReportError(kFnCreatePart, kErrorFileWrite);
                ShowError(log_, prompter_);
                return false;
            }
            parts_.push_back(std::move(part));
        }
    }

    if (file.Seek(tableOffset) != static_cast<std::int64_t>(tableOffset)) {
        ReportError(kFnOpenDocument, kErrorFileRead);
        ShowError(log_, prompter_);
        return false;
    }
    std::vector<bool> recordRead(parts_.size(), false);
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        recordRead[i] = parts_[i].SerializeRecord(archive);
        if (!recordRead[i]) {
            // The table could not be read from here on; what was read stays.
            break;
        }
    }
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (!recordRead[i]) {
            ReportError(kFnLoadPartData, kErrorFileDataUnreadable);
            ShowError(log_, prompter_);
            continue;
        }
        if (!parts_[i].SerializeData(archive)) ShowError(log_, prompter_);
    }
    // Records the table promised but the file does not hold count as one
    // part that fails its check.
    if (present < count) {
        ReportError(kFnLoadPartData, kErrorFileDataUnreadable);
        ShowError(log_, prompter_);
    }
    return true;
}

}  // namespace tarnwick
