#include "examples/cli/Listing.h"

#include <cstdio>
#include <mutex>

#include "examples/cli/Session.h"
#include "ftp/IdFTPListParseCommon.h"
#include "global/IdGlobalProtocols.h"

namespace ftpc::cli {

namespace {

char TypeLetter(TIdDirItemType AType) {
  switch (AType) {
  case ditDirectory:
    return 'd';
  case ditFile:
    return '-';
  case ditSymbolicLink:
  case ditSymbolicLinkDir:
    return 'l';
  default:
    return '?';
  }
}

// MLSD gives UTC; a LIST line gives the server's clock, the only time there is.
std::string TimeText(const TIdFTPListItem& AItem) {
  if (!AItem.ModifiedAvail()) {
    return "-";
  }
  const TDateTime moment =
      AItem.ModifiedDateGMT() != 0 ? AItem.ModifiedDateGMT() : AItem.ModifiedDate();
  if (moment == 0) {
    return "-";
  }
  const TIdDateTimeParts t = DecodeDateTime(moment);
  char text[64]; // room for any 16-bit field the format could be handed
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", unsigned{t.Year},
                unsigned{t.Month}, unsigned{t.Day}, unsigned{t.Hour}, unsigned{t.Minute},
                unsigned{t.Second});
  return text;
}

bool IsDotEntry(const std::string& AName) {
  return AName == "." || AName == "..";
}

} // namespace

std::string LongListingLine(const TIdFTPListItem& AItem) {
  std::string line(1, TypeLetter(AItem.ItemType()));
  line += ' ';
  line += AItem.SizeAvail() ? std::to_string(AItem.Size()) : "-";
  line += ' ' + TimeText(AItem) + ' ' + AItem.FileName();
  const auto* unixItem = dynamic_cast<const TIdUnixFTPListItem*>(&AItem);
  if (unixItem != nullptr && !unixItem->LinkedItemName().empty()) {
    line += " -> " + unixItem->LinkedItemName();
  }
  return line;
}

void RunList(const Invocation& AInvocation) {
  static std::once_flag parsersRegistered;
  std::call_once(parsersRegistered, RegisterCommonFTPListParsers);
  Session session(AInvocation);
  session.Open();
  TIdFTP& ftp = session.Ftp();
  ftp.List(nullptr, AInvocation.Url.FileName(), true);
  const TIdFTPListItems& items = *ftp.DirectoryListing();
  for (int i = 0; i < items.Count(); ++i) {
    const TIdFTPListItem& item = items.Items(i);
    if (IsDotEntry(item.FileName())) {
      continue;
    }
    const std::string line =
        AInvocation.Opts.LongListing ? LongListingLine(item) : item.FileName();
    std::fputs((line + '\n').c_str(), stdout);
  }
  session.Close();
}

} // namespace ftpc::cli
