// Parsers for the LIST output real servers send: Unix "ls -l", the Windows/IIS DOS form and
// EPLF. They are not registered by default; RegisterCommonFTPListParsers adds all three.
// Every parser keeps a line it cannot read as an item with DirError set, FileName and Data
// holding the raw line.
#pragma once

#include <cstdint>
#include <string>

#include "ftp/IdFTPListParseBase.h"

namespace ftpc {

// Registers the Unix, DOS and EPLF parsers with the process-wide registry (once).
void RegisterCommonFTPListParsers();

// An "ls -l" entry with what the other formats lack: owner, group, link count, link target.
class TIdUnixFTPListItem : public TIdFTPListItem {
public:
  std::string ClassName() const override { return "TIdUnixFTPListItem"; }
  const std::string& OwnerName() const { return FOwnerName; }
  void SetOwnerName(std::string_view AValue) { FOwnerName = AValue; }
  const std::string& GroupName() const { return FGroupName; }
  void SetGroupName(std::string_view AValue) { FGroupName = AValue; }
  int64_t NumberOfLinks() const { return FNumberOfLinks; }
  void SetNumberOfLinks(int64_t AValue) { FNumberOfLinks = AValue; }
  // The target of a symbolic link ("name -> target"), empty for other entries.
  const std::string& LinkedItemName() const { return FLinkedItemName; }
  void SetLinkedItemName(std::string_view AValue) { FLinkedItemName = AValue; }

private:
  std::string FOwnerName;
  std::string FGroupName;
  int64_t FNumberOfLinks = 0;
  std::string FLinkedItemName;
};

// "drwxr-xr-x   2 owner group  4096 Jan  2 03:04 name" with or without the group column,
// "crw-rw-rw- 1 root root 1, 3 Jan 2 2024 null" for devices, a "total N" line ignored.
class TIdFTPLPUnix : public TIdFTPListBase {
public:
  static const TIdFTPLPUnix& Instance();
  TIdFTPListItem& CreateListItem(TIdFTPListItems& AOwner) const override;
  bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const override;
  std::string GetIdent() const override { return "Unix"; }
  bool CheckListing(const std::vector<std::string>& AListing, const std::string& ASysDescript,
                    bool ADetails) const override;

protected:
  // "total N", the block count ls prints first, is no entry.
  bool IsEntryLine(const std::string& ALine) const override;
};

// "01-02-24  03:04PM       <DIR>          docs", "01-02-2024  15:04   1234 a.txt".
class TIdFTPLPWindowsNT : public TIdFTPListBase {
public:
  static const TIdFTPLPWindowsNT& Instance();
  bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const override;
  std::string GetIdent() const override { return "Windows NT"; }
  bool CheckListing(const std::vector<std::string>& AListing, const std::string& ASysDescript,
                    bool ADetails) const override;
};

// Easily Parsed LIST Format: "+i8388621.48594,m825718503,r,s280,\tdjb.html".
class TIdFTPLPEPLF : public TIdFTPListBase {
public:
  static const TIdFTPLPEPLF& Instance();
  bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const override;
  std::string GetIdent() const override { return "EPLF"; }
  bool CheckListing(const std::vector<std::string>& AListing, const std::string& ASysDescript,
                    bool ADetails) const override;
};

} // namespace ftpc
