// The parsed form of a directory listing: one item per entry with its type, size, times and
// permissions, the collection that owns them, the DOS/Win32 attribute sets, and the raw listing
// lines with the flags saying how they were asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "global/IdGlobal.h"

namespace ftpc {

enum TIdDirItemType : uint8_t {
  ditDirectory,
  ditFile,
  ditSymbolicLink,
  ditSymbolicLinkDir,
  ditBlockDev,
  ditCharDev,
  ditFIFO,
  ditSocket
};

// The raw lines of the last listing; Details: a detailed request; UsedMLS: they came from MLSD.
class TIdFTPListResult : public TObject {
public:
  std::vector<std::string>& Lines() { return FLines; }
  const std::vector<std::string>& Lines() const { return FLines; }
  bool Details() const { return FDetails; }
  void SetDetails(bool AValue) { FDetails = AValue; }
  bool UsedMLS() const { return FUsedMLS; }
  void SetUsedMLS(bool AValue) { FUsedMLS = AValue; }
  // Replaces the lines by those of AText, split at CR LF, LF or CR; a line end at the very end
  // adds no empty line.
  void LoadFromText(std::string_view AText);
  std::string ClassName() const override { return "TIdFTPListResult"; }

private:
  std::vector<std::string> FLines;
  bool FDetails = false;
  bool FUsedMLS = false;
};

// Splits AText at CR LF, LF or CR into VLines (appended).
void SplitListingLines(std::string_view AText, std::vector<std::string>& VLines);

// One listing entry. ModifiedDate is the server's local time; the GMT form is known only where
// the listing gives UTC (MLSD).
class TIdFTPListItem : public TObject {
public:
  std::string ClassName() const override { return "TIdFTPListItem"; }
  // Copies Data, ItemType, Size, ModifiedDate, then FileName through its writer.
  virtual void Assign(const TIdFTPListItem& ASource);

  int64_t Size() const { return FSize; }
  void SetSize(int64_t AValue) { FSize = AValue; }
  const std::string& Data() const { return FData; }
  void SetData(std::string AValue) { FData = std::move(AValue); }
  const std::string& FileName() const { return FFileName; }
  // Carries LocalFileName along while it still follows FileName (see the .cpp).
  void SetFileName(std::string_view AValue);
  const std::string& LocalFileName() const {
    return FLocalIsFileName ? FFileName : FLocalFileName;
  }
  void SetLocalFileName(std::string_view AValue);
  bool SizeAvail() const { return FSizeAvail; }
  void SetSizeAvail(bool AValue) { FSizeAvail = AValue; }
  bool ModifiedAvail() const { return FModifiedAvail; }
  void SetModifiedAvail(bool AValue) { FModifiedAvail = AValue; }
  TDateTime ModifiedDate() const { return FModifiedDate; }
  void SetModifiedDate(TDateTime AValue) { FModifiedDate = AValue; }
  TDateTime ModifiedDateGMT() const { return FModifiedDateGMT; }
  void SetModifiedDateGMT(TDateTime AValue) { FModifiedDateGMT = AValue; }
  TIdDirItemType ItemType() const { return FItemType; }
  void SetItemType(TIdDirItemType AValue) { FItemType = AValue; }
  // The line did not parse; Data still holds it.
  bool DirError() const { return FDirError; }
  void SetDirError(bool AValue) { FDirError = AValue; }
  const std::string& PermissionDisplay() const { return FPermissionDisplay; }
  void SetPermissionDisplay(std::string_view AValue) { FPermissionDisplay = AValue; }

private:
  int64_t FSize = 0;
  std::string FData;
  std::string FFileName;
  // Most local names equal the remote name: then only FFileName is stored.
  std::string FLocalFileName;
  bool FLocalIsFileName = false;
  bool FSizeAvail = true;
  bool FModifiedAvail = true;
  TDateTime FModifiedDate = 0;
  TDateTime FModifiedDateGMT = 0;
  TIdDirItemType FItemType = ditFile;
  bool FDirError = false;
  std::string FPermissionDisplay;
};

// The parsed listing; owns its items.
class TIdFTPListItems : public TObject {
public:
  std::string ClassName() const override { return "TIdFTPListItems"; }
  // Appends a new plain item.
  TIdFTPListItem& Add();
  // Appends AItem (of any item class) and returns it.
  TIdFTPListItem& Add(std::unique_ptr<TIdFTPListItem> AItem);
  int Count() const { return static_cast<int>(FItems.size()); }
  void Reserve(int ACount) { FItems.reserve(static_cast<size_t>(ACount)); }
  TIdFTPListItem& Items(int AIndex) { return *FItems.at(static_cast<size_t>(AIndex)); }
  const TIdFTPListItem& Items(int AIndex) const { return *FItems.at(static_cast<size_t>(AIndex)); }
  TIdFTPListItem& operator[](int AIndex) { return Items(AIndex); }
  // 0-based position of AItem, -1 when it is not in the collection.
  int IndexOf(const TIdFTPListItem* AItem) const;
  void Clear() { FItems.clear(); }
  const std::string& DirectoryName() const { return FDirectoryName; }
  // A name that differs ignoring case is stored and empties the collection.
  void SetDirectoryName(const std::string& AValue);

private:
  std::vector<std::unique_ptr<TIdFTPListItem>> FItems;
  std::string FDirectoryName;
};

// The DOS attribute bits of a Windows server's listing.
class TIdDOSAttributes : public TObject {
public:
  static constexpr uint32_t faReadOnly = 1;
  static constexpr uint32_t faHidden = 2;
  static constexpr uint32_t faSystem = 4;
  static constexpr uint32_t faDirectory = 16;
  static constexpr uint32_t faArchive = 32;
  static constexpr uint32_t faNormal = 128;

  std::string ClassName() const override { return "TIdDOSAttributes"; }
  uint32_t FileAttributes() const { return FFileAttributes; }
  void SetFileAttributes(uint32_t AValue) { FFileAttributes = AValue; }
  bool Read_Only() const { return Has(faReadOnly); }
  void SetRead_Only(bool AValue) { Set(faReadOnly, AValue); }
  bool Hidden() const { return Has(faHidden); }
  void SetHidden(bool AValue) { Set(faHidden, AValue); }
  bool System() const { return Has(faSystem); }
  void SetSystem(bool AValue) { Set(faSystem, AValue); }
  bool Directory() const { return Has(faDirectory); }
  void SetDirectory(bool AValue) { Set(faDirectory, AValue); }
  bool Archive() const { return Has(faArchive); }
  void SetArchive(bool AValue) { Set(faArchive, AValue); }
  bool Normal() const { return Has(faNormal); }
  void SetNormal(bool AValue) { Set(faNormal, AValue); }
  // Six characters: "A" at 1, "S" at 4, "H" at 5, "R" at 6, spaces elsewhere.
  virtual std::string AsString() const;
  // Reads "R", "W" (clears read-only), "A", "S", "H", skipping "-" and "D", ignoring case;
  // false at the first other character.
  bool AddAttribute(std::string_view AString);

protected:
  bool Has(uint32_t ABit) const { return (FFileAttributes & ABit) != 0; }
  void Set(uint32_t ABit, bool AValue) {
    FFileAttributes = AValue ? (FFileAttributes | ABit) : (FFileAttributes & ~ABit);
  }

private:
  uint32_t FFileAttributes = 0;
};

// The Win32 extended attribute bits (the MLSD fact win32.ea).
class TIdWin32ea : public TIdDOSAttributes {
public:
  static constexpr uint32_t faDevice = 64;
  static constexpr uint32_t faTemporary = 256;
  static constexpr uint32_t faSparseFile = 512;
  static constexpr uint32_t faReparsePoint = 1024;
  static constexpr uint32_t faCompressed = 2048;
  static constexpr uint32_t faOffline = 4096;
  static constexpr uint32_t faNotContextIndexed = 8192;
  static constexpr uint32_t faEncrypted = 16384;

  std::string ClassName() const override { return "TIdWin32ea"; }
  bool Device() const { return Has(faDevice); }
  void SetDevice(bool AValue) { Set(faDevice, AValue); }
  bool Temporary() const { return Has(faTemporary); }
  void SetTemporary(bool AValue) { Set(faTemporary, AValue); }
  bool SparseFile() const { return Has(faSparseFile); }
  void SetSparseFile(bool AValue) { Set(faSparseFile, AValue); }
  bool ReparsePoint() const { return Has(faReparsePoint); }
  void SetReparsePoint(bool AValue) { Set(faReparsePoint, AValue); }
  bool Compressed() const { return Has(faCompressed); }
  void SetCompressed(bool AValue) { Set(faCompressed, AValue); }
  bool Offline() const { return Has(faOffline); }
  void SetOffline(bool AValue) { Set(faOffline, AValue); }
  bool NotContextIndexed() const { return Has(faNotContextIndexed); }
  void SetNotContextIndexed(bool AValue) { Set(faNotContextIndexed, AValue); }
  bool Encrypted() const { return Has(faEncrypted); }
  void SetEncrypted(bool AValue) { Set(faEncrypted, AValue); }
  // Thirteen characters "RHSADENTJPCOI", each a space when its bit is clear.
  std::string AsString() const override;
};

class TIdCreationDateFTPListItem : public TIdFTPListItem {
public:
  std::string ClassName() const override { return "TIdCreationDateFTPListItem"; }
  TDateTime CreationDate() const { return FCreationDate; }
  void SetCreationDate(TDateTime AValue) { FCreationDate = AValue; }

private:
  TDateTime FCreationDate = 0;
};

// An entry of MLSD output or of an MLST reply, with the facts RFC 3659 section 7 defines.
class TIdMLSTFTPListItem : public TIdCreationDateFTPListItem {
public:
  std::string ClassName() const override { return "TIdMLSTFTPListItem"; }
  bool AttributesAvail() const { return FAttributesAvail; }
  void SetAttributesAvail(bool AValue) { FAttributesAvail = AValue; }
  TIdWin32ea& Attributes() { return FAttributes; }
  const TIdWin32ea& Attributes() const { return FAttributes; }
  TDateTime CreationDateGMT() const { return FCreationDateGMT; }
  void SetCreationDateGMT(TDateTime AValue) { FCreationDateGMT = AValue; }
  TDateTime LastAccessDate() const { return FLastAccessDate; }
  void SetLastAccessDate(TDateTime AValue) { FLastAccessDate = AValue; }
  TDateTime LastAccessDateGMT() const { return FLastAccessDateGMT; }
  void SetLastAccessDateGMT(TDateTime AValue) { FLastAccessDateGMT = AValue; }
  const std::string& UniqueID() const { return FUniqueID; }
  void SetUniqueID(std::string_view AValue) { FUniqueID = AValue; }
  const std::string& MLISTPermissions() const { return FMLISTPermissions; }
  void SetMLISTPermissions(std::string_view AValue) { FMLISTPermissions = AValue; }

private:
  bool FAttributesAvail = false;
  TIdWin32ea FAttributes; // owned
  TDateTime FCreationDateGMT = 0;
  TDateTime FLastAccessDate = 0;
  TDateTime FLastAccessDateGMT = 0;
  std::string FUniqueID;
  std::string FMLISTPermissions;
};

} // namespace ftpc
