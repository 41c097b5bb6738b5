#include "core/IdComponent.h"

#include <algorithm>

#include "base/IdResourceStrings.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

using TComponentList = std::vector<TIdInitializerComponent*>;

void EraseOne(TComponentList& VList, const TIdInitializerComponent* AItem) {
  const auto found = std::find(VList.begin(), VList.end(), AItem);
  if (found != VList.end()) {
    VList.erase(found);
  }
}

void EraseAll(TComponentList& VList, const TIdInitializerComponent* AItem) {
  VList.erase(std::remove(VList.begin(), VList.end(), AItem), VList.end());
}

} // namespace

// ---- TIdInitializerComponent ---------------------------------------------------------------

TIdInitializerComponent::TIdInitializerComponent(TIdInitializerComponent* AOwner) : FOwner(AOwner) {
  if (FOwner != nullptr) {
    FOwner->FComponents.push_back(this);
    FOwner->Notification(this, opInsert);
  }
}

// Everything that points at this component is told first, while the components it owns are
// still intact; then those are destroyed; then this one leaves the lists it is in.
TIdInitializerComponent::~TIdInitializerComponent() {
  FDestroying = true;
  LeaveOwner();
  NotifyWatchers();
  DestroyComponents();
  StopWatching();
}

TIdInitializerComponent* TIdInitializerComponent::Components(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= ComponentCount()) {
    return nullptr;
  }
  return FComponents[static_cast<size_t>(AIndex)];
}

void TIdInitializerComponent::FreeNotification(TIdInitializerComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this || FDestroying) {
    return;
  }
  FWatchers.push_back(AComponent);
  AComponent->FWatched.push_back(this);
}

void TIdInitializerComponent::RemoveFreeNotification(TIdInitializerComponent* AComponent) {
  if (AComponent == nullptr) {
    return;
  }
  const auto found = std::find(FWatchers.begin(), FWatchers.end(), AComponent);
  if (found != FWatchers.end()) {
    FWatchers.erase(found);
    EraseOne(AComponent->FWatched, this);
  }
}

void TIdInitializerComponent::Notification(TIdInitializerComponent* /*AComponent*/,
                                           TOperation /*AOperation*/) {}

void TIdInitializerComponent::LeaveOwner() {
  if (FOwner == nullptr) {
    return;
  }
  TIdInitializerComponent* owner = FOwner;
  FOwner = nullptr;
  EraseAll(owner->FComponents, this);
  if (!owner->FDestroying) {
    owner->Notification(this, opRemove);
  }
}

// Each watcher is taken off the list before it is told, so a watcher that reacts by
// withdrawing its request, or by destroying something, finds consistent lists.
void TIdInitializerComponent::NotifyWatchers() {
  while (!FWatchers.empty()) {
    TIdInitializerComponent* watcher = FWatchers.back();
    EraseAll(FWatchers, watcher);
    EraseAll(watcher->FWatched, this);
    watcher->Notification(this, opRemove);
  }
}

void TIdInitializerComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TIdInitializerComponent* component = FComponents.back();
    FComponents.pop_back();
    component->FOwner = nullptr;
    delete component; // NOLINT(cppcoreguidelines-owning-memory): owned through the owner list
  }
}

void TIdInitializerComponent::StopWatching() {
  while (!FWatched.empty()) {
    TIdInitializerComponent* watched = FWatched.back();
    EraseAll(FWatched, watched);
    EraseAll(watched->FWatchers, this);
  }
}

// ---- TIdBaseComponent --------------------------------------------------------------------

TIdBaseComponent::TIdBaseComponent(TIdInitializerComponent* AOwner)
    : TIdInitializerComponent(AOwner) {}

std::string TIdBaseComponent::Version() const {
  return "1.0.0";
}

// ---- TIdComponent ------------------------------------------------------------------------

std::string_view StatusText(TIdStatus AStatus) {
  switch (AStatus) {
  case hsResolving:
    return RSStatusResolving;
  case hsConnecting:
    return RSStatusConnecting;
  case hsConnected:
    return RSStatusConnected;
  case hsDisconnecting:
    return RSStatusDisconnecting;
  case hsDisconnected:
    return RSStatusDisconnected;
  case hsStatusText:
  case ftpTransfer:
  case ftpReady:
  case ftpAborted:
    break;
  }
  return RSStatusText;
}

// The socket stack exists as long as any component does.
TIdComponent::TIdComponent(TIdInitializerComponent* AOwner) : TIdBaseComponent(AOwner) {
  TIdStack::IncUsage();
}

TIdComponent::~TIdComponent() {
  TIdStack::DecUsage();
}

void TIdComponent::ReportStatus(TIdStatus AStatus) {
  ReportStatus(AStatus, {""});
}

void TIdComponent::ReportStatus(TIdStatus AStatus, std::initializer_list<TFormatArg> AArgs) {
  if (FOnStatus) {
    FOnStatus(this, AStatus, FormatInvariant(StatusText(AStatus), AArgs));
  }
}

void TIdComponent::BeginWork(TWorkMode AWorkMode, int64_t ASize) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->BeginWork(AWorkMode, ASize);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level++ == 0) {
    info.Max = ASize;
    info.Current = 0;
    if (FOnWorkBegin) {
      FOnWorkBegin(this, AWorkMode, ASize);
    }
  }
}

void TIdComponent::DoWork(TWorkMode AWorkMode, int64_t ACount) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->DoWork(AWorkMode, ACount);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level < 1) {
    return;
  }
  info.Current += ACount;
  if (FOnWork) {
    FOnWork(this, AWorkMode, info.Current);
  }
}

// An EndWork without a matching BeginWork is ignored: letting the level go below zero would
// swallow the begin event of the next pair.
void TIdComponent::EndWork(TWorkMode AWorkMode) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->EndWork(AWorkMode);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level < 1) {
    return;
  }
  if (--info.Level == 0 && FOnWorkEnd) {
    FOnWorkEnd(this, AWorkMode);
  }
}

void TIdComponent::SetWorkTarget(TIdComponent* AValue) {
  if (AValue == FWorkTarget) {
    return;
  }
  for (const TIdComponent* target = AValue; target != nullptr; target = target->FWorkTarget) {
    if (target == this) {
      throw EIdException(FormatInvariant(RSWorkTargetCircularLink, {ClassName()}));
    }
  }
  SetWatchedReference(FWorkTarget, AValue);
}

void TIdComponent::Notification(TIdInitializerComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FWorkTarget) {
    FWorkTarget = nullptr;
  }
  TIdBaseComponent::Notification(AComponent, AOperation);
}

} // namespace ftpc
