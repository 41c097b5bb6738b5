// --verbose: the control conversation on stderr, one line each way ("> " sent, "< " received),
// with the password masked. It watches the control connection through an intercept.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/IdIntercept.h"

namespace ftpc::cli {

// "PASS secret" becomes "PASS ****"; every other line stays as it is.
std::string MaskPassword(std::string_view ALine);

class Transcript {
public:
  Transcript();
  // The intercept to install on the control connection; it stays this object's.
  TIdConnectionIntercept& Intercept() { return *FIntercept; }

private:
  // Blocks arrive cut anywhere; lines are printed once complete.
  struct LineCollector {
    const char* Prefix;
    std::string Pending;
    void Add(const TBytes& ABlock);
  };

  std::unique_ptr<TIdConnectionIntercept> FIntercept;
  LineCollector FSent{"> ", {}};
  LineCollector FReceived{"< ", {}};
};

} // namespace ftpc::cli
