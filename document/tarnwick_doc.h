#pragma once
// The one document of the program: the image parts with their temporary
// files, the nine description values, and the life cycle of new, open and
// save with the *.img file format. It knows no toolkit: what a person sees
// goes through the Log and Prompter it is given.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/file.h"
#include "document/image_part.h"
#include "osimage/image_header.h"

namespace tarnwick {

class Log;
class Prompter;

constexpr std::uint32_t kDocumentMagic = 0x03031998;  // the file ends with 98 19 03 03
constexpr std::size_t kDocumentHeaderSize = 64;
constexpr std::size_t kMaxParts = 65535;               // the count is 16 bits

// The mask of parts present, configuration removed, must be one of these for
// a document to be saved or transferred.
constexpr std::uint32_t kValidImageSets[] = {0x000000C0, 0x20000001, 0x20000601, 0x40000002};

class CTarnwickDoc {
public:
    // Creates the File objects for opening and saving; tests put a failing
    // disk in place of the real one.
    using FileFactory = std::function<std::unique_ptr<File>()>;

    CTarnwickDoc(Log& log, Prompter& prompter);
    virtual ~CTarnwickDoc();
    CTarnwickDoc(const CTarnwickDoc&) = delete;
    CTarnwickDoc& operator=(const CTarnwickDoc&) = delete;

    // --- Pairing table of image types and part identifiers -----------------
    // 0x80000000 when no row matches.
    static std::uint32_t DataPartId(std::uint32_t imageType);
    static std::uint32_t HeaderPartId(std::uint32_t imageType);
    static std::uint32_t DataPartOfHeader(std::uint32_t headerId);
    static bool IsHeaderPartId(std::uint32_t id);

    // --- Image list ---------------------------------------------------------
    // A pointer or reference to a part stays valid only until the next add,
    // remove or load: the parts live in one array that may move.

    // Appends an empty part (new temporary file, id 0x80000000) and returns
    // it. Nothing is appended and nullptr returned, with the failure recorded
    // (0x38 "Schreibfehler beim Dateizugriff"), when its temporary file cannot
    // be created or the list already holds 65535 parts.
    ImagePart* AddPart();
    // 1 when the part at index was removed (its temporary file deleted), 0
    // when the list is empty or index lies outside it.
    int RemovePartAt(int index);
    // nullptr when index lies outside the list.
    ImagePart* PartAt(int index);
    const ImagePart* PartAt(int index) const;
    // The first part with that id, or −1 / nullptr.
    int IndexOfPart(std::uint32_t id) const;
    ImagePart* FindPart(std::uint32_t id);
    const ImagePart* FindPart(std::uint32_t id) const;
    // Identifiers present (a duplicate counts once).
    std::uint32_t PresentMask() const;
    // Header part identifiers present, their number in n.
    std::uint32_t PresentHeaderMask(std::uint16_t& n) const;
    // Sum of the sizes of the first part of each bit of mask (32-bit).
    std::uint32_t TotalSize(std::uint32_t mask) const;
    void RemoveAllParts();
    bool HasValidImageSet() const;
    std::uint16_t PartCount() const { return static_cast<std::uint16_t>(parts_.size()); }
    std::size_t PartCapacity() const { return parts_.capacity(); }

    // 0 after a failed import; only DeleteContents sets it back.
    bool IsUsable() const { return usable_; }
    void SetUsable(bool usable) { usable_ = usable; }

    // --- Description values ---------------------------------------------------
    std::uint32_t CeImageVersion() const { return values_.CeImageVersion; }
    void SetCeImageVersion(std::uint32_t v) { values_.CeImageVersion = v; }
    std::uint32_t AppVersion() const { return values_.AppVersion; }
    void SetAppVersion(std::uint32_t v) { values_.AppVersion = v; }
    std::uint32_t CeVersionMajor() const { return values_.CeVersionMajor; }
    void SetCeVersionMajor(std::uint32_t v) { values_.CeVersionMajor = v; }
    std::uint32_t CeVersionMinor() const { return values_.CeVersionMinor; }
    void SetCeVersionMinor(std::uint32_t v) { values_.CeVersionMinor = v; }
    std::uint32_t HardwareType() const { return values_.HardwareType; }
    void SetHardwareType(std::uint32_t v) { values_.HardwareType = v; }
    std::uint32_t HardwareSubtype() const { return values_.HardwareSubtype; }
    void SetHardwareSubtype(std::uint32_t v) { values_.HardwareSubtype = v; }
    std::uint32_t AuxValue() const { return values_.AuxValue; }
    void SetAuxValue(std::uint32_t v) { values_.AuxValue = v; }
    std::uint32_t ImageAreaSize() const { return values_.ImageAreaSize; }
    void SetImageAreaSize(std::uint32_t v) { values_.ImageAreaSize = v; }
    std::uint32_t StoredTotal() const { return values_.StoredTotal; }
    void SetStoredTotal(std::uint32_t v) { values_.StoredTotal = v; }
    const DescriptionValues& Values() const { return values_; }
    void SetValues(const DescriptionValues& values) { values_ = values; }

    // --- Life cycle ---------------------------------------------------------------
    // Empties the log, removes every part (and temporary file), zeroes the
    // description values and makes the document usable again.
    virtual void DeleteContents();
    // Asks the save question first; false when the person cancelled or the
    // save failed (the document is then unchanged). Otherwise empty, not
    // modified, no path, titled "Neu".
    virtual bool OnNewDocument();
    // Loads path. False, with the failure shown, when the file cannot be read
    // or is not a document; the document then stays as it was if the file
    // could not be opened, or empty and untitled if its content was refused.
    // On success writes "Öffnen …", the three version lines and "Ok".
    virtual bool OnOpenDocument(const std::string& path);
    // Writes the document to path through a temporary file in the same folder
    // that replaces path only when complete: a failed save leaves the former
    // file byte for byte as it was. Writes "Speichern von  …", then "Ok" on
    // success; on failure shows the error.
    virtual bool OnSaveDocument(const std::string& path);
    // Stores into or loads from the archive's file. Storing returns false
    // (failure recorded, not shown) as soon as a part or the file fails.
    // Loading returns false (failure shown) when the file is not a document.
    virtual bool Serialize(Archive& archive);

    // The standard save question before the document is replaced: true to go
    // on (not modified, saved, or "No"), false to stop.
    bool SaveModified();
    // Saves under newName, or asks for a name when it is empty (Save As).
    // With replace the document takes the new name. True when saved.
    bool DoSave(const std::string& newName, bool replace = true);
    // The Save (57603) and Save As (57604) commands.
    bool OnFileSave();
    bool OnFileSaveAs();
    // Whether the window enables Save and Save As.
    bool IsSaveEnabled() const { return HasValidImageSet() && modified_; }
    bool IsSaveAsEnabled() const { return HasValidImageSet(); }

    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }
    const std::string& GetPathName() const { return pathName_; }
    // Sets the path and takes its file name as the title.
    void SetPathName(const std::string& path);
    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }

    // The three version lines of the description values.
    void LogImageVersions();

    Log& GetLog() { return log_; }
    Prompter& GetPrompter() { return prompter_; }
    void SetFileFactory(FileFactory factory);

private:
    bool GrowForOneMore();
    void EmptyParts();
    bool StoreDocument(Archive& archive);
    bool LoadDocument(Archive& archive);
    bool WriteDocumentFile(const std::string& path);
    void RefuseFormat();
    void ShowSeekError(const std::string& path);
    std::unique_ptr<File> NewFile();

    Log& log_;
    Prompter& prompter_;
    FileFactory fileFactory_;

    bool usable_ = true;
    std::vector<ImagePart> parts_;
    DescriptionValues values_;

    bool modified_ = false;
    std::string pathName_;
    std::string title_;
};

}  // namespace tarnwick
