// The component base of every connection object: ownership and free notification, status
// events, and nestable work (progress) events that can be forwarded to another component.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/IdException.h"
#include "global/IdGlobal.h"

namespace ftpc {

using TNotifyEvent = std::function<void(TObject* ASender)>;

enum TOperation : uint8_t { opInsert, opRemove };

// The root of the component classes: an optional owner that destroys what it owns, and free
// notification, through which a component that keeps a non-owning pointer to another learns
// of that one's destruction and clears the pointer.
//
// A component created with an owner must be allocated with new; the owner deletes it. It may
// also be deleted earlier, which takes it out of its owner.
//
// Each class sets its own defaults in its own constructor: a virtual initialiser called from
// a base constructor would not reach the derived class.
class TIdInitializerComponent : public TObject {
public:
  explicit TIdInitializerComponent(TIdInitializerComponent* AOwner = nullptr);
  ~TIdInitializerComponent() override;
  TIdInitializerComponent(const TIdInitializerComponent&) = delete;
  TIdInitializerComponent& operator=(const TIdInitializerComponent&) = delete;

  std::string ClassName() const override { return "TIdInitializerComponent"; }

  TIdInitializerComponent* Owner() const { return FOwner; }
  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  TIdInitializerComponent* Components(int32_t AIndex) const;
  // True once destruction has begun.
  bool Destroying() const { return FDestroying; }

  // AComponent will receive Notification(this, opRemove) when this component is destroyed.
  // Requests are counted: each one is withdrawn by one RemoveFreeNotification, so two
  // references to the same component can be watched and released independently.
  void FreeNotification(TIdInitializerComponent* AComponent);
  void RemoveFreeNotification(TIdInitializerComponent* AComponent);

protected:
  // Told when a watched component is destroyed (opRemove) and when a component is added to
  // or removed from the ones this one owns. Overrides clear their references to AComponent,
  // call the inherited version, and must not throw. During destruction the call reaches the
  // class whose destructor is running, never a derived class that is already gone.
  virtual void Notification(TIdInitializerComponent* AComponent, TOperation AOperation);

  // Points VField at AValue, moving this component's free notification from the old
  // reference to the new one, so the field is cleared if the referenced component goes.
  template <typename T> void SetWatchedReference(T*& VField, T* AValue) {
    if (VField != nullptr) {
      VField->RemoveFreeNotification(this);
    }
    VField = AValue;
    if (VField != nullptr) {
      VField->FreeNotification(this);
    }
  }

private:
  TIdInitializerComponent* FOwner;
  std::vector<TIdInitializerComponent*> FComponents; // owned
  std::vector<TIdInitializerComponent*> FWatchers;   // told when this one goes
  std::vector<TIdInitializerComponent*> FWatched;    // this one is among their watchers
  bool FDestroying = false;

  void NotifyWatchers();
  void DestroyComponents();
  void StopWatching();
  void LeaveOwner();
};

// Adds the library's version text.
class TIdBaseComponent : public TIdInitializerComponent {
public:
  explicit TIdBaseComponent(TIdInitializerComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TIdBaseComponent"; }
  std::string Version() const;
};

enum TIdStatus : uint8_t {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

enum TWorkMode : uint8_t { wmRead, wmWrite };

using TIdStatusEvent =
    std::function<void(TObject* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TObject* ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode)>;

// The message text of a status, with %s where its argument goes.
std::string_view StatusText(TIdStatus AStatus);

// Base of every connection object. Its existence keeps the socket stack alive.
//
// Work events nest: only the outermost BeginWork/EndWork pair of a mode fires OnWorkBegin and
// OnWorkEnd, and OnWork reports the count accumulated since that outer begin. Progress
// outside any pair is not reported. With a WorkTarget, every work call goes to the target
// instead and this component's own work handlers stay silent.
class TIdComponent : public TIdBaseComponent {
public:
  explicit TIdComponent(TIdInitializerComponent* AOwner = nullptr);
  ~TIdComponent() override;
  std::string ClassName() const override { return "TIdComponent"; }

  // When OnStatus is set, formats the status text with AArgs (one empty text when none are
  // given) and calls it; without a handler nothing is formatted.
  void ReportStatus(TIdStatus AStatus);
  void ReportStatus(TIdStatus AStatus, std::initializer_list<TFormatArg> AArgs);

  virtual void BeginWork(TWorkMode AWorkMode, int64_t ASize = 0);
  virtual void DoWork(TWorkMode AWorkMode, int64_t ACount);
  virtual void EndWork(TWorkMode AWorkMode);

  const TIdStatusEvent& OnStatus() const { return FOnStatus; }
  void SetOnStatus(TIdStatusEvent AValue) { FOnStatus = std::move(AValue); }
  const TWorkEvent& OnWork() const { return FOnWork; }
  void SetOnWork(TWorkEvent AValue) { FOnWork = std::move(AValue); }
  const TWorkBeginEvent& OnWorkBegin() const { return FOnWorkBegin; }
  void SetOnWorkBegin(TWorkBeginEvent AValue) { FOnWorkBegin = std::move(AValue); }
  const TWorkEndEvent& OnWorkEnd() const { return FOnWorkEnd; }
  void SetOnWorkEnd(TWorkEndEvent AValue) { FOnWorkEnd = std::move(AValue); }

  TIdComponent* WorkTarget() const { return FWorkTarget; }
  // Watches the target for destruction. A target whose own chain of targets leads back here
  // raises EIdException: forwarding would never end.
  void SetWorkTarget(TIdComponent* AValue);

protected:
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

private:
  struct TWorkInfo {
    int64_t Current = 0;
    int64_t Max = 0;
    int32_t Level = 0;
  };

  TIdStatusEvent FOnStatus;
  TWorkEvent FOnWork;
  TWorkBeginEvent FOnWorkBegin;
  TWorkEndEvent FOnWorkEnd;
  TWorkInfo FWorkInfos[2]; // indexed by TWorkMode
  TIdComponent* FWorkTarget = nullptr;
};

} // namespace ftpc
